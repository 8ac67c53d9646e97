#include "broker/e2e_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "broker/named_mutexes.h"
#include "clientif/brokerlock.h"

extern char** environ;

namespace velmora::test {

std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    return std::filesystem::path(path).parent_path().string();
}

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& outputPath) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int WaitForExit(pid_t pid, uint32_t boundMs) {
    const uint32_t begin = Tick();
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return static_cast<int8_t>(WEXITSTATUS(status));
            return -2000 - (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (r < 0 || TickSince(begin) > boundMs) return -1000;
        SleepMs(5);
    }
}

std::vector<pid_t> BrokerProcesses(const std::string& name) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream in("/proc/" + std::string(entry->d_name) + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> words;
        std::stringstream split(cmdline);
        for (std::string w; std::getline(split, w, '\0');) words.push_back(w);
        if (words.size() >= 2 && words[0].ends_with("ZTBROKER.DLL") && words[1] == name) {
            // A zombie that is not reaped yet no longer serves.
            std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)),
                             std::istreambuf_iterator<char>());
            const size_t close = text.rfind(')');
            if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z')
                continue;
            found.push_back(pid);
        }
    }
    closedir(proc);
    return found;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void BrokerEndToEnd::BrokerSettingsForTest(const std::string& settings) {
    setenv("ZTBROKER_TEST_SETTINGS", settings.c_str(), 1);
}

void BrokerEndToEnd::SetUp() {
    char dir[] = "/tmp/velmora-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    runtimeDir_ = dir;
    setenv("ZTVL_ROOT", dir, 1);
    unsetenv("DISPLAY");  // the broker must not need one
    // The broker ends an exit quickly in tests.
    BrokerSettingsForTest("shutdownSettleMs=100");
    static int serial = 0;
    name_ = "e2e" + std::to_string(getpid()) + "_" + std::to_string(++serial);
    ZtifResetForTesting();
    ZtifSettings s = ZtifGetSettings();
    s.stopLimitMs = 15000;
    ZtifSetSettings(s);
}

void BrokerEndToEnd::TearDown() {
    ZtifStopBroker(Name());
    for (pid_t pid : BrokerProcesses(name_)) kill(pid, SIGKILL);
    for (pid_t pid : children_) {
        kill(pid, SIGKILL);
        (void)WaitForExit(pid, 5000);
    }
    ZtifResetForTesting();
    BrokerLock::RemoveSharedObjects(name_);
    RemoveNamedMutexes(name_);
    std::error_code ignored;
    std::filesystem::remove_all(runtimeDir_, ignored);
    unsetenv("ZTBROKER_TEST_SETTINGS");
    unsetenv("ZTVL_ROOT");
}

::testing::AssertionResult BrokerEndToEnd::EchoOnce(ZTIF_CONNECTION* c,
                                                    const std::vector<uint8_t>& m) {
    const auto n = static_cast<int32_t>(m.size());
    const int32_t sent = ZtifSend(c, m.data(), n, 0, 20000);
    if (sent != n)
        return ::testing::AssertionFailure()
               << "sent " << sent << " of " << n << ", error " << ZtifConnectionError(c);
    std::vector<uint8_t> got(m.size() + 1);
    const int32_t r = ZtifReceive(c, got.data(), static_cast<int32_t>(got.size()), 30000);
    if (r != n)
        return ::testing::AssertionFailure()
               << "received " << r << " of " << n << ", error " << ZtifConnectionError(c);
    if (std::memcmp(got.data(), m.data(), m.size()) != 0)
        return ::testing::AssertionFailure() << "the echo of " << n << " bytes differs";
    return ::testing::AssertionSuccess();
}

}  // namespace velmora::test

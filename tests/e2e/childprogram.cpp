#include "e2e/childprogram.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/tick.h"

namespace velmora::e2e {

bool ChildProgram::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         const std::string& directory, const std::string& outputFile,
                         std::string* error) {
    Stop();
    if (argv.empty()) {
        *error = "no program";
        return false;
    }
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        *error = "cannot open " + outputFile + ": " + std::strerror(errno);
        return false;
    }
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls are allowed (the parent has threads).
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* equals = std::strchr(*e, '=');
        bool replaced = false;
        for (const std::string& mine : environment) {
            replaced |= equals != nullptr && mine.compare(0, size_t(equals - *e) + 1, *e,
                                                          size_t(equals - *e) + 1) == 0;
        }
        if (!replaced) envp.push_back(*e);
    }
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        close(out);
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out);
    pid_ = pid;
    status_ = -1;
    return true;
}

bool ChildProgram::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    if (r == pid_) status_ = status;
    pid_ = 0;
    return false;
}

int ChildProgram::Stop(uint32_t graceMs) {
    if (!Running()) return status_;
    kill(pid_, SIGTERM);
    const uint32_t start = Tick();
    while (Running()) {
        if (TickSince(start) >= graceMs) {
            Kill();
            break;
        }
        SleepMs(5);
    }
    return status_;
}

void ChildProgram::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) status_ = status;
    pid_ = 0;
}

std::string BuildProgram(const std::string& name) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) return name;
    self[n] = '\0';
    return (std::filesystem::path(self).parent_path() / name).string();
}

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitForText(const std::string& file, const std::string& text, uint32_t limitMs) {
    const uint32_t start = Tick();
    while (ReadText(file).find(text) == std::string::npos) {
        if (TickSince(start) >= limitMs) return false;
        SleepMs(20);
    }
    return true;
}

uint16_t FreeUdpPortPair() {
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 200; ++attempt) {
        const uint16_t port = static_cast<uint16_t>(20000 + random() % 40000);
        bool free = true;
        int fds[2] = {-1, -1};
        for (int k = 0; k < 2 && free; ++k) {
            fds[k] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(port + k));
            free = fds[k] >= 0 &&
                   bind(fds[k], reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        }
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
        if (free) return port;
    }
    return 0;
}

}  // namespace velmora::e2e

#include "server/screen/sourceprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "mirror/ztvlshare.h"
#include "platform/tick.h"

extern char** environ;

namespace velmora {
namespace {

// The descriptor number the control socket gets in the child.
constexpr int kChildControlFd = 3;

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Reads the child's ready line: true when it is the description.
bool ReadReadyLine(int fd, uint32_t readyMs, std::string* error) {
    std::string line;
    const uint32_t begin = Tick();
    while (line.find('\n') == std::string::npos) {
        const uint32_t spent = TickSince(begin);
        if (spent >= readyMs) {
            *error =
                "the screen source did not report ready within " + std::to_string(readyMs) + " ms";
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, static_cast<int>(readyMs - spent));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) continue;
        char buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "the screen source ended before it was ready";
            return false;
        }
        line.append(buffer, static_cast<size_t>(n));
        if (line.size() > 256) break;
    }
    if (line != std::string(kZtvlDescription) + "\n") {
        *error = "the program is not a screen source (it did not describe itself as \"" +
                 std::string(kZtvlDescription) + "\")";
        return false;
    }
    return true;
}

}  // namespace

SourceProcess::~SourceProcess() {
    (void)Stop(3000);
}

std::string SourceProcess::Find(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string folder(self, static_cast<size_t>(n));
        folder.resize(folder.rfind('/') + 1);
        if (IsExecutableFile(folder + name)) return folder + name;
    }
    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
    size_t begin = 0;
    while (begin < path.size()) {
        size_t colon = path.find(':', begin);
        if (colon == std::string::npos) colon = path.size();
        // An empty entry is the current folder.
        const std::string folder =
            colon > begin ? path.substr(begin, colon - begin) : std::string(".");
        if (IsExecutableFile(folder + "/" + name)) return folder + "/" + name;
        begin = colon + 1;
    }
    return {};
}

int SourceProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         uint32_t readyMs, std::string* error) {
    (void)Stop(3000);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return kFailed;
    }
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    args.push_back("--control-fd");
    args.push_back(std::to_string(kChildControlFd));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto a fixed number clears close-on-exec on the child's copy only.
    posix_spawn_file_actions_adddup2(&actions, pair[1], kChildControlFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with no blocked signals and default dispositions, so
    // SIGTERM stops it whatever this thread has blocked or ignored.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pair[1]);
    if (rc != 0) {
        close(pair[0]);
        *error = program + ": " + std::strerror(rc);
        return kFailed;
    }
    pid_ = pid;
    control_ = pair[0];
    if (!ReadReadyLine(control_, readyMs, error)) {
        (void)Stop(3000);
        return kFailed;
    }
    return kStarted;
}

bool SourceProcess::Reap(bool block) {
    if (pid_ == 0) return true;
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return false;  // still running
    // rc < 0 (ECHILD): someone else reaped it, or children are ignored.
    lastStatus_ = rc == pid_ ? status : 0;
    pid_ = 0;
    CloseControl();
    return true;
}

bool SourceProcess::Alive() {
    return pid_ != 0 && !Reap(false);
}

void SourceProcess::CloseControl() {
    if (control_ >= 0) close(control_);
    control_ = -1;
}

int SourceProcess::Stop(uint32_t waitMs) {
    if (pid_ == 0) return kNothing;
    if (Reap(false)) return kStopped;
    kill(pid_, SIGTERM);
    const uint32_t begin = Tick();
    while (TickSince(begin) < waitMs) {
        if (Reap(false)) return kStopped;
        SleepMs(2);
    }
    kill(pid_, SIGKILL);
    Reap(true);
    return kKilled;
}

}  // namespace velmora

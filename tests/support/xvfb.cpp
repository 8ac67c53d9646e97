#include "support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tick.h"

extern char** environ;

namespace velmora {
namespace {

// Waits at most limitMs for a child to end; kills it after that. Its exit
// status, or -1 when it was killed.
int WaitOrKill(pid_t pid, uint32_t limitMs) {
    const uint32_t begin = Tick();
    int status = 0;
    for (;;) {
        const pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (rc < 0 && errno != EINTR) return -1;
        if (TickSince(begin) >= limitMs) break;
        SleepMs(5);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

void Terminate(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    WaitOrKill(pid, 3000);
    pid = 0;
}

}  // namespace

PrivateXServer::~PrivateXServer() {
    Stop();
}

pid_t PrivateXServer::Launch(const std::vector<std::string>& argv) const {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    }
    if (!display_.empty()) env.push_back("DISPLAY=" + display_);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the parent died before the signal was armed
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
}

bool PrivateXServer::Start(int width, int height, bool windowManager, std::string* error) {
    Stop();
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    server_ = Launch({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0", screen,
                      "-nolisten", "tcp", "-noreset"});  // it inherits the pipe's write end
    close(pipeFds[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    const uint32_t begin = Tick();
    while (number.find('\n') == std::string::npos && TickSince(begin) < 15000) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[32];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    if (server_ < 0 || number.empty() || number.find('\n') == std::string::npos) {
        *error = "Xvfb did not start (is it installed? tools/setup installs it)";
        Stop();
        return false;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    if (!windowManager) return true;
    // openbox runs its start-up command once it manages the screen; a window
    // mapped before that would stay unmanaged.
    char marker[] = "/tmp/velmora-openbox-XXXXXX";
    const int markerFd = mkstemp(marker);
    if (markerFd >= 0) close(markerFd);
    unlink(marker);
    manager_ = Launch({"openbox", "--sm-disable", "--startup", std::string("touch ") + marker});
    const bool ready = manager_ > 0 && WaitForFile(marker, 15000);
    unlink(marker);
    if (!ready) {
        *error = "openbox did not take over the screen " + display_;
        Stop();
        return false;
    }
    return true;
}

bool PrivateXServer::WaitForFile(const char* path, uint32_t limitMs) {
    const uint32_t begin = Tick();
    while (TickSince(begin) < limitMs) {
        if (access(path, F_OK) == 0) return true;
        int status = 0;
        if (waitpid(manager_, &status, WNOHANG) == manager_) {
            manager_ = 0;
            return false;
        }
        SleepMs(10);
    }
    return false;
}

int PrivateXServer::Run(const std::vector<std::string>& argv, uint32_t limitMs) const {
    const pid_t pid = Launch(argv);
    return pid < 0 ? -1 : WaitOrKill(pid, limitMs);
}

void PrivateXServer::Stop() {
    Terminate(manager_);
    Terminate(server_);
    display_.clear();
}

}  // namespace velmora

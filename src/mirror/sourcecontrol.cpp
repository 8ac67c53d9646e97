#include "mirror/sourcecontrol.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mirror/ztvlshare.h"

namespace velmora {

SourceControl::~SourceControl() {
    if (signalFd_ >= 0) close(signalFd_);
    if (controlFd_ >= 0) close(controlFd_);
}

bool SourceControl::Open(int controlFd, std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        *error = "cannot block the stop signals";
        return false;
    }
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) {
        *error = std::string("signalfd: ") + std::strerror(errno);
        return false;
    }
    // A server that vanishes must not leave us writing into a closed pipe.
    signal(SIGPIPE, SIG_IGN);
    controlFd_ = controlFd;
    return true;
}

void SourceControl::ReportReady() {
    if (controlFd_ < 0) return;
    const std::string line = std::string(kZtvlDescription) + "\n";
    const ssize_t n = write(controlFd_, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size())) stopped_ = true;  // nobody is listening
}

int SourceControl::Wait(int fd, int timeoutMs) {
    if (stopped_) return kStop;
    pollfd fds[3] = {{signalFd_, POLLIN, 0}, {controlFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    int rc;
    do {
        rc = poll(fds, 3, timeoutMs);  // negative descriptors are skipped
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return kTimeout;
    if (fds[0].revents != 0) {
        signalfd_siginfo info;
        while (read(signalFd_, &info, sizeof info) == sizeof info) {
        }
        stopped_ = true;
        return kStop;
    }
    if (fds[1].revents != 0) {
        // The server never writes: input is only ever its end closing.
        char buffer[64];
        const ssize_t n = read(controlFd_, buffer, sizeof buffer);
        if (n <= 0 || (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
            stopped_ = true;
            return kStop;
        }
    }
    if (fds[2].revents != 0) return kReadable;
    return kTimeout;
}

}  // namespace velmora

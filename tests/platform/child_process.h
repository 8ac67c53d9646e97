// Test helpers for work split across processes: a forked child that runs one
// function, and one-way signals between the two sides.
//
// The child runs the function and leaves with _exit(its answer), so nothing of
// the test framework runs twice. Test programs run each case in a process of
// its own with no other threads, which keeps fork() safe.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace velmora::test {

// A signal from one process to the other: Post() on one side, Await() on the
// other. Made before the fork so that both sides hold it.
class ProcessSignal {
  public:
    ProcessSignal() {
        if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~ProcessSignal() {
        for (int fd : fds_) {
            if (fd >= 0) close(fd);
        }
    }
    ProcessSignal(const ProcessSignal&) = delete;
    ProcessSignal& operator=(const ProcessSignal&) = delete;

    void Post() {
        const char byte = 1;
        (void)!write(fds_[1], &byte, 1);
    }
    // False when nothing came within limitMs (a generous bound against hangs).
    bool Await(int limitMs = 10000) {
        pollfd p{fds_[0], POLLIN, 0};
        char byte;
        return poll(&p, 1, limitMs) == 1 && read(fds_[0], &byte, 1) == 1;
    }

  private:
    int fds_[2];
};

class ChildProcess {
  public:
    explicit ChildProcess(const std::function<int()>& body) {
        pid_ = fork();
        if (pid_ == 0) _exit(body());
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            (void)Wait();
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The child's exit code, 128 + signal when a signal ended it, -1 when
    // there is no child.
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        pid_t done;
        do {
            done = waitpid(pid_, &status, 0);
        } while (done < 0 && errno == EINTR);
        pid_ = -1;
        if (done < 0) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace velmora::test

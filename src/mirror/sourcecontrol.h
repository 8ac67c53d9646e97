// What tells the screen source to stop, and how it tells the server it is
// ready: SIGTERM, SIGINT and SIGHUP arrive through a signalfd; the control
// socket that the server passes (--control-fd) gets the description line once
// the shared files are ready and reports the server's end going away, which
// stops the source too (a server that died leaves no source behind).
//
// Not thread-safe: the source loop owns it.
#pragma once

#include <string>

namespace velmora {

class SourceControl {
  public:
    static constexpr int kStop = 0;      // a stop signal, or the server went away
    static constexpr int kTimeout = 1;   // the wait ran out
    static constexpr int kReadable = 2;  // the caller's descriptor has input

    SourceControl() = default;
    ~SourceControl();
    SourceControl(const SourceControl&) = delete;
    SourceControl& operator=(const SourceControl&) = delete;

    // Blocks the stop signals for this thread and opens the signalfd;
    // controlFd may be -1. False with a sentence in `error` on failure.
    bool Open(int controlFd, std::string* error);
    // Writes the description line to the control socket (when there is one).
    void ReportReady();
    // Waits at most timeoutMs (-1: no limit) for a stop or for `fd` (-1:
    // none) to become readable.
    int Wait(int fd, int timeoutMs);
    bool Stopped() const { return stopped_; }

  private:
    int signalFd_ = -1;
    int controlFd_ = -1;
    bool stopped_ = false;
};

}  // namespace velmora

// The screen source as a child process of the server: found next to the
// running program, then on PATH; started with posix_spawn; known to be ready
// when it writes its description line on the control socket; stopped with
// SIGTERM and reaped, so no zombie is left.
//
// The control socket also ties the source's life to ours: the source stops
// when our end closes, which happens when we stop it or when this process
// dies in any way.
//
// Not thread-safe: the capture thread owns it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class SourceProcess {
  public:
    static constexpr int kStarted = 1;
    static constexpr int kNotFound = -1;  // no such program next to us or on PATH
    static constexpr int kFailed = -10;   // found, but it did not come up

    static constexpr int kStopped = 1;  // it ended on SIGTERM (or had ended already)
    static constexpr int kNothing = 0;  // no source was running
    static constexpr int kKilled = -1;  // it ignored SIGTERM within the limit and was killed

    SourceProcess() = default;
    ~SourceProcess();
    SourceProcess(const SourceProcess&) = delete;
    SourceProcess& operator=(const SourceProcess&) = delete;

    // The program `name` in the folder of /proc/self/exe, else the first on
    // PATH; empty when there is none. A name holding a slash is taken as a
    // path.
    static std::string Find(const std::string& name);

    // Starts `program` with `arguments` and "--control-fd N", and waits at
    // most readyMs for it to say it is ready. kStarted, or kFailed with a
    // sentence in `error` (the child is then stopped and reaped).
    [[nodiscard]] int Start(const std::string& program, const std::vector<std::string>& arguments,
                            uint32_t readyMs, std::string* error);

    // True while the child runs; a child that ended is reaped here.
    bool Alive();
    pid_t Pid() const { return pid_; }
    // The wait status of the last child that ended (as waitpid gives it).
    int LastStatus() const { return lastStatus_; }

    // SIGTERM, then wait at most waitMs for the child to end (it is killed
    // after that) and reap it.
    int Stop(uint32_t waitMs);

  private:
    bool Reap(bool block);
    void CloseControl();

    pid_t pid_ = 0;
    int control_ = -1;  // our end of the control socket
    int lastStatus_ = 0;
};

}  // namespace velmora

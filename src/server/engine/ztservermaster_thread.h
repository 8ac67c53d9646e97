// The one application thread of an engine in mode emMasterThread. The
// application may construct its own in OnCreateMasterThread; otherwise Start
// creates a plain one. Start starts it; Shutdown stops it (waiting without a
// time limit, so Execute must return once StopRequested() turns true) and
// destroys it.
//
// HostAdded, HostRemoved and FrameReady run on the engine's threads (router,
// releasing thread, host managers), not on this thread: implementations must
// be thread-safe. The engine calls them guarded.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ztudp.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;

class ZTSERVERMASTER_THREAD : public ZTTHREAD {
  public:
    ZTSERVERMASTER_THREAD();
    ~ZTSERVERMASTER_THREAD() override;

    virtual void ThreadStart() {}
    // Runs on the stopping thread after the thread has left.
    virtual void ThreadFinish() {}
    // Host managers, each pass while data waits for the host.
    virtual void FrameReady(ZTHOSTLIST& /*host*/) {}
    // The base sleeps in 100 ms steps until asked to stop.
    virtual void Execute();
    // Router, when a record is taken.
    virtual void HostAdded(ZTHOSTLIST& /*host*/) {}
    // The thread releasing a record.
    virtual void HostRemoved(ZTHOSTLIST& /*host*/) {}

    ZTSERVER* Engine() const { return engine_.load(); }
    bool Finished() const { return finished_.load(); }

  protected:
    ZTUDP udp;

  private:
    friend class ZTSERVER;

    static uint32_t Proc(void* parameter);

    std::atomic<ZTSERVER*> engine_{nullptr};
    std::atomic<bool> finished_{false};
};

}  // namespace velmora

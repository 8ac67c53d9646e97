// The base of every connection's application thread in mode emClientThread
// (the server program's viewer session, the memory-block service thread).
// The application constructs one inside OnCreateClientThread; the engine
// attaches it to its record, creates it suspended when the record is taken,
// resumes it when the connection completes and destroys it when the record
// is released. Subclasses override Execute, and may override ThreadStart and
// ThreadFinish; Execute should return soon after StopRequested() turns true.
//
// Stopping is cooperative and bounded: the releasing thread asks for the stop
// and waits up to clientStopLimitMs. A thread still running then is flagged
// as orphaned and left to end on its own; its record stays out of use (not
// free, invisible to FindHost, its lists untouched) until the thread has
// left, and only then are the record released and the object destroyed.
// Nothing is ever killed, so no lock is left taken.
//
// The flags are atomics read by the engine's threads; the thread itself
// touches its record only through the engine's Host* operations.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ztudp.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;

class ZTSERVERCLIENT_THREAD : public ZTTHREAD {
  public:
    ZTSERVERCLIENT_THREAD();
    // The engine destroys the object only after its thread has left.
    ~ZTSERVERCLIENT_THREAD() override;

    // Runs on the new thread before Execute.
    virtual void ThreadStart() {}
    // Runs on the releasing thread after the thread has left, before the
    // object is destroyed.
    virtual void ThreadFinish() {}
    // The connection's work. The base sleeps in 100 ms steps until asked to
    // stop. Returning while the connection is up ends it: the engine sends
    // ccDisconnect with reason -1.
    virtual void Execute();

    ZTHOSTLIST* Host() const { return host_.load(); }
    ZTSERVER* Engine() const { return engine_.load(); }
    // True once the thread procedure has run to its end.
    bool Finished() const { return finished_.load(); }
    // True when a release gave up waiting for the thread.
    bool Orphaned() const { return orphaned_.load(); }

  protected:
    ZTUDP udp;

  private:
    friend class ZTSERVER;

    void Attach(ZTSERVER& engine, ZTHOSTLIST& host);
    static uint32_t Proc(void* parameter);

    std::atomic<ZTHOSTLIST*> host_{nullptr};
    std::atomic<ZTSERVER*> engine_{nullptr};
    std::atomic<bool> finished_{false};
    std::atomic<bool> orphaned_{false};
};

}  // namespace velmora

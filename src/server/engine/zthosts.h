// A host-manager thread: serves up to `capacity` records of the host table.
// Each pass, for each record: hands received frames on and acknowledges
// them, handles one control message, transmits and retransmits queued frames,
// applies acknowledgements, throttles the peer when the server falls behind,
// closes the rate windows, and probes a silent peer with a ZTHOSTLIFECHECK.
// Records marked for dropping are released at the start of the walk.
//
// Managers are created by the router when no manager has room and live until
// Shutdown, serving records as they come and go.
//
// Lock: lock_ guards hosts_, leaving_ and lifeChecks_; a pass holds it for
// the whole walk. Order: lock_, then a record's sender lock and lists' locks,
// then the engine's table lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "platform/ztcritical_section.h"
#include "platform/ztthread.h"
#include "server/engine/waitsignal.h"
#include "transport/ztudp.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;
class ZTHOSTLIFECHECK;
struct ZTPACKET;

class ZTHOSTS : public ZTTHREAD {
  public:
    ZTHOSTS(ZTSERVER& engine, int32_t capacity);
    ~ZTHOSTS() override;
    ZTHOSTS(const ZTHOSTS&) = delete;
    ZTHOSTS& operator=(const ZTHOSTS&) = delete;

    // Appends a record to the list (the router, after take).
    void Add(ZTHOSTLIST& host);
    uint32_t Count() const { return count_.load(); }
    int32_t Capacity() const { return capacity_; }

    // One walk over the records, at tick now. The thread runs it in a loop;
    // tests whose engine starts no manager threads call it themselves.
    void Pass(uint32_t now);

    // Ends the thread pass loop sooner (new work arrived).
    void Wake() { wake_.Raise(); }

    // Stops the thread and its life checks, then empties the list; the
    // records are left as they are.
    void Stop();

  private:
    static uint32_t Proc(void* parameter);
    void Serve(ZTHOSTLIST& host, uint32_t now);
    void DeliverFrames(ZTHOSTLIST& host);
    void HandleControl(ZTHOSTLIST& host, const ZTPACKET& packet);
    void FlowAndRates(ZTHOSTLIST& host, uint32_t now);
    void LifeCheck(ZTHOSTLIST& host, uint32_t now);
    bool ProbeRunning(const ZTHOSTLIST& host) const;
    void Reap();

    ZTSERVER& engine_;
    const int32_t capacity_;
    ZTUDP udp_;
    ZTCRITICAL_SECTION lock_;
    std::list<ZTHOSTLIST*> hosts_;  // not owned
    // Released records whose application thread has not left yet.
    std::vector<ZTHOSTLIST*> leaving_;
    std::vector<std::unique_ptr<ZTHOSTLIFECHECK>> lifeChecks_;
    std::atomic<uint32_t> count_{0};
    WaitSignal wake_;
};

}  // namespace velmora

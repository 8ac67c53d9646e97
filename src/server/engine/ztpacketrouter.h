// The router thread: takes each entry of the receive queue, finds the
// connection it belongs to and hands the packet to the right in-list,
// answering with the acknowledgement the in-list gives. It is the only thread
// that takes records: a connect request takes one (creating a host manager
// when none has room); packets of no connection are refused with ccRefused.
//
// Only the router's own thread (or a test driving Route) touches its state;
// lookupTimeUs is atomic for readers elsewhere.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ztthread.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;
class ZTFLATQUEUE;
struct PACKETRECEIVED;
struct ZTPACKET;

class ZTPACKETROUTER : public ZTTHREAD {
  public:
    ZTPACKETROUTER(ZTFLATQUEUE& queue, ZTSERVER& engine);
    ~ZTPACKETROUTER() override;

    // Handles one received entry, as the loop does for each entry it pops.
    void Route(const PACKETRECEIVED& entry);

    // Microseconds the last FindHost took.
    uint32_t LookupTimeUs() const { return lookupTimeUs_.load(); }

  private:
    static uint32_t Proc(void* parameter);
    void RouteControl(const PACKETRECEIVED& entry, ZTHOSTLIST* host);
    void RouteConnect(const PACKETRECEIVED& entry, ZTHOSTLIST* host, int32_t connectionType);
    void RouteData(const PACKETRECEIVED& entry, ZTHOSTLIST* host);
    void AddControl(ZTHOSTLIST& host, const ZTPACKET& packet);

    ZTFLATQUEUE& queue_;
    ZTSERVER& engine_;
    std::atomic<uint32_t> lookupTimeUs_{0};
};

}  // namespace velmora

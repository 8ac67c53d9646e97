// The server life check, run every lifeCheckIntervalMs on a thread of its
// own so that its waits (an echo check of up to 1.5 s, then a control
// message of up to 1 s, per silent slot) never hold up the instance
// manager's loop. A connected slot whose last send and last receive are
// both older than serverSilenceMs is checked: no echo reply from its server
// (ZTPING's kNoReply) closes it; otherwise (a reply, or no ICMP socket at
// all) ccLifeCheck must be acknowledged within lifeCheckAckWaitMs.
//
// Lock: none; the check reads and changes slots with single stores, and
// changes a slot only from nsConnected (compare-and-swap).
#pragma once

#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ztping.h"

namespace velmora {

class ZTCLIENT;

class ServerLifeCheck : public ZTTHREAD {
  public:
    ServerLifeCheck(ZTCLIENT& engine, EchoSocketOpener pingOpener);
    ~ServerLifeCheck() override;

    // Checks every slot once; stops early when the thread is asked to stop.
    void RunOnce();
    // Slots closed by the last run.
    uint32_t Closed() const { return closed_; }

  private:
    static uint32_t Proc(void* self);
    void CheckSlot(int32_t index);

    ZTCLIENT& engine_;
    ZTPING ping_;
    uint32_t closed_ = 0;
};

}  // namespace velmora

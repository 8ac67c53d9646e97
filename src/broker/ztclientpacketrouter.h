// The broker's packet router: takes every received datagram from the
// engine's receive queue and hands it to the in-list of its connection and
// channel, sending the acknowledgement the in-list answers. Packets for a
// slot that is not connected (also one still connecting: the server sends
// again) are counted as unknown and dropped. It also keeps the engine's
// receive rate.
//
// Lock: none of its own; it takes a slot's useLock around each hand-over
// (ZTCLIENT's lock order).
#pragma once

#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ztflatqueue.h"

namespace velmora {

class ZTCLIENT;

class ZTCLIENTPACKETROUTER : public ZTTHREAD {
  public:
    explicit ZTCLIENTPACKETROUTER(ZTCLIENT& engine);
    ~ZTCLIENTPACKETROUTER() override;

    // Stops the loop (1 ms looks).
    void Stop();

    // Routes one entry; public so tests can drive the router without the
    // thread. Answers true when the packet reached an in-list.
    bool Route(const PACKETRECEIVED& entry, uint32_t now);

  private:
    static uint32_t Proc(void* self);
    void Loop();
    void CountSecond(uint32_t now, uint32_t bytes);

    ZTCLIENT& engine_;
    PACKETRECEIVED entry_{};
    uint32_t secondStart_ = 0;
    uint32_t secondBytes_ = 0;
};

}  // namespace velmora

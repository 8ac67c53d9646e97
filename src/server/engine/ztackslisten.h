// The server's acknowledgement thread: reads 28-byte PACKETRETURN records off
// the send socket (port P + 1) and appends each to the acknowledgement list
// of its host and channel, found by senderAddress and connectionKey. Records
// for no host are dropped; a socket failure ends the thread.
#pragma once

#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ackreceiver.h"

namespace velmora {

class ZTSERVER;

class ZTACKSLISTEN : public ZTTHREAD {
  public:
    ZTACKSLISTEN(int socket, ZTSERVER& engine, uint32_t waitMs);
    ~ZTACKSLISTEN() override;

    const AckCounters& Counters() const { return receiver_.Counters(); }

  private:
    static uint32_t Proc(void* parameter);

    AckReceiver receiver_;
    uint32_t waitMs_;
};

}  // namespace velmora

// The broker's acknowledgement listener: reads the servers' 28-byte
// acknowledgements off the engine's acknowledgement socket and appends each
// to the acks list of its slot (the connectionKey) and channel, while that
// slot is connected, connecting or disconnecting; then wakes the slot's
// connection thread. Anything else is dropped. A failed wait or receive on
// the socket ends the thread, as for every acknowledgement receiver.
//
// Lock: none of its own (the acks lists lock themselves and live as long as
// the engine); one thread runs it.
#pragma once

#include <cstdint>

#include "platform/ztthread.h"
#include "transport/ackreceiver.h"

namespace velmora {

class ZTCLIENT;

class ZTACKSCLIENTLISTEN : public ZTTHREAD {
  public:
    ZTACKSCLIENTLISTEN(ZTCLIENT& engine, int socket);
    ~ZTACKSCLIENTLISTEN() override;

    // Stops the loop (5 ms looks).
    void Stop();
    const AckCounters& Counters() const { return receiver_.Counters(); }

  private:
    static uint32_t Proc(void* self);
    ZTACKS_LIST* Lookup(const PACKETRETURN& record);

    ZTCLIENT& engine_;
    int32_t lastSlot_ = -1;  // the slot of the record just placed
    AckReceiver receiver_;
};

}  // namespace velmora

// A close thread: closes the connection of one slot through the engine,
// waiting at most disconnectWaitMs for the server's acknowledgement of the
// disconnect message. The first maxKeptSlots closed slots keep their objects
// (connection thread, queues) for a later connection in the same slot; the
// others free them. Runs once; the instance manager reaps it.
//
// Lock: none of its own; the engine's kept-slot count has its lock.
#pragma once

#include <cstdint>

#include "platform/ztthread.h"

namespace velmora {

class ZTCLIENT;

class ZTCREATEDISCONNECTTHREAD : public ZTTHREAD {
  public:
    ZTCREATEDISCONNECTTHREAD(ZTCLIENT& engine, int32_t slotIndex);
    ~ZTCREATEDISCONNECTTHREAD() override;

  private:
    static uint32_t Proc(void* self);

    ZTCLIENT& engine_;
    const int32_t index_;
};

}  // namespace velmora

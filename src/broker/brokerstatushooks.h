// The broker engine's five status hooks, which the broker window turns into
// its lamps and counts. Each is called with the value 1 on the engine's
// threads and may be left unset; a hook must be quick and must not throw.
#pragma once

#include <cstdint>
#include <functional>

namespace velmora {

struct BrokerStatusHooks {
    std::function<void(int32_t)> onAckBusy;          // a FRAME_BUSY answer
    std::function<void(int32_t)> onFrameSent;        // a frame's transmission from the queue
    std::function<void(int32_t)> onPacketDelivered;  // a packet handed to an application
    std::function<void(int32_t)> onFrameTimeout;     // a frame queued again after its time-out
    std::function<void(int32_t)> onPacketDropped;    // a packet for a slot that is not connected
};

// Calls a hook if it is set, swallowing anything it throws.
inline void CallStatusHook(const std::function<void(int32_t)>& hook) {
    if (!hook) return;
    try {
        hook(1);
    } catch (...) {
    }
}

}  // namespace velmora

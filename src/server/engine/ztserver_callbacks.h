// The callbacks through which the server engine reports to the application.
// Each is called only when set; they are set between Open and Start and not
// changed afterwards. Every call goes through Guarded, so nothing a callback
// throws crosses into the engine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "transport/ztpacket.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;
class ZTSERVERCLIENT_THREAD;
class ZTSERVERMASTER_THREAD;

struct ZTSERVER_CALLBACKS {
    // Receive thread: every 1024-byte datagram, after it was queued or
    // dropped as overflow.
    std::function<void(const ZTPACKET& packet)> OnReceive;
    // Router: every data-channel packet of a known host, before it is handled.
    std::function<void(ZTHOSTLIST& host, const ZTPACKET& packet)> OnPacket;
    // Host manager, mode emNotify: each pass while the host's data waits.
    std::function<void(ZTHOSTLIST& host)> OnFrameReady;
    // Router: a connect request took a record.
    std::function<void(ZTHOSTLIST& host)> OnHostConnect;
    // The thread releasing a record that was in use.
    std::function<void(ZTHOSTLIST& host)> OnHostDisconnect;
    // Shutdown, first step; then each step with its text and percentage.
    std::function<void()> OnDestroy;
    std::function<void(const char* text, int32_t percent)> OnShutdownProgress;
    // Router, mode emClientThread, when a record is taken: the application
    // may answer the connection's thread (created suspended, resumed when
    // the connection completes, destroyed when the record is released).
    std::function<std::unique_ptr<ZTSERVERCLIENT_THREAD>(ZTHOSTLIST& host, int32_t connectionType)>
        OnCreateClientThread;
    // Start, mode emMasterThread: the application may answer its own thread.
    std::function<std::unique_ptr<ZTSERVERMASTER_THREAD>(ZTSERVER& engine)> OnCreateMasterThread;
    // Statistics; the engine passes 1 each time.
    std::function<void(uint32_t)> OnAckBusy;        // a FRAME_BUSY acknowledgement
    std::function<void(uint32_t)> OnFrameSent;      // a frame's first transmission
    std::function<void(uint32_t)> OnDataWaiting;    // a pass found data waiting
    std::function<void(uint32_t)> OnFrameTimeout;   // a frame queued again after its time-out
    std::function<void(uint32_t)> OnPacketDropped;  // a packet of a known host not taken
};

// Calls a callback if it is set (a std::function may be empty; a lambda is
// always set), swallowing whatever it throws.
template <typename F, typename... A>
void Guarded(const F& callback, A&&... args) {
    if constexpr (requires { static_cast<bool>(callback); }) {
        if (!callback) return;
    }
    try {
        callback(std::forward<A>(args)...);
    } catch (...) {
    }
}

}  // namespace velmora

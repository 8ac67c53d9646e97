// TVelmoraView: a viewer's connection to one server. Its thread connects
// through the broker, logs on, receives every server message and applies it
// (ViewDispatcher), and sends the held-back mouse moves at most every 100 ms.
// The window (or the headless program) reads the picture, the pointer and
// the member list, and sends mouse, key and control messages through it.
//
// Result: vrConnecting (0) until logon ends, then vrConnected (1), or
// vrNoAnswer (-4) / the server's refusal code (-1) when connect or logon
// fails; vrEnded (-6) once the connection ended or the view was stopped.
//
// Lock: viewLock_ guards the mouse record, the link's open flag and every
// send (sends on one connection are serialised); it is taken alone, never
// with the dispatcher's picture lock. wakeLock_ guards only the waits
// between turns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "platform/ztthread.h"
#include "server/screen/appmessages.h"
#include "viewer/viewcodes.h"
#include "viewer/viewdispatcher.h"
#include "viewer/viewlink.h"

namespace velmora {

struct ViewParams {
    ViewLinkTarget target;
    uint32_t logonTimeoutMs = 10000;   // each of: request taken, answer, screen description
    uint32_t receiveTimeoutMs = 5000;  // a waiting message
    uint32_t heldMoveMs = 100;         // held-back moves go out at most this often
    uint32_t busySleepMs = 5;          // after a turn that handled a message
    uint32_t idleSleepMs = 20;         // after a turn that found none
    uint32_t endDelayMs = 1000;        // between the end of the loop and the disconnect
    const Clock* clock = nullptr;      // the system tick when null
};

class TVelmoraView : public ZTTHREAD {
  public:
    // Messages beyond this are not taken: a server never sends one (its
    // largest is a full batch of blocks that would not compress), and a
    // message that cannot be taken blocks the connection, so it ends it.
    static constexpr int32_t kMaxMessage = 16 * 1024 * 1024;

    // `observer` may be null; it must outlive the view.
    TVelmoraView(ViewParams params, std::unique_ptr<ViewLink> link, ViewObserver* observer);
    ~TVelmoraView() override;

    // Starts the thread (it connects at once); false when it cannot be made.
    bool Start();
    // Sets the stop request and waits until the thread has ended (after the
    // end delay and the disconnect).
    void Stop();

    int Result() const { return result_.load(); }
    // Why the connect failed (the library's sentence), empty otherwise.
    std::string FailureText() const;

    bool HoldsControl() const { return holdsControl_.load(); }
    void SetHoldsControl(bool holds) { holdsControl_.store(holds); }

    // Input, from any thread. Each answers ZtifSend's result, or
    // nleNotConnected (-17) when there is no connection.
    // A move: kept in the mouse record and sent by the view thread at most
    // every heldMoveMs.
    void HoldMove(int32_t x, int32_t y);
    // A button or wheel event, sent at once (100 ms). A held-back move
    // waiting in the mouse record is dropped: this event carries the
    // position itself.
    int32_t SendMouse(int32_t x, int32_t y, int32_t action, int32_t wheel = 0);
    // A KEY_EVENTS of `count` (at most 128) events, sent at once (500 ms).
    int32_t SendKeys(const KEY_EVENT* events, int count);
    // CONTROL_REQUEST: flag 1 asks for the control right, 0 gives it up.
    int32_t SendControlRequest(uint8_t flag);

    const ViewDispatcher& Dispatcher() const { return dispatcher_; }
    ViewFigures Figures() const { return dispatcher_.Figures(); }
    // Turns of the receive loop so far (tests wait on it).
    uint64_t Turns() const { return turns_.load(); }

  private:
    static uint32_t Proc(void* self);
    void Main();
    int Logon();
    // One turn of the loop; false when the connection was lost.
    bool Turn(bool* handled);
    void FlushHeldMove();
    int32_t SendLocked(const void* data, int32_t length, uint32_t timeoutMs);
    void SetResult(int result);
    void Wait(uint32_t ms, bool wakeOnStop);
    uint32_t Now() const { return clock_.Now(); }

    const ViewParams params_;
    const Clock& clock_;
    std::unique_ptr<ViewLink> link_;
    ViewObserver* observer_;
    ViewDispatcher dispatcher_;

    std::atomic<int> result_{vrConnecting};
    std::atomic<bool> holdsControl_{false};
    std::atomic<uint64_t> turns_{0};

    std::mutex viewLock_;
    bool linkOpen_ = false;  // senders may use the link
    MOUSE_EVENT mouse_{};    // the held-back move; pending byte set while one waits
    uint32_t lastFlush_ = 0;
    std::string failure_;  // written before the result leaves vrConnecting

    std::vector<uint8_t> receiveBuffer_;  // the view thread's

    std::mutex wakeLock_;
    std::condition_variable wake_;
};

}  // namespace velmora

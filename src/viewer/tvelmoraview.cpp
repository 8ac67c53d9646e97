#include "viewer/tvelmoraview.h"

#include <chrono>
#include <new>
#include <utility>

#include "clientif/ztif_codes.h"
#include "viewer/viewcodes.h"

namespace velmora {

TVelmoraView::TVelmoraView(ViewParams params, std::unique_ptr<ViewLink> link,
                           ViewObserver* observer)
    : params_(std::move(params)),
      clock_(params_.clock != nullptr ? *params_.clock : SystemClock::Instance()),
      link_(std::move(link)),
      observer_(observer) {
    dispatcher_.SetObserver(observer);
    threadProc = &TVelmoraView::Proc;
    parameter = this;
}

TVelmoraView::~TVelmoraView() {
    Stop();
}

bool TVelmoraView::Start() {
    return Run(true);
}

void TVelmoraView::Stop() {
    RequestStop();
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        wake_.notify_all();
    }
    (void)StopAndWait(5);
}

uint32_t TVelmoraView::Proc(void* self) {
    static_cast<TVelmoraView*>(self)->Main();
    return 0;
}

std::string TVelmoraView::FailureText() const {
    // Written by the view thread before the result leaves vrConnecting.
    return Result() != vrConnecting ? failure_ : std::string();
}

void TVelmoraView::SetResult(int result) {
    result_.store(result);
    if (observer_ == nullptr) return;
    try {
        observer_->OnStateChanged(result);
    } catch (...) {
        // An observer's failure must not end the receive thread.
    }
}

void TVelmoraView::Wait(uint32_t ms, bool wakeOnStop) {
    std::unique_lock<std::mutex> lock(wakeLock_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms),
                   [&] { return wakeOnStop && StopRequested(); });
}

void TVelmoraView::Main() {
    BeginLoop();
    int result = vrNoAnswer;
    std::string why;
    if (link_ == nullptr || link_->Connect(params_.target, &why) != nleOk) {
        failure_ = why.empty() ? "no connection" : why;
    } else {
        {
            std::lock_guard<std::mutex> guard(viewLock_);
            linkOpen_ = true;
        }
        result = Logon();
    }
    if (result == vrConnected) {
        SetResult(vrConnected);
        lastFlush_ = Now();
        while (!StopRequested()) {
            bool handled = false;
            if (!Turn(&handled)) {
                if (observer_ != nullptr) {
                    try {
                        observer_->OnConnectionLost();
                    } catch (...) {
                    }
                }
                break;
            }
            turns_.fetch_add(1);
            Wait(handled ? params_.busySleepMs : params_.idleSleepMs, true);
        }
        std::vector<uint8_t>().swap(receiveBuffer_);
        // The delay lets the broker pass on what was sent last (a release of
        // the control right, say) before the connection closes.
        Wait(params_.endDelayMs, false);
        result = vrEnded;
    }
    {
        std::lock_guard<std::mutex> guard(viewLock_);
        linkOpen_ = false;
        if (link_ != nullptr) link_->Disconnect();
        mouse_.pending = 0;
    }
    dispatcher_.Clear();
    SetResult(result);
    EndLoop();
}

int TVelmoraView::Logon() {
    const LOGON_REQUEST request = MakeLogonRequest();
    if (SendLocked(&request, sizeof(request), params_.logonTimeoutMs) != sizeof(request)) {
        failure_ = "the logon request could not be sent";
        return vrNoAnswer;
    }
    // Both answers are small; a longer message in their place is no answer.
    uint8_t buffer[64];
    int32_t n = link_->Receive(buffer, sizeof(buffer), params_.logonTimeoutMs);
    LOGON_ANSWER answer;
    if (n <= 0 || ReadRecord(buffer, static_cast<size_t>(n), &answer) != amOk) {
        failure_ = "no logon answer";
        return vrNoAnswer;
    }
    if (answer.accepted == 0) {
        const int code = answer.code;
        failure_ = "the server refused the logon";
        // A refusal is never a success: a code that is not negative is taken
        // as the user-count refusal.
        return code < 0 ? code : vrRefused;
    }
    n = link_->Receive(buffer, sizeof(buffer), params_.logonTimeoutMs);
    SCREEN_INFO info;
    if (n <= 0 || ReadRecord(buffer, static_cast<size_t>(n), &info) != amOk) {
        failure_ = "no screen description";
        return vrNoAnswer;
    }
    if (dispatcher_.SetScreen(info) != vwApplied) {
        failure_ = "the server's screen description is unusable";
        return vrNoAnswer;
    }
    return vrConnected;
}

bool TVelmoraView::Turn(bool* handled) {
    const int32_t length = link_->Peek();
    if (length < 0 || length > kMaxMessage) return false;
    if (length > 0) {
        if (receiveBuffer_.size() < static_cast<size_t>(length) + 10) {
            try {
                receiveBuffer_.resize(static_cast<size_t>(length) + 10);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        const int32_t got =
            link_->Receive(receiveBuffer_.data(), static_cast<int32_t>(receiveBuffer_.size()),
                           params_.receiveTimeoutMs);
        if (got < 0) return false;
        // Only a message taken whole is applied; nothing (0) waits for the
        // next turn.
        if (got > 0) {
            dispatcher_.Dispatch(receiveBuffer_.data(), static_cast<size_t>(got),
                                 holdsControl_.load());
            *handled = true;
        }
    }
    FlushHeldMove();
    return true;
}

void TVelmoraView::FlushHeldMove() {
    std::lock_guard<std::mutex> guard(viewLock_);
    if (!linkOpen_ || mouse_.pending == 0) return;
    const uint32_t now = Now();
    if (TickDiff(now, lastFlush_) <= params_.heldMoveMs) return;
    (void)link_->Send(&mouse_, sizeof(mouse_), 0, 500);  // a lost move is replaced by the next
    mouse_.pending = 0;
    lastFlush_ = now;
}

void TVelmoraView::HoldMove(int32_t x, int32_t y) {
    std::lock_guard<std::mutex> guard(viewLock_);
    mouse_ = MakeMouseEvent(x, y, maMove, 0, 1);
}

int32_t TVelmoraView::SendLocked(const void* data, int32_t length, uint32_t timeoutMs) {
    std::lock_guard<std::mutex> guard(viewLock_);
    if (!linkOpen_) return nleNotConnected;
    return link_->Send(data, length, 0, timeoutMs);
}

int32_t TVelmoraView::SendMouse(int32_t x, int32_t y, int32_t action, int32_t wheel) {
    const MOUSE_EVENT event = MakeMouseEvent(x, y, action, action == maWheel ? wheel : 0, 0);
    std::lock_guard<std::mutex> guard(viewLock_);
    if (!linkOpen_) return nleNotConnected;
    // The event moves the pointer to its own position first, so a move still
    // held back is dropped rather than sent after it (which would repeat or
    // reorder the event).
    mouse_.pending = 0;
    return link_->Send(&event, sizeof(event), 0, 100);
}

int32_t TVelmoraView::SendKeys(const KEY_EVENT* events, int count) {
    KEY_EVENTS keys = MakeKeyEvents();
    for (int i = 0; i < count && events != nullptr; ++i) {
        if (!AddKeyEvent(keys, events[i].virtualKey, events[i].flags)) break;
    }
    return SendLocked(&keys, sizeof(keys), 500);
}

int32_t TVelmoraView::SendControlRequest(uint8_t flag) {
    const CONTROL_REQUEST request = MakeControlRequest(flag);
    return SendLocked(&request, sizeof(request), 0);
}

}  // namespace velmora

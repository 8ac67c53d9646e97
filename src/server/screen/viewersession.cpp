#include "server/screen/viewersession.h"

#include <algorithm>

#include "platform/tick.h"
#include "server/app/liveconfig.h"
#include "server/screen/appmessages.h"
#include "server/screen/inputinjector.h"
#include "server/screen/sessionlink.h"
#include "server/screen/tscreencapture.h"
#include "server/screen/userlist.h"

namespace velmora {
namespace {

// The logon wait is cut into slices so a stop or a replacement is seen.
constexpr uint32_t kLogonSliceMs = 100;

}  // namespace

int ViewerSession::Run(SessionLink& link, const std::function<bool()>& stop) {
    int result = LogOn(link, stop);
    if (result == 1) {
        result = kEndedByStop;
        Serve(link, stop, &result);
    }
    End();
    return result;
}

void ViewerSession::Trace(const std::string& text) {
    if (services_.onTrace) services_.onTrace(text);
}

void ViewerSession::ReplaceOlderSession(const std::string& address) {
    services_.users->ForEach([this, &address](ScreenSession& s) {
        if (&s != this && s.Name() == address) s.Replace();
    });
}

int ViewerSession::CountForLimit() const {
    int count = 0;
    services_.users->ForEach([&count](ScreenSession& s) {
        if (!s.Replaced()) ++count;
    });
    return count;
}

int ViewerSession::LogOn(SessionLink& link, const std::function<bool()>& stop) {
    const std::string address = link.AddressText();
    ReplaceOlderSession(address);

    // LOGON_REQUEST: any first message opens the session; its content is
    // not read.
    const uint32_t begin = Tick();
    for (;;) {
        const uint32_t waited = TickSince(begin);
        if (waited >= kLogonWaitMs || stop() || Replaced()) return kNoLogon;
        const int n = link.Receive(receive_.data(), receive_.size(),
                                   std::min(kLogonSliceMs, kLogonWaitMs - waited));
        if (n < 0) return kNoLogon;
        if (n > 0) break;
    }

    const int limit = services_.config->MaxUsers();
    const bool accepted = limit >= CountForLimit();
    const LOGON_ANSWER answer = MakeLogonAnswer(accepted, accepted ? laAccepted : laUserLimit);
    if (link.Send(RecordBytes(answer), sizeof answer, kLogonWaitMs) != int(sizeof answer)) {
        return kLogonUnsent;
    }
    if (!accepted) return kRefused;
    const SCREEN_INFO info = services_.capture->ScreenInfo();
    if (link.Send(RecordBytes(info), sizeof info, kLogonWaitMs) != int(sizeof info)) {
        return kLogonUnsent;
    }
    services_.capture->SendFullPicture(*this);  // marks the session active
    SetName(address);
    if (services_.onConnect) services_.onConnect(*this);
    SetActive(true);
    services_.capture->SendMemberList();
    return 1;
}

void ViewerSession::Serve(SessionLink& link, const std::function<bool()>& stop, int* result) {
    while (!stop()) {
        if (Replaced()) {
            link.Disconnect(kReplacedReason);
            *result = kReplaced;
            return;
        }
        // A message not acknowledged in time stays with the transport, one
        // refused is dropped: either way it is not sent again from here.
        if (TakeMessage(sending_) && link.Send(sending_.data(), sending_.size(), kSendWaitMs) < 0) {
            *result = kPeerGone;
            return;
        }
        const int n = link.Receive(receive_.data(), receive_.size(), kReceiveWaitMs);
        if (n < 0) {
            *result = kPeerGone;
            return;
        }
        if (n > 0 && size_t(n) <= receive_.size()) HandleViewerMessage(receive_.data(), size_t(n));
        SleepMs(1);
    }
}

void ViewerSession::End() {
    SetActive(false);
    services_.users->Remove(this);
    services_.capture->SendMemberList();
    ClearQueue();
    if (services_.onDisconnect) services_.onDisconnect(*this);
}

void ViewerSession::HandleViewerMessage(const uint8_t* data, size_t length) {
    switch (ClassifyViewerMessage(length)) {
        case vmMouse:
            Mouse(data, length);
            break;
        case vmControl:
            Control(data, length);
            services_.capture->SendMemberList();
            break;
        case vmKeys:
            Keys(data, length);
            break;
        case vmIgnored:
            break;
    }
}

void ViewerSession::Mouse(const uint8_t* data, size_t length) {
    MOUSE_EVENT event{};
    if (ReadRecord(data, length, &event) != amOk) return;
    const int32_t action = event.action;
    if (action == maLeftDown) Trace(kLeftButtonTrace);
    InputInjector* injector = services_.injector;
    if (injector == nullptr) return;
    injector->MoveTo(event.x, event.y);  // clamped to the screen by the injector
    switch (action) {
        case maLeftDown:
        case maLeftUp:
        case maRightDown:
        case maRightUp:
        case maMiddleDown:
        case maMiddleUp:
            injector->MouseButton(action);
            break;
        case maWheel:
            injector->Wheel(event.wheel);
            break;
        default:  // a move, or an action with no button
            break;
    }
}

void ViewerSession::Keys(const uint8_t* data, size_t length) {
    KEY_EVENTS keys{};
    if (ReadKeyEvents(data, length, &keys) != amOk || keys.count == 0) return;
    InputInjector* injector = services_.injector;
    if (injector == nullptr) return;
    if (IsSecureAttention(keys)) {
        injector->SecureAttention();
        return;
    }
    for (int i = 0; i < keys.count; ++i) {
        injector->Key(keys.entries[i].virtualKey, keys.entries[i].flags);
    }
}

void ViewerSession::Control(const uint8_t* data, size_t length) {
    CONTROL_REQUEST request{};
    if (ReadRecord(data, length, &request) != amOk) return;
    if (request.flag == 1) {
        SetHoldsControl(services_.capture->DecideControlRequest(*this));
    } else {
        SetHoldsControl(false);
    }
}

}  // namespace velmora

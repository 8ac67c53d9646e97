// The capture thread's services to the sessions: the screen description, the
// full picture, pointer updates, the member list and the control right.
#include <algorithm>
#include <string>

#include "mirror/ztvlshare.h"
#include "platform/tick.h"
#include "server/screen/appmessages_pointer.h"
#include "server/screen/inputinjector.h"
#include "server/screen/screensession.h"
#include "server/screen/tscreencapture.h"

namespace velmora {
namespace {

int16_t ClampI16(int32_t v) {
    return int16_t(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

// The shape bytes the header declares: format 1 its first plane; another
// format its first plane and, with a mask, the mask. -1 when they cannot be
// described by the pointer record's 16-bit sizes.
int32_t DeclaredShapeBytes(const POINTERFILE_HEADER& h) {
    const uint32_t first = h.firstSize, mask = h.maskSize;
    if (first > uint32_t(INT16_MAX) || mask > uint32_t(INT16_MAX)) return -1;
    if (h.format != kPointerFormat1Bpp && h.hasMask != 0) return int32_t(first + mask);
    return int32_t(first);
}

}  // namespace

SCREEN_INFO TScreentCapture::ScreenInfo() const {
    std::lock_guard<std::mutex> info(infoLock_);
    return screenInfo_;
}

void TScreentCapture::BroadcastScreenInfo() {
    const SCREEN_INFO_MESSAGE message = MakeScreenInfoMessage(ScreenInfo());
    users_.Broadcast(RecordBytes(message), sizeof message);
}

void TScreentCapture::SendPointerUpdate(ScreenSession* session) {
    POINTERFILE_HEADER h{};
    if (!ztvl_.ReadPointerHeader(&h)) return;
    const bool shapeChanged = h.shapeChanged != 0;
    if (h.changed == 0 && !shapeChanged && session == nullptr) return;

    POINTER_RECORD record{};
    record.x = ClampI16(h.x);
    record.y = ClampI16(h.y);
    record.xHot = ClampI16(h.xHot);
    record.yHot = ClampI16(h.yHot);
    record.width = ClampI16(int32_t(std::min<uint32_t>(h.shapeWidth, INT16_MAX)));
    record.height = ClampI16(int32_t(std::min<uint32_t>(h.shapeHeight, INT16_MAX)));
    record.format = ClampI16(int32_t(std::min<uint32_t>(h.format, INT16_MAX)));
    record.firstSize = ClampI16(int32_t(std::min<uint32_t>(h.firstSize, INT16_MAX)));
    record.maskSize = ClampI16(int32_t(std::min<uint32_t>(h.maskSize, INT16_MAX)));
    record.hasMask = h.hasMask != 0 ? 1 : 0;
    record.maskTopDown = h.maskTopDown != 0 ? 1 : 0;
    record.firstTopDown = h.firstTopDown != 0 ? 1 : 0;
    record.one = 1;

    size_t shapeBytes = 0;
    if (shapeChanged || session != nullptr) {
        // A shape the record cannot describe, or whose bytes are not all in
        // the pointer file, goes out as a position-only update.
        const int32_t declared = DeclaredShapeBytes(h);
        record.shapeIncluded = 1;
        if (declared < 0 || PointerShapeBytes(record) != declared) {
            record.shapeIncluded = 0;
        } else {
            pointerBits_.resize(size_t(declared));
            if (ztvl_.ReadPointerBits(pointerBits_.data(), size_t(declared)) != declared) {
                record.shapeIncluded = 0;
            } else {
                shapeBytes = size_t(declared);
            }
        }
    }
    if (BuildPointerUpdate(pointerLz_, record, pointerBits_.data(), shapeBytes, pointerMessage_) <
        0) {
        return;
    }
    if (session != nullptr) {
        session->QueueMessage(pointerMessage_.data(), pointerMessage_.size());
    } else {
        users_.Broadcast(pointerMessage_.data(), pointerMessage_.size());
    }
}

void TScreentCapture::SendFullPicture(ScreenSession& session) {
    CsGuard guard(captureLock_);  // waits for a scan in progress
    sender_.Pause();
    SendPointerUpdate(&session);
    // Blocks that wait for the other sessions are kept aside and queued
    // again afterwards, so those sessions still get them.
    std::vector<int32_t> waiting(size_t(sender_.QueueSize()));
    waiting.resize(size_t(sender_.TakeBlocks(int(waiting.size()), waiting.data())));

    const int count = ztvl_.Mapped() ? ztvl_.Grid().Count() : 0;
    const int perMessage = std::clamp((count + kFullPictureMessages - 1) / kFullPictureMessages,
                                      kFullPictureBatch, TSendCapture::kMaxBatch);
    // The top of the screen first, as front insertion of the whole grid
    // would send it.
    std::vector<int32_t> batch;
    batch.reserve(size_t(perMessage));
    for (int n = count - 1; n >= 0;) {
        batch.clear();
        for (; n >= 0 && int(batch.size()) < perMessage; --n) batch.push_back(n);
        (void)sender_.EncodeAndSend(batch.data(), int(batch.size()), &session);
    }
    session.SetActive(true);
    if (!waiting.empty()) {
        // Front insertion reverses; reversing first keeps their order.
        std::reverse(waiting.begin(), waiting.end());
        sender_.QueueBlocks(waiting.data(), int(waiting.size()));
    }
    sender_.Resume();
}

void TScreentCapture::SendMemberList() {
    std::vector<uint8_t> message;
    users_.BuildMemberList(message);
    users_.Broadcast(message.data(), message.size());
}

bool TScreentCapture::DecideControlRequest(ScreenSession& requester) {
    std::lock_guard<std::mutex> control(controlLock_);
    const uint8_t controlType = config_.ControlType();
    ScreenSession* holder = nullptr;
    users_.ForEach([&holder](ScreenSession& s) {
        if (holder == nullptr && s.HoldsControl()) holder = &s;
    });
    // The answers carry the requester's name once another session held the
    // right (the same record serves both answers).
    const std::string name =
        holder != nullptr && controlType != 3 ? requester.Name() : std::string();
    if (holder != nullptr && controlType != 3) {
        const CONTROL_ANSWER taken = MakeControlAnswer(name, 0, caTaken);
        // Looked up again under the list's lock: the holder may have ended.
        users_.ForEach([&](ScreenSession& s) {
            if (&s != holder) return;
            s.SetHoldsControl(false);
            s.QueueMessage(RecordBytes(taken), sizeof taken);
        });
        SleepMs(timings_.controlHandOverMs);
    }
    CONTROL_ANSWER answer{};
    bool granted = false;
    if (controlType == 3) {
        answer = MakeControlAnswer(name, 0, caForbidden);
    } else {
        answer = MakeControlAnswer(name, 1, caGranted);
        granted = true;
        requester.SetHoldsControl(true);
        ReleaseModifiers();
    }
    requester.QueueMessage(RecordBytes(answer), sizeof answer);
    return granted;
}

}  // namespace velmora

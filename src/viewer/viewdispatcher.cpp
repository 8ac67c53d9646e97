#include "viewer/viewdispatcher.h"

#include <chrono>
#include <utility>

#include "server/screen/appmessages_pointer.h"
#include "viewer/viewcodes.h"

namespace velmora {
namespace {

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void Add(std::atomic<uint64_t>& counter, uint64_t value) {
    counter.fetch_add(value, std::memory_order_relaxed);
}

}  // namespace

template <typename Call>
void ViewDispatcher::Notify(Call&& call) {
    if (observer_ == nullptr) return;
    try {
        call(*observer_);
    } catch (...) {
        // An observer's failure must not end the receive thread.
    }
}

int ViewDispatcher::SetScreen(const SCREEN_INFO& info) {
    int result;
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        result = picture_.SetScreen(info);
        depth_ = picture_.HasScreen() ? picture_.Depth() : 0;
    }
    if (result == vwApplied) {
        const int width = info.width, height = info.height;
        Notify([&](ViewObserver& o) { o.OnScreenChanged(width, height); });
    }
    return result;
}

int ViewDispatcher::Dispatch(const uint8_t* data, size_t length, bool holdsControl) {
    Add(counters_.messages, 1);
    Add(counters_.bytes, length);
    int result = vwBadLength;
    if (data != nullptr && length >= sizeof(MESSAGE_HEADER)) {
        switch (data[0]) {
            case mtScreenBlocks:
                result = DispatchBlocks(data, length);
                break;
            case mtPointerUpdate:
                result = DispatchPointer(data, length, holdsControl);
                break;
            case mtWindowDrag:
                result = DispatchDrag(data, length);
                break;
            case mtScreenInfo:
                result = DispatchScreenInfo(data, length);
                break;
            case mtMemberList:
                result = DispatchMembers(data, length);
                break;
            case mtControlAnswer:
                result = DispatchControlAnswer(data, length);
                break;
            default:
                result = vwIgnored;
                break;
        }
    }
    if (result < 0) Add(counters_.dropped, 1);
    return result;
}

int ViewDispatcher::Expand(const uint8_t* data, size_t length, MESSAGE_HEADER* header) {
    // Deflate cannot expand n bytes to more than about 1032 n (a 258-byte
    // match in two bits); a payload announced beyond that is refused before
    // a buffer of its size is made.
    constexpr uint64_t kMaxRatio = 1040;
    if (ReadMessageHeader(data, length, header) != amOk) return vwBadLength;
    if (uint64_t{header->payloadLength} > (length - sizeof(MESSAGE_HEADER)) * kMaxRatio + 64) {
        return vwBadStream;
    }
    const int result = ExpandMessagePayload(lz_, data, length, header, payload_);
    if (result >= 0) return vwApplied;
    return result == tlzNoMemory ? vwNoMemory : vwBadStream;
}

int ViewDispatcher::DispatchBlocks(const uint8_t* data, size_t length) {
    MESSAGE_HEADER header;
    if (ReadMessageHeader(data, length, &header) != amOk) return vwBadLength;
    // Blocks of another depth are dropped before any work is spent on them.
    if (depth_ == 0 || header.depth != depth_) return vwBadDepth;
    const uint64_t start = NowNs();
    int result = Expand(data, length, &header);
    if (result != vwApplied) return result;
    drawn_.clear();
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        result = picture_.DrawBlocks(payload_.data(), payload_.size(), header.blockCount,
                                     header.depth, drawn_);
    }
    const uint64_t spent = NowNs() - start;
    if (result != vwApplied) return result;
    Add(counters_.blockMessages, 1);
    Add(counters_.blocks, drawn_.size());
    Add(counters_.pixelBytes, payload_.size());
    Add(counters_.decodeNs, spent);
    if (spent > counters_.maxDecodeNs.load(std::memory_order_relaxed)) {
        counters_.maxDecodeNs.store(spent, std::memory_order_relaxed);  // one writer
    }
    NotifyDrawn();
    return vwApplied;
}

int ViewDispatcher::DispatchPointer(const uint8_t* data, size_t length, bool holdsControl) {
    MESSAGE_HEADER header;
    int result = Expand(data, length, &header);
    if (result != vwApplied) return result;
    POINTER_RECORD record;
    const uint8_t* shape = nullptr;
    size_t shapeLength = 0;
    if (ReadPointerUpdate(payload_.data(), payload_.size(), &record, &shape, &shapeLength) !=
        amOk) {
        return vwBadShape;
    }
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        result = pointer_.Apply(record, shape, shapeLength, holdsControl);
    }
    if (result == vwApplied) {
        Add(counters_.pointerUpdates, 1);
        Notify([](ViewObserver& o) { o.OnPointerChanged(); });
    }
    return result;
}

int ViewDispatcher::DispatchDrag(const uint8_t* data, size_t length) {
    WINDOW_DRAG drag;
    if (ReadWindowDrag(data, length, &drag) != amOk) return vwBadLength;
    drawn_.clear();
    int result;
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        result = picture_.ApplyDrag(drag, drawn_);
    }
    if (result == vwApplied) {
        Add(counters_.drags, 1);
        NotifyDrawn();
    }
    return result;
}

int ViewDispatcher::DispatchScreenInfo(const uint8_t* data, size_t length) {
    SCREEN_INFO info;
    if (ReadScreenInfoMessage(data, length, &info) != amOk) return vwBadLength;
    // Note: an unusable description is dropped and the present picture kept;
    // blocks of a new depth are then dropped until a usable one comes.
    return SetScreen(info);
}

int ViewDispatcher::DispatchMembers(const uint8_t* data, size_t length) {
    int count = 0;
    const MEMBER_ENTRY* entries = nullptr;
    if (ReadMemberList(data, length, &count, &entries) != amOk) return vwBadLength;
    if (!members_.Replace(entries, count)) return vwNoMemory;
    Notify([](ViewObserver& o) { o.OnMemberListChanged(); });
    return vwApplied;
}

int ViewDispatcher::DispatchControlAnswer(const uint8_t* data, size_t length) {
    CONTROL_REQUEST answer;
    if (ReadControlAnswer(data, length, &answer) != amOk) return vwBadLength;
    const int flag = answer.flag;
    const int code = answer.code;  // sign-extended from i16
    Notify([&](ViewObserver& o) { o.OnControlAnswer(flag, code); });
    return vwApplied;
}

void ViewDispatcher::NotifyDrawn() {
    if (drawn_.empty()) return;
    Notify([&](ViewObserver& o) {
        o.OnPictureChanged(drawn_.data(), static_cast<int>(drawn_.size()));
    });
}

void ViewDispatcher::Clear() {
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        picture_ = ViewPicture();
        pointer_ = PointerShape();
        depth_ = 0;
    }
    members_.Clear();
    std::vector<uint8_t>().swap(payload_);
}

int ViewDispatcher::Width() const {
    std::lock_guard<std::mutex> guard(pictureLock_);
    return picture_.Width();
}

int ViewDispatcher::Height() const {
    std::lock_guard<std::mutex> guard(pictureLock_);
    return picture_.Height();
}

SCREEN_INFO ViewDispatcher::Screen() const {
    std::lock_guard<std::mutex> guard(pictureLock_);
    return picture_.Screen();
}

bool ViewDispatcher::CopyPicture(ViewImage* out) const {
    std::lock_guard<std::mutex> guard(pictureLock_);
    if (!picture_.HasScreen()) return false;
    *out = picture_.BackBuffer();
    return true;
}

uint32_t ViewDispatcher::PixelAt(int x, int y) const {
    std::lock_guard<std::mutex> guard(pictureLock_);
    return picture_.BackBuffer().At(x, y);
}

ViewFigures ViewDispatcher::Figures() const {
    ViewFigures f;
    f.messages = counters_.messages.load();
    f.bytes = counters_.bytes.load();
    f.blockMessages = counters_.blockMessages.load();
    f.blocks = counters_.blocks.load();
    f.pixelBytes = counters_.pixelBytes.load();
    f.pointerUpdates = counters_.pointerUpdates.load();
    f.drags = counters_.drags.load();
    f.dropped = counters_.dropped.load();
    f.decodeNs = counters_.decodeNs.load();
    f.maxDecodeNs = counters_.maxDecodeNs.load();
    return f;
}

}  // namespace velmora

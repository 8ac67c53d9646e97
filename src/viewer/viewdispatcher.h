// Applies server messages to a view's picture, pointer and member list, and
// tells the observer what changed. Dispatch is called by one thread (the
// view's receive thread, or a test feeding messages directly); the readers
// may be called from any thread.
//
// A message is applied whole or not at all: a typed message shorter than
// its header or not of its fixed length, blocks of another depth than the
// screen's or outside it, a payload that does not expand to exactly the
// length it announces, and a pointer shape whose sizes do not match its bytes
// are dropped, and nothing is written outside the buffers.
//
// Lock: pictureLock_ guards picture_ and pointer_; it is taken alone (the
// member list's own lock is never taken inside it, and the observer is
// called with no lock held). The expansion buffers belong to the
// dispatching thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "server/screen/appmessages.h"
#include "server/screen/tlz.h"
#include "viewer/memberlist.h"
#include "viewer/pointershape.h"
#include "viewer/viewimage.h"
#include "viewer/viewobserver.h"
#include "viewer/viewpicture.h"

namespace velmora {

// What a view has received so far.
struct ViewFigures {
    uint64_t messages = 0;       // every message dispatched
    uint64_t bytes = 0;          // their length
    uint64_t blockMessages = 0;  // SCREEN_BLOCKS applied
    uint64_t blocks = 0;         // blocks drawn
    uint64_t pixelBytes = 0;     // expanded SCREEN_BLOCKS payload bytes
    uint64_t pointerUpdates = 0;
    uint64_t drags = 0;
    uint64_t dropped = 0;   // messages refused as unsound
    uint64_t decodeNs = 0;  // expanding and drawing SCREEN_BLOCKS
    uint64_t maxDecodeNs = 0;
};

class ViewDispatcher {
  public:
    ViewDispatcher() = default;
    ViewDispatcher(const ViewDispatcher&) = delete;
    ViewDispatcher& operator=(const ViewDispatcher&) = delete;

    // Set before dispatching starts; null for none.
    void SetObserver(ViewObserver* observer) { observer_ = observer; }

    // Takes the logon's screen description: new black surfaces (vw* code).
    [[nodiscard]] int SetScreen(const SCREEN_INFO& info);

    // Applies one message; returns a vw* code (viewcodes.h).
    int Dispatch(const uint8_t* data, size_t length, bool holdsControl);

    // Forgets the picture, the pointer and the members (the view's clean-up).
    void Clear();

    // Readers (any thread).
    int Width() const;
    int Height() const;
    SCREEN_INFO Screen() const;
    // A copy of the back buffer; false when there is no picture yet.
    bool CopyPicture(ViewImage* out) const;
    // The pixel at x, y of the back buffer (0 outside it).
    uint32_t PixelAt(int x, int y) const;
    // Calls f(const ViewPicture&, const PointerShape&) under the picture lock;
    // f must be short and must not call back into the view.
    template <typename F>
    void WithPicture(F&& f) const {
        std::lock_guard<std::mutex> guard(pictureLock_);
        f(picture_, pointer_);
    }
    const MemberList& Members() const { return members_; }
    ViewFigures Figures() const;

  private:
    int DispatchBlocks(const uint8_t* data, size_t length);
    int DispatchPointer(const uint8_t* data, size_t length, bool holdsControl);
    int DispatchDrag(const uint8_t* data, size_t length);
    int DispatchScreenInfo(const uint8_t* data, size_t length);
    int DispatchMembers(const uint8_t* data, size_t length);
    int DispatchControlAnswer(const uint8_t* data, size_t length);
    int Expand(const uint8_t* data, size_t length, MESSAGE_HEADER* header);
    void NotifyDrawn();
    template <typename Call>
    void Notify(Call&& call);

    ViewObserver* observer_ = nullptr;
    mutable std::mutex pictureLock_;
    ViewPicture picture_;
    PointerShape pointer_;
    MemberList members_;

    // The dispatching thread's own.
    int depth_ = 0;  // the screen description's depth, mirrored outside the lock
    TLZ lz_;
    std::vector<uint8_t> payload_;
    std::vector<ViewRect> drawn_;

    struct Counters {
        std::atomic<uint64_t> messages{0}, bytes{0}, blockMessages{0}, blocks{0}, pixelBytes{0},
            pointerUpdates{0}, drags{0}, dropped{0}, decodeNs{0}, maxDecodeNs{0};
    };
    Counters counters_;
};

}  // namespace velmora

// Follows a window being moved or resized on the server, from the hook
// queue's 561 record until its 562, so viewers can move the window's picture
// before its pixels arrive:
//   - every move or resize step (534, 532) that comes with pointer movement
//     widens the union of the window's rectangles; at most every 50 ms it is
//     sent as a WINDOW_DRAG notice and the blocks the union touches become the
//     drag blocks (sent after the drag so the viewers' guesses get replaced);
//   - when the pointer rests for more than 200 ms, changed blocks and the
//     drag blocks are queued, and a fresh 561 lets viewers take a new copy
//     of the window's picture;
//   - the end (562) waits until the send queue is empty.
// Pointer updates go out at most every 200 ms meanwhile.
//
// The follower owns no thread, clock or queue: everything goes through a
// DragContext, so tests run it on a scripted queue and a fake clock.
// Not thread-safe: the capture thread runs it.
#pragma once

#include <cstdint>
#include <vector>

#include "hook/hookevent.h"
#include "server/screen/appmessages.h"

namespace velmora {

class DragContext {
  public:
    virtual ~DragContext() = default;
    virtual uint32_t Now() = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual bool ShouldStop() = 0;
    virtual bool TakeWindowEvent(HOOKEVENT* record) = 0;
    virtual void PointerPosition(int32_t* x, int32_t* y) = 0;
    virtual void SendWindowDrag(const WINDOW_DRAG& notice) = 0;
    virtual void SendPointerUpdate() = 0;
    // The change scan and the grid (see ZTVL).
    virtual int ScanBlocks(int32_t* list, int capacity) = 0;
    virtual int BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list,
                               int capacity) = 0;
    virtual int GridBlocks() = 0;
    virtual void QueueBlocks(const int32_t* numbers, int count) = 0;
    virtual bool SendQueueEmpty() = 0;
};

class DragFollower {
  public:
    static constexpr uint32_t kNoticePeriodMs = 50;
    static constexpr uint32_t kPointerPeriodMs = 200;
    static constexpr uint32_t kRestMs = 200;
    // A drag whose end never comes (its 562 lost, the window gone) is left
    // after this long without any hook record, so the capture goes on.
    static constexpr uint32_t kSilenceLimitMs = 10000;
    // Longest wait for the send queue at the end of a drag.
    static constexpr uint32_t kDrainLimitMs = 2000;

    // Runs the drag that `start` (a 561 record) begins, until its end.
    // lastPointerMs: when the last pointer update went out; kept up to date.
    void Run(DragContext& context, const HOOKEVENT& start, uint32_t& lastPointerMs);

    // The drag blocks of the last drag, not yet queued; the capture thread
    // appends them to its next changed-block list and erases what it took.
    std::vector<int32_t>& PendingBlocks() { return dragBlocks_; }

  private:
    struct Union {
        int32_t minX = 32000, minY = 32000, maxX = -32000, maxY = -32000;
        void Widen(const HOOKEVENT& r);
        bool Empty() const { return minX > maxX || minY > maxY; }
    };

    // A move or resize step that came with pointer movement.
    void Step(DragContext& context, const HOOKEVENT& record, uint32_t& lastPointerMs);
    // The pointer rested: send what changed and start the union afresh.
    void Rested(DragContext& context, const HOOKEVENT& last);

    Union union_;
    uint32_t lastNotice_ = 0;
    std::vector<int32_t> dragBlocks_;
    std::vector<int32_t> scan_;
};

}  // namespace velmora

#include "server/screen/dragfollower.h"

#include <algorithm>

#include "platform/tick.h"

namespace velmora {
namespace {

WINDOW_DRAG Notice(int32_t event, const HOOKEVENT& r) {
    return MakeWindowDrag(event, int32_t(r.edge.get()), r.left, r.top, r.right, r.bottom);
}

}  // namespace

void DragFollower::Union::Widen(const HOOKEVENT& r) {
    minX = std::min<int32_t>(minX, r.left);
    minY = std::min<int32_t>(minY, r.top);
    maxX = std::max<int32_t>(maxX, r.right);
    maxY = std::max<int32_t>(maxY, r.bottom);
}

void DragFollower::Run(DragContext& context, const HOOKEVENT& start, uint32_t& lastPointerMs) {
    uint32_t now = context.Now();
    lastNotice_ = lastPointerMs = now;
    uint32_t lastMovement = now, lastRecord = now;
    int32_t px = 0, py = 0;
    context.PointerPosition(&px, &py);
    union_ = Union{};
    context.SendWindowDrag(Notice(wdEnterSizeMove, start));
    union_.Widen(start);
    HOOKEVENT last = start;

    while (!context.ShouldStop()) {
        int32_t x = 0, y = 0;
        context.PointerPosition(&x, &y);
        const bool moved = x != px || y != py;
        HOOKEVENT record{};
        if (context.TakeWindowEvent(&record)) {
            lastRecord = context.Now();
            const uint32_t message = record.message;
            if (message == kWmSizing || message == kWmMoving) {
                if (moved) Step(context, record, lastPointerMs);
                last = record;
            } else if (message == kWmExitSizeMove) {
                const uint32_t begin = context.Now();
                while (!context.SendQueueEmpty() && !context.ShouldStop() &&
                       TickDiff(context.Now(), begin) < kDrainLimitMs) {
                    context.Sleep(10);
                }
                return;
            }
        } else if (TickDiff(context.Now(), lastRecord) > kSilenceLimitMs) {
            return;
        }
        now = context.Now();
        if (!moved && TickDiff(now, lastMovement) > kRestMs) {
            Rested(context, last);
            lastMovement = context.Now();
            context.Sleep(1);
        } else if (moved) {
            lastMovement = now;
            px = x;
            py = y;
        }
        context.Sleep(1);
    }
}

void DragFollower::Step(DragContext& context, const HOOKEVENT& record, uint32_t& lastPointerMs) {
    const uint32_t now = context.Now();
    union_.Widen(record);
    if (TickDiff(now, lastNotice_) < kNoticePeriodMs) return;
    lastNotice_ = now;
    if (TickDiff(now, lastPointerMs) >= kPointerPeriodMs) {
        context.SendPointerUpdate();
        lastPointerMs = now;
    }
    context.SendWindowDrag(Notice(int32_t(record.message.get()), record));
    dragBlocks_.resize(size_t(std::max(context.GridBlocks(), 0)));
    const int n = context.BlocksCovering(union_.minX, union_.minY, union_.maxX, union_.maxY,
                                         dragBlocks_.data(), int(dragBlocks_.size()));
    dragBlocks_.resize(size_t(std::max(n, 0)));
}

void DragFollower::Rested(DragContext& context, const HOOKEVENT& last) {
    const int grid = std::max(context.GridBlocks(), 0);
    scan_.resize(size_t(grid) + dragBlocks_.size());
    int n = context.ScanBlocks(scan_.data(), grid);
    n = std::max(n, 0);
    std::copy(dragBlocks_.begin(), dragBlocks_.end(), scan_.begin() + n);
    n += int(dragBlocks_.size());
    if (n > 0) {
        context.SendPointerUpdate();
        context.QueueBlocks(scan_.data(), n);
    }
    context.SendWindowDrag(Notice(wdEnterSizeMove, last));
    dragBlocks_.clear();
    union_ = Union{};
}

}  // namespace velmora

#include "server/screen/dragfollower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "server/screen/blockgrid.h"

namespace velmora {
namespace {

HOOKEVENT Record(uint32_t message, int left, int top, int right, int bottom, uint32_t edge = 0) {
    HOOKEVENT r{};
    r.message = message;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    r.edge = edge;
    return r;
}

// A scripted hook queue and pointer on a fake clock that only sleeping
// advances; the grid is 560 x 560 (10 x 10 blocks).
class FakeDrag : public DragContext {
  public:
    struct Timed {
        uint32_t at;
        HOOKEVENT record;
    };
    struct Notice {
        uint32_t at;
        int32_t event;
        int32_t left;
    };

    FakeDrag() { grid_.Build(560, 560, 560 * 4, 4); }

    std::deque<Timed> records;
    // The pointer moves one pixel per ms until movesUntil, then rests.
    uint32_t movesUntil = 0;
    std::vector<Notice> notices;
    std::vector<int32_t> queued;
    int pointerUpdates = 0;
    uint32_t now = 1000;  // the drag starts here

    uint32_t Now() override { return now; }
    void Sleep(uint32_t ms) override { now += ms; }
    bool ShouldStop() override { return now > 1000 + 60000; }  // a runaway test ends
    bool TakeWindowEvent(HOOKEVENT* record) override {
        if (records.empty() || records.front().at > now) return false;
        *record = records.front().record;
        records.pop_front();
        return true;
    }
    void PointerPosition(int32_t* x, int32_t* y) override {
        *x = int32_t(std::min(now, movesUntil));
        *y = 100;
    }
    void SendWindowDrag(const WINDOW_DRAG& notice) override {
        notices.push_back({now, notice.event, notice.left});
    }
    void SendPointerUpdate() override { ++pointerUpdates; }
    int ScanBlocks(int32_t*, int) override { return 0; }
    int BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list,
                       int capacity) override {
        return grid_.BlocksCovering(minX, minY, maxX, maxY, list, capacity);
    }
    int GridBlocks() override { return grid_.Count(); }
    void QueueBlocks(const int32_t* numbers, int count) override {
        queued.insert(queued.end(), numbers, numbers + count);
    }
    bool SendQueueEmpty() override { return true; }

  private:
    BlockGrid grid_;
};

TEST(DragFollower, ADragEndingSoonWithoutMovementSendsOnlyTheFirstNotice) {
    FakeDrag fake;
    fake.records.push_back({1100, Record(kWmExitSizeMove, 0, 0, 0, 0)});
    DragFollower follower;
    uint32_t lastPointer = 0;
    follower.Run(fake, Record(kWmEnterSizeMove, 10, 10, 100, 100), lastPointer);
    ASSERT_EQ(fake.notices.size(), 1u);
    EXPECT_EQ(fake.notices[0].event, wdEnterSizeMove);
    EXPECT_EQ(fake.notices[0].left, 10);
    EXPECT_TRUE(fake.queued.empty());
    EXPECT_TRUE(follower.PendingBlocks().empty());
}

TEST(DragFollower, MovesAreNoticedEvery50MsAndARestResendsTheUnion) {
    FakeDrag fake;
    fake.movesUntil = 1300;
    // A move step every 10 ms while the pointer moves, one more while it
    // rests (ignored), then the end.
    for (uint32_t t = 1010; t <= 1300; t += 10) {
        const int x = int(t - 1000) / 10;
        fake.records.push_back({t, Record(kWmMoving, x, 10, x + 90, 100)});
    }
    fake.records.push_back({1400, Record(kWmMoving, 500, 10, 540, 100)});
    fake.records.push_back({1800, Record(kWmExitSizeMove, 0, 0, 0, 0)});
    DragFollower follower;
    uint32_t lastPointer = 0;
    follower.Run(fake, Record(kWmEnterSizeMove, 0, 10, 90, 100), lastPointer);

    ASSERT_GE(fake.notices.size(), 3u);
    EXPECT_EQ(fake.notices.front().event, wdEnterSizeMove);
    int moves = 0;
    uint32_t lastMoveAt = 0;
    for (const auto& n : fake.notices) {
        if (n.event != wdMoving) continue;
        if (moves++ > 0) {
            EXPECT_GE(n.at - lastMoveAt, DragFollower::kNoticePeriodMs);
        }
        lastMoveAt = n.at;
        EXPECT_LT(n.left, 500) << "a step without pointer movement is not noticed";
    }
    EXPECT_GE(moves, 4);
    EXPECT_LE(moves, 7);
    // The rest after 1300: the union's blocks (x 0..119, y 10..99: columns
    // 0-2 of the top two grid rows) are queued and 561 goes out again.
    EXPECT_EQ(fake.notices.back().event, wdEnterSizeMove);
    EXPECT_GT(fake.notices.back().at, 1300 + DragFollower::kRestMs);
    std::vector<int32_t> queued = fake.queued;
    std::sort(queued.begin(), queued.end());
    EXPECT_EQ(queued, (std::vector<int32_t>{80, 81, 82, 90, 91, 92}));
    EXPECT_GE(fake.pointerUpdates, 1);
}

TEST(DragFollower, ADragWhoseEndNeverComesIsLeftAfterTheSilenceLimit) {
    FakeDrag fake;
    DragFollower follower;
    uint32_t lastPointer = 0;
    follower.Run(fake, Record(kWmEnterSizeMove, 0, 0, 50, 50), lastPointer);
    EXPECT_GE(fake.now, 1000 + DragFollower::kSilenceLimitMs);
    EXPECT_LT(fake.now, 1000 + DragFollower::kSilenceLimitMs + 100);
}

}  // namespace
}  // namespace velmora

#include "hook/dragtracker.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

struct Seen {
    uint32_t message;
    HookRect rect;
    uint32_t edge;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> Take(std::vector<HOOKEVENT>& records) {
    std::vector<Seen> out;
    for (const HOOKEVENT& e : records) {
        out.push_back({e.message.get(),
                       {e.left.get(), e.top.get(), e.right.get(), e.bottom.get()},
                       e.edge.get()});
    }
    records.clear();
    return out;
}

void PrintTo(const Seen& s, std::ostream* os) {
    *os << s.message << " [" << s.rect.left << "," << s.rect.top << "," << s.rect.right << ","
        << s.rect.bottom << "] edge " << s.edge;
}

TEST(DragTracker, EdgeComesFromTheSidesThatMoved) {
    const HookRect r{100, 100, 400, 300};
    struct Case {
        HookRect after;
        uint32_t edge;
    };
    const Case cases[] = {
        {{90, 100, 400, 300}, kEdgeLeft},
        {{100, 100, 410, 300}, kEdgeRight},
        {{100, 90, 400, 300}, kEdgeTop},
        {{100, 100, 400, 310}, kEdgeBottom},
        {{90, 90, 400, 300}, kEdgeTopLeft},
        {{100, 90, 410, 300}, kEdgeTopRight},
        {{90, 100, 400, 310}, kEdgeBottomLeft},
        {{100, 100, 410, 310}, kEdgeBottomRight},
        {{100, 100, 400, 300}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DragTracker::EdgeOf(r, c.after), c.edge)
            << c.after.left << "," << c.after.top << "," << c.after.right << "," << c.after.bottom;
    }
}

TEST(DragTracker, AMoveGives561ThenMovesThen562AndAResizeGives532WithItsEdge) {
    DragTracker t;
    std::vector<HOOKEVENT> out;
    const HookRect start{100, 100, 400, 300};
    t.WindowConfigured(7, start, false, out);
    t.WindowMapped(7, true);
    EXPECT_TRUE(out.empty()) << "a new window is not a drag";

    t.ButtonPressed(1);
    t.WindowConfigured(7, {110, 105, 410, 305}, false, out);
    t.WindowConfigured(7, {130, 120, 430, 320}, false, out);
    t.ButtonReleased(1, out);
    EXPECT_EQ(Take(out), (std::vector<Seen>{{kWmEnterSizeMove, start, 0},
                                            {kWmMoving, {110, 105, 410, 305}, 0},
                                            {kWmMoving, {130, 120, 430, 320}, 0},
                                            {kWmExitSizeMove, {130, 120, 430, 320}, 0}}));
    EXPECT_FALSE(t.Dragging());

    // A resize from the bottom-right corner, held with two buttons.
    t.ButtonPressed(1);
    t.ButtonPressed(3);
    t.WindowConfigured(7, {130, 120, 480, 360}, false, out);
    t.ButtonReleased(3, out);  // one button still held: the drag goes on
    t.WindowConfigured(7, {130, 120, 500, 360}, false, out);
    t.ButtonReleased(1, out);
    EXPECT_EQ(Take(out), (std::vector<Seen>{{kWmEnterSizeMove, {130, 120, 430, 320}, 0},
                                            {kWmSizing, {130, 120, 480, 360}, kEdgeBottomRight},
                                            {kWmSizing, {130, 120, 500, 360}, kEdgeRight},
                                            {kWmExitSizeMove, {130, 120, 500, 360}, 0}}));
}

TEST(DragTracker, ChangesThatAreNotAPointerDragGiveNoRecords) {
    DragTracker t;
    std::vector<HOOKEVENT> out;
    t.WindowConfigured(1, {0, 0, 100, 100}, false, out);
    t.WindowMapped(1, true);
    t.WindowConfigured(2, {0, 0, 50, 50}, true, out);
    t.WindowMapped(2, true);
    t.WindowConfigured(4, {0, 0, 1, 1}, false, out);       // a frame being set up, not mapped yet
    t.WindowConfigured(1, {10, 0, 110, 100}, false, out);  // no button held
    t.ButtonPressed(4);                                    // wheel clicks hold nothing
    t.WindowConfigured(1, {20, 0, 120, 100}, false, out);
    t.ButtonReleased(4, out);
    t.ButtonPressed(1);
    t.WindowConfigured(2, {5, 5, 55, 55}, true, out);         // a menu moving
    t.WindowConfigured(3, {0, 0, 10, 10}, false, out);        // a window appearing
    t.WindowConfigured(1, {20, 0, 120, 100}, false, out);     // stacking only, same place
    t.WindowConfigured(4, {300, 200, 602, 425}, false, out);  // placed before it is mapped
    t.WindowMapped(1, false);
    t.WindowConfigured(1, {40, 0, 140, 100}, false, out);  // moved while hidden
    t.ButtonReleased(1, out);
    EXPECT_TRUE(out.empty()) << Take(out).size() << " records";
}

TEST(DragTracker, OnlyTheDraggedWindowIsFollowedAndItsDisappearanceEndsTheDrag) {
    DragTracker t;
    std::vector<HOOKEVENT> out;
    t.WindowConfigured(1, {0, 0, 100, 100}, false, out);
    t.WindowConfigured(2, {200, 0, 300, 100}, false, out);
    t.WindowMapped(1, true);
    t.WindowMapped(2, true);
    t.ButtonPressed(1);
    t.WindowConfigured(1, {5, 0, 105, 100}, false, out);
    t.WindowConfigured(2, {205, 0, 305, 100}, false, out);  // another window, ignored
    t.WindowGone(1, out);
    t.ButtonReleased(1, out);
    EXPECT_EQ(Take(out), (std::vector<Seen>{{kWmEnterSizeMove, {0, 0, 100, 100}, 0},
                                            {kWmMoving, {5, 0, 105, 100}, 0},
                                            {kWmExitSizeMove, {5, 0, 105, 100}, 0}}));
}

}  // namespace
}  // namespace velmora

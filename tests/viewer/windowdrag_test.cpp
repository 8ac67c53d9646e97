// WINDOW_DRAG handling: a window's picture is saved at the start of a drag,
// put at its new place on moves and its 24-pixel edge strips on resizes,
// all clipped to the screen and the save buffer.
#include <gtest/gtest.h>

#include <vector>

#include "viewer/servermessages.h"
#include "viewer/viewcodes.h"
#include "viewer/viewdispatcher.h"

namespace velmora {
namespace {

using namespace velmora::testing;

constexpr int kWidth = 200, kHeight = 120;

// Every screen pixel unique: blue x, green y, red 0x40.
uint32_t Pattern(int x, int y) {
    return 0xFF400000u | uint32_t(y) << 8 | uint32_t(x);
}

struct Recorder : ViewObserver {
    std::vector<ViewRect> drawn;
    void OnPictureChanged(const ViewRect* rects, int count) override {
        drawn.insert(drawn.end(), rects, rects + count);
    }
};

class WindowDrag : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(dispatcher.SetScreen(MakeScreenInfo(24, kWidth, kHeight)), vwApplied);
        std::vector<TestBlock> blocks;
        for (int top = 0; top < kHeight; top += 56) {
            for (int left = 0; left < kWidth; left += 56) {
                TestBlock b{left,
                            std::min(top + 56, kHeight),
                            std::min(56, kWidth - left),
                            std::min(56, kHeight - top),
                            {}};
                for (int r = 0; r < b.height; ++r) {
                    for (int x = 0; x < b.width; ++x) {
                        const uint32_t p = Pattern(left + x, b.bottom - 1 - r);
                        b.pixels.insert(b.pixels.end(),
                                        {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)});
                    }
                }
                blocks.push_back(b);
            }
        }
        ASSERT_EQ(Feed(BlocksMessage(24, blocks)), vwApplied);
        dispatcher.SetObserver(&recorder);
    }
    int Feed(const Bytes& message) {
        return dispatcher.Dispatch(message.data(), message.size(), false);
    }
    uint32_t At(int x, int y) const { return dispatcher.PixelAt(x, y); }

    ViewDispatcher dispatcher;
    Recorder recorder;
};

TEST_F(WindowDrag, MovesTheSavedWindowPictureToItsNewPlace) {
    ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, 20, 30, 70, 60)), vwApplied);
    EXPECT_TRUE(recorder.drawn.empty());  // a start only saves
    ASSERT_EQ(Feed(DragMessage(wdMoving, 0, 100, 50, 150, 80)), vwApplied);
    EXPECT_EQ(recorder.drawn, (std::vector<ViewRect>{{100, 50, 50, 30}}));
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 50; ++x) ASSERT_EQ(At(100 + x, 50 + y), Pattern(20 + x, 30 + y));
    }
    EXPECT_EQ(At(99, 50), Pattern(99, 50));
    EXPECT_EQ(At(150, 80), Pattern(150, 80));
    // A second move takes the same saved picture, not the moved copy.
    ASSERT_EQ(Feed(DragMessage(wdMoving, 0, 101, 50, 151, 80)), vwApplied);
    EXPECT_EQ(At(101, 50), Pattern(20, 30));
}

TEST_F(WindowDrag, WindowsPartlyOffTheScreenKeepTheirPlace) {
    // Saved from above-left of the screen, put below-right and then left.
    ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, -10, -5, 40, 25)), vwApplied);
    ASSERT_EQ(Feed(DragMessage(wdMoving, 0, 160, 100, 210, 130)), vwApplied);
    EXPECT_EQ(At(160 + 10, 100 + 5), Pattern(0, 0));
    EXPECT_EQ(At(199, 119), Pattern(39 - 10, 19 - 5));
    ASSERT_EQ(Feed(DragMessage(wdMoving, 0, -30, 0, 20, 30)), vwApplied);
    EXPECT_EQ(At(0, 5), Pattern(30 - 10, 0));
    EXPECT_EQ(recorder.drawn, (std::vector<ViewRect>{{160, 100, 40, 20}, {0, 0, 20, 30}}));
    // Far outside, and with sizes that would overflow 32 bits.
    ASSERT_EQ(Feed(DragMessage(wdMoving, 0, 5000, 5000, 5050, 5030)), vwApplied);
    ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX)),
              vwApplied);
    ASSERT_EQ(Feed(DragMessage(wdSizing, weBottomRight, INT32_MIN, 0, INT32_MAX, 10)), vwApplied);
    EXPECT_EQ(recorder.drawn.size(), 2u);
}

TEST_F(WindowDrag, ResizesDrawTheStripsOfTheDraggedEdges) {
    // Saved window 80 x 60 at 20, 30; proposed rectangle 10, 20 - 110, 100.
    // The right strip comes from the saved window's right edge (W - 24),
    // the bottom strip from its bottom edge (H - 24).
    ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, 20, 30, 100, 90)), vwApplied);
    ASSERT_EQ(Feed(DragMessage(wdSizing, weRight, 10, 20, 110, 100)), vwApplied);
    EXPECT_EQ(At(86, 20), Pattern(20 + 56, 30));
    ASSERT_EQ(Feed(DragMessage(wdSizing, weBottom, 10, 20, 110, 100)), vwApplied);
    EXPECT_EQ(At(10, 76), Pattern(20, 30 + 36));

    // Which strips each edge draws.
    const ViewRect top{10, 20, 100, 24}, bottom{10, 76, 100, 24};
    const ViewRect left{10, 20, 24, 80}, right{86, 20, 24, 80};
    struct Case {
        int32_t edge;
        std::vector<ViewRect> drawn;
    } cases[] = {
        {weLeft, {left}},
        {weRight, {right}},
        {weTop, {top}},
        {weBottom, {bottom}},
        {weTopLeft, {top, left}},
        {weTopRight, {top, right}},
        {weBottomLeft, {bottom, left}},
        {weBottomRight, {bottom, right}},
        {0, {}},
        {9, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, 20, 30, 100, 90)), vwApplied);
        recorder.drawn.clear();
        EXPECT_EQ(Feed(DragMessage(wdSizing, c.edge, 10, 20, 110, 100)),
                  c.drawn.empty() ? vwIgnored : vwApplied);
        EXPECT_EQ(recorder.drawn, c.drawn);
    }
}

TEST_F(WindowDrag, MovesWithoutAStartAndOtherEventsAreIgnored) {
    EXPECT_EQ(Feed(DragMessage(wdMoving, 0, 100, 50, 150, 80)), vwIgnored);
    EXPECT_EQ(Feed(DragMessage(wdSizing, weLeft, 100, 50, 150, 80)), vwIgnored);
    ASSERT_EQ(Feed(DragMessage(wdEnterSizeMove, 0, 20, 30, 70, 60)), vwApplied);
    EXPECT_EQ(Feed(DragMessage(562, 0, 100, 50, 150, 80)), vwIgnored);
    // A new screen forgets the drag: the save buffer holds no window.
    ASSERT_EQ(Feed(ScreenInfoMessage(24, kWidth, kHeight)), vwApplied);
    EXPECT_EQ(Feed(DragMessage(wdMoving, 0, 100, 50, 150, 80)), vwIgnored);
    Bytes cut = DragMessage(wdMoving, 0, 100, 50, 150, 80);
    cut.pop_back();
    EXPECT_EQ(Feed(cut), vwBadLength);
    EXPECT_TRUE(recorder.drawn.empty());
}

}  // namespace
}  // namespace velmora

#include "viewer/viewdispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "viewer/servermessages.h"
#include "viewer/viewcodes.h"

namespace velmora {
namespace {

using namespace velmora::testing;

constexpr int kWidth = 200, kHeight = 120;

struct Recorder : ViewObserver {
    std::vector<ViewRect> drawn;
    std::vector<std::pair<int, int>> answers;
    int screens = 0, pointers = 0, memberLists = 0;
    void OnScreenChanged(int, int) override { ++screens; }
    void OnPictureChanged(const ViewRect* rects, int count) override {
        drawn.insert(drawn.end(), rects, rects + count);
    }
    void OnPointerChanged() override { ++pointers; }
    void OnMemberListChanged() override { ++memberLists; }
    void OnControlAnswer(int flag, int code) override { answers.emplace_back(flag, code); }
};

// What FillBlock's pixel (x, r) (r = 0 the lowest row) shows in the picture.
uint32_t Expected(int depth, int x, int r, uint8_t seed) {
    const int v = (x * 7 + r * 13 + seed) & 0xFF;
    if (depth == 24) return 0xFF000000u | uint32_t{seed} << 16 | uint32_t(r) << 8 | uint32_t(x);
    if (depth == 16) {
        const int p = (v * 97) & 0x7FFF;
        return 0xFF000000u | uint32_t((p >> 10) * 8) << 16 | uint32_t(((p >> 5) & 31) * 8) << 8 |
               uint32_t((p & 31) * 8);
    }
    return 0xFF000000u | SHARED_PALETTE[v];
}

class Dispatcher : public ::testing::Test {
  protected:
    void SetUpScreen(int depth) {
        dispatcher.SetObserver(&recorder);
        ASSERT_EQ(
            dispatcher.SetScreen(MakeScreenInfo(static_cast<uint8_t>(depth), kWidth, kHeight)),
            vwApplied);
    }
    int Feed(const Bytes& message, bool control = false) {
        return dispatcher.Dispatch(message.data(), message.size(), control);
    }
    ViewImage Picture() {
        ViewImage image;
        EXPECT_TRUE(dispatcher.CopyPicture(&image));
        return image;
    }
    static TestBlock Block(int depth, int left, int bottom, int width, int height, uint8_t seed) {
        TestBlock b{left, bottom, width, height, {}};
        FillBlock(b, depth, seed);
        return b;
    }

    Recorder recorder;
    ViewDispatcher dispatcher;
};

TEST_F(Dispatcher, DrawsBlocksLowestRowFirstAtEveryDepth) {
    for (int depth : {24, 16, 8}) {
        SCOPED_TRACE(depth);
        SetUpScreen(depth);
        // A 22-pixel-wide block at the right edge (66-byte rows at depth 24)
        // and a full block touching the top.
        const std::vector<TestBlock> blocks = {Block(depth, kWidth - 22, kHeight, 22, 56, 3),
                                               Block(depth, 0, 56, 56, 56, 9)};
        recorder.drawn.clear();
        ASSERT_EQ(Feed(BlocksMessage(depth, blocks)), vwApplied);
        const ViewImage image = Picture();
        for (const TestBlock& b : blocks) {
            const uint8_t seed = b.left == 0 ? 9 : 3;
            for (int r = 0; r < b.height; ++r) {
                for (int x = 0; x < b.width; ++x) {
                    ASSERT_EQ(image.At(b.left + x, b.bottom - 1 - r), Expected(depth, x, r, seed))
                        << "x " << x << " row " << r;
                }
            }
        }
        EXPECT_EQ(image.At(100, 100), kOpaqueBlack);  // untouched
        EXPECT_EQ(recorder.drawn,
                  (std::vector<ViewRect>{{kWidth - 22, kHeight - 56, 22, 56}, {0, 0, 56, 56}}));
    }
}

TEST_F(Dispatcher, DropsUnsoundBlockMessagesWhole) {
    SetUpScreen(24);
    const TestBlock good = Block(24, 10, 60, 20, 20, 1);
    struct Case {
        const char* name;
        Bytes message;
        int code;
    } cases[] = {
        {"second block off the right edge",
         BlocksMessage(24, {good, Block(24, kWidth - 10, 60, 11, 5, 2)}), vwBadBlock},
        {"block above the top", BlocksMessage(24, {good, Block(24, 0, 3, 5, 4, 2)}), vwBadBlock},
        {"negative left", BlocksMessage(24, {good, Block(24, -1, 60, 5, 5, 2)}), vwBadBlock},
        {"count beyond the payload", BlocksMessage(24, {good}, 1), vwBadBlock},
        {"bytes after the last block", BlocksMessage(24, {good, good}, -1), vwBadBlock},
        {"expands to more than announced", BlocksMessage(24, {good}, 0, -1), vwBadStream},
        {"expands to less than announced", BlocksMessage(24, {good}, 0, 1), vwBadStream},
        {"other depth", BlocksMessage(16, {Block(16, 10, 60, 20, 20, 1)}), vwBadDepth},
        {"shorter than its header", Bytes(23, 0), vwBadLength},
    };
    // A block of width 0 or above 56 cannot be built with TestBlock's
    // packing; patch one header instead.
    Bytes wide = BlocksPayload({good});
    wide[2] = 57;
    const Bytes wideMessage = CompressedMessage(mtScreenBlocks, wide, 1, 24);
    const ViewImage before = Picture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Feed(c.message), c.code);
    }
    EXPECT_EQ(Feed(wideMessage), vwBadBlock);
    const ViewImage after = Picture();
    EXPECT_TRUE(std::equal(before.Pixels(), before.Pixels() + kWidth * kHeight, after.Pixels()));
    EXPECT_TRUE(recorder.drawn.empty());
    EXPECT_EQ(dispatcher.Figures().dropped, std::size(cases) + 1);
}

TEST_F(Dispatcher, ScreenDescriptionMakesANewBlackPictureAndUnusableOnesAreDropped) {
    SetUpScreen(24);
    ASSERT_EQ(Feed(BlocksMessage(24, {Block(24, 0, 10, 10, 10, 1)})), vwApplied);
    ASSERT_EQ(Feed(ScreenInfoMessage(16, 300, 50)), vwApplied);
    EXPECT_EQ(dispatcher.Width(), 300);
    EXPECT_EQ(dispatcher.Height(), 50);
    EXPECT_EQ(dispatcher.PixelAt(0, 0), kOpaqueBlack);
    EXPECT_EQ(Feed(BlocksMessage(24, {Block(24, 0, 10, 10, 10, 1)})), vwBadDepth);
    EXPECT_EQ(Feed(BlocksMessage(16, {Block(16, 290, 50, 10, 10, 1)})), vwApplied);

    for (const Bytes& bad : {ScreenInfoMessage(12, 300, 50), ScreenInfoMessage(16, 0, 50),
                             ScreenInfoMessage(24, 300, -5), ScreenInfoMessage(24, 30000, 50)}) {
        EXPECT_EQ(Feed(bad), vwBadScreen);
    }
    Bytes longer = ScreenInfoMessage(24, 100, 100);
    longer.push_back(0);
    EXPECT_EQ(Feed(longer), vwBadLength);
    EXPECT_EQ(dispatcher.Width(), 300);
    EXPECT_EQ(dispatcher.Screen().depth, 16);
    EXPECT_EQ(recorder.screens, 2);
}

TEST_F(Dispatcher, MemberListsControlAnswersAndOtherTypes) {
    SetUpScreen(24);
    ASSERT_EQ(Feed(MemberListMessage({{"10.0.0.2", false}, {"", false}, {"10.0.0.7", true}})),
              vwApplied);
    const std::vector<MemberList::Member> members = dispatcher.Members().Members();
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "10.0.0.2");
    EXPECT_EQ(members[1].name, "");  // a session still logging on
    EXPECT_TRUE(members[2].holdsControl);

    Bytes cut = MemberListMessage({{"10.0.0.2", false}});
    cut.pop_back();
    EXPECT_EQ(Feed(cut), vwBadLength);
    EXPECT_EQ(dispatcher.Members().Count(), 3);

    ASSERT_EQ(Feed(ControlAnswerMessage("10.0.0.9", 0, caTaken)), vwApplied);
    ASSERT_EQ(Feed(ControlAnswerMessage("", 1, caGranted)), vwApplied);
    EXPECT_EQ(recorder.answers, (std::vector<std::pair<int, int>>{{0, -2}, {1, 0}}));

    Bytes otherType = ControlAnswerMessage("", 1, 0);
    otherType[0] = 7;
    EXPECT_EQ(Feed(otherType), vwIgnored);
    EXPECT_EQ(recorder.memberLists, 1);
}

}  // namespace
}  // namespace velmora

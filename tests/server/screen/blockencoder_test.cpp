#include "server/screen/blockencoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "picturemodel.h"
#include "support/screenlike_frame.h"

namespace velmora {
namespace {

class BlockEncoderTest : public ::testing::Test {
  protected:
    void SetUp() override { grid.Build(frame.width, frame.height, frame.stride, 4); }
    FrameView View(size_t bytes) const { return {&grid, frame.pixels.data(), bytes}; }
    std::vector<int32_t> All() const {
        std::vector<int32_t> all;
        for (int n = 0; n < grid.Count(); ++n) all.push_back(n);
        return all;
    }

    // 1366 wide: the last column is 22 pixels wide; 100 high: the top row 44.
    const testing::ScreenlikeFrame frame = testing::MakeScreenlikeFrame(1366, 100, 5);
    BlockGrid grid;
};

TEST_F(BlockEncoderTest, WholeScreenDecodesToTheFrameAtEveryDepth) {
    BlockEncoder encoder;
    const auto all = All();
    for (int depth : {24, 16, 8}) {
        // Colour cache emptied as when the screen is mapped anew, so the
        // reference converter meets the cells in the same order.
        encoder.ClearColourCache();
        const int length =
            encoder.Encode(View(grid.FrameBytes()), all.data(), int(all.size()), depth);
        ASSERT_GT(length, 24) << depth;
        testing::PictureModel picture(frame.width, frame.height);
        EXPECT_EQ(picture.Apply(encoder.Message().data(), encoder.Message().size(),
                                frame.pixels.data(), frame.stride),
                  grid.Count())
            << depth;
        EXPECT_EQ(picture.Uncovered(), 0u) << depth;
        EXPECT_EQ(picture.Mismatches(), 0) << depth;
        EXPECT_EQ(picture.LastDepth(), depth);
        if (depth == 24) {
            // Top-left pixel: memory row height - 1, bytes green, blue, red.
            const uint8_t* src = frame.pixels.data() + size_t(frame.height - 1) * frame.stride;
            const uint8_t* got = picture.Pixel(0, 0);
            EXPECT_EQ(got[0], src[1]);
            EXPECT_EQ(got[1], src[0]);
            EXPECT_EQ(got[2], src[2]);
        }
    }
}

TEST_F(BlockEncoderTest, LeavesOutWhatLiesOutsideTheGridOrTheFrame) {
    BlockEncoder encoder;
    const int32_t outside[] = {-1, grid.Count(), 1 << 20};
    EXPECT_EQ(encoder.Encode(View(grid.FrameBytes()), outside, 3, 24), 0);
    // A frame cut short after the first grid row: only row-0 blocks remain.
    const auto all = All();
    const size_t firstRow = 56 * frame.stride;
    ASSERT_GT(encoder.Encode(View(firstRow), all.data(), int(all.size()), 24), 0);
    testing::PictureModel picture(frame.width, frame.height);
    EXPECT_EQ(picture.Apply(encoder.Message().data(), encoder.Message().size()), grid.Columns());
    EXPECT_EQ(encoder.Encode(View(grid.FrameBytes()), all.data(), 1, 12), amBadDepth);
}

}  // namespace
}  // namespace velmora

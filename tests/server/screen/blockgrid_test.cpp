#include "server/screen/blockgrid.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace velmora {
namespace {

TEST(BlockGrid, CutsTheScreenInto56PixelBlocksFromTheBottomRow) {
    struct Case {
        int width, height;
        int columns, rows;
        int lastColumnWidth, topRowHeight;
    };
    const Case cases[] = {
        {1024, 768, 19, 14, 16, 40},  // 266 blocks
        {1366, 768, 25, 14, 22, 40}, {1920, 1080, 35, 20, 16, 16},
        {56, 56, 1, 1, 56, 56},      {57, 1, 2, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        BlockGrid grid;
        const size_t stride = size_t(c.width) * 4;
        grid.Build(c.width, c.height, stride, 4);
        ASSERT_EQ(grid.Columns(), c.columns);
        ASSERT_EQ(grid.Rows(), c.rows);
        ASSERT_EQ(grid.Count(), c.columns * c.rows);
        EXPECT_EQ(grid.Block(c.columns - 1).width, c.lastColumnWidth);
        EXPECT_EQ(grid.Block(grid.Count() - 1).height, c.topRowHeight);
        EXPECT_EQ(grid.Block(grid.Count() - 1).width, c.lastColumnWidth);
        for (int k = 0; k < grid.Count(); ++k) {
            const int j = k / c.columns;
            const int i = k % c.columns;
            const ScreenBlock& b = grid.Block(k);
            ASSERT_EQ(b.offset, size_t(56 * j) * stride + size_t(56 * i) * 4) << k;
            ASSERT_EQ(b.left, 56 * i) << k;
            ASSERT_EQ(b.bottom, c.height - 56 * j) << k;
            // Its last row and column are inside the frame buffer.
            ASSERT_LE(b.offset + size_t(b.height - 1) * stride + size_t(b.width) * 4,
                      grid.FrameBytes())
                << k;
        }
    }
    BlockGrid grid;
    grid.Build(1024, 768, 4096, 4);
    EXPECT_EQ(grid.Count(), 266);
}

// Every block whose pixels meet the rectangle, and no other, in order:
// checked against the blocks' own screen rectangles for many rectangles
// (partly off the screen, empty or inverted).
TEST(BlockGrid, BlocksCoveringARectangleAreExactlyTheBlocksItTouches) {
    BlockGrid grid;
    grid.Build(300, 200, 1200, 4);  // 6 x 4 blocks; last column 20, top row 32
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(-80, 380);
    std::vector<int32_t> list(64);
    for (int n = 0; n < 2000; ++n) {
        int x0 = coordinate(random), x1 = coordinate(random);
        int y0 = coordinate(random), y1 = coordinate(random);
        const int count = grid.BlocksCovering(x0, y0, x1, y1, list.data(), int(list.size()));
        std::vector<int32_t> expected;
        for (int k = 0; k < grid.Count(); ++k) {
            const ScreenBlock& b = grid.Block(k);
            const int top = b.bottom - b.height;  // its screen rows are [top, bottom)
            if (x0 < x1 && y0 < y1 && b.left < x1 && x0 < b.left + b.width && top < y1 &&
                y0 < b.bottom) {
                expected.push_back(k);
            }
        }
        ASSERT_EQ(std::vector<int32_t>(list.begin(), list.begin() + count), expected)
            << x0 << "," << y0 << " - " << x1 << "," << y1;
    }
    // The list never grows beyond what the caller gave.
    EXPECT_EQ(grid.BlocksCovering(0, 0, 300, 200, list.data(), 5), 5);
    EXPECT_EQ(list[4], 4);
}

}  // namespace
}  // namespace velmora

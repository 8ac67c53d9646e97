#include "server/screen/changescanner.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

class ChangeScannerTest : public ::testing::Test {
  protected:
    void Make(int width, int height) {
        grid.Build(width, height, size_t(width) * 4, 4);
        frame.assign(grid.FrameBytes(), 0);
        ASSERT_TRUE(scanner.Reset(grid));
    }
    int Scan() {
        list.assign(1024, -1);
        const int n = scanner.Scan(frame.data(), frame.size(), grid, list.data(), capacity);
        list.resize(size_t(n));
        return n;
    }
    // Memory row `row` (0 = the bottom screen row), pixel x.
    void Touch(int row, int x) { frame[size_t(row) * grid.Stride() + size_t(x) * 4 + 2] ^= 0x5A; }

    BlockGrid grid;
    ChangeScanner scanner;
    std::vector<uint8_t> frame;
    std::vector<int32_t> list;
    int capacity = 1024;
};

// A change on row r of a block row is found on the pass p = r mod 16, so
// within 16 scans, and then only its blocks are reported.
TEST_F(ChangeScannerTest, AChangedRowIsFoundWithin16ScansAndOnlyItsBlocksAreReported) {
    Make(1024, 768);
    for (int row : {0, 7, 15, 16, 47, 55, 56 + 33, 767}) {
        SCOPED_TRACE(row);
        const int j = row / 56;
        // Three blocks of that row: the first, one in the middle, the last.
        Touch(row, 0);
        Touch(row, 500);
        Touch(row, 1023);
        const int wantPass = (row % 56) % 16;
        int scans = 0;
        while (Scan() == 0) {
            ASSERT_LT(++scans, 16) << "not found within 16 scans";
        }
        EXPECT_EQ((scanner.Pass() + 15) % 16, wantPass) << "found on the pass of its row";
        EXPECT_EQ(list, (std::vector<int32_t>{j * 19 + 0, j * 19 + 500 / 56, j * 19 + 18}));
        for (int pass = 0; pass < 16; ++pass)
            ASSERT_EQ(Scan(), 0) << "the reference took the change";
    }
}

TEST_F(ChangeScannerTest, ChangedBlocksBeyondTheListAreFoundOnTheNextScan) {
    Make(560, 112);  // 10 x 2 blocks
    for (int x = 0; x < 560; x += 56) {
        Touch(0, x);
        Touch(56, x);
    }
    capacity = 15;
    EXPECT_EQ(Scan(), 15);
    EXPECT_EQ(scanner.Pass(), 0) << "the pass waits for the blocks left out";
    EXPECT_EQ(Scan(), 5);
    EXPECT_EQ(list, (std::vector<int32_t>{15, 16, 17, 18, 19}));
    EXPECT_EQ(scanner.Pass(), 1);
}

TEST_F(ChangeScannerTest, CopiesWholeChangedBlocksIntoTheReferenceAndNothingElse) {
    Make(120, 60);  // 3 x 2 blocks; the top row is 4 rows high
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7 + 1);
    // Pass 0 samples rows 0, 16, 32 and 48 of every block: all differ.
    ASSERT_EQ(Scan(), 6);
    EXPECT_EQ(std::vector<uint8_t>(scanner.Reference(), scanner.Reference() + frame.size()), frame);
    // A frame shorter than the grid is never read.
    EXPECT_EQ(scanner.Scan(frame.data(), frame.size() - 1, grid, list.data(), 10), 0);
}

}  // namespace
}  // namespace velmora

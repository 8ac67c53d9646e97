#include "viewer/snapcompare.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

TEST(SnapCompare, CountsPixelsBeyondTheToleranceInAnyChannel) {
    const std::vector<uint32_t> screen = {0xFF000000, 0xFFFFFFFF, 0xFF102030, 0xFF808080};
    // The viewer's 5-bit levels of the same pixels, alpha ignored, and one
    // channel one step further off than depth 16 explains.
    const std::vector<uint32_t> viewer = {0x00000000, 0xFFF8F8F8, 0xFF102030, 0xFF808077};
    SnapDifference d = SnapCompare::Compare(viewer.data(), 2, 2, screen.data(), 2, 2,
                                            SnapCompare::kDepth16Tolerance);
    EXPECT_EQ(d.differing, 1u);
    EXPECT_EQ(d.largest, 9);
    EXPECT_EQ(d.firstX, 1);
    EXPECT_EQ(d.firstY, 1);
    EXPECT_FALSE(d.Match());
    d = SnapCompare::Compare(viewer.data(), 2, 2, screen.data(), 2, 2, 9);
    EXPECT_TRUE(d.Match());
    EXPECT_FALSE(SnapCompare::Compare(viewer.data(), 4, 1, screen.data(), 2, 2, 255).Match());
}

TEST(SnapCompare, PutsThePicturesSideBySideAndMarksDifferences) {
    const std::vector<uint32_t> a = {0xFF111111, 0xFF222222};        // 1 x 2
    const std::vector<uint32_t> b = {0xFF111111, 0xFF999999, 1, 2};  // 2 x 2
    std::vector<uint32_t> out;
    int width = 0, height = 0;
    SnapCompare::SideBySide(a.data(), 1, 2, b.data(), 2, 2, 0, true, &out, &width, &height);
    ASSERT_EQ(width, 1 + int(SnapCompare::kGap) + 2);
    ASSERT_EQ(height, 2);
    EXPECT_EQ(out[0], 0xFF111111u);
    EXPECT_EQ(out[1 + SnapCompare::kGap], 0xFF111111u);      // same as the left one
    EXPECT_EQ(out[1 + SnapCompare::kGap + 1], 0xFF999999u);  // no left pixel to differ from
    EXPECT_EQ(out[size_t(width) + 1 + SnapCompare::kGap], 0xFFFF00FFu);  // differs: marked
}

}  // namespace
}  // namespace velmora

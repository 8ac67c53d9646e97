#include "server/screen/tbitutil.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/byte_order.h"

namespace velmora {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

// A frame-buffer row (green, blue, red, unused) of the given colours.
std::vector<uint8_t> FrameRow(std::initializer_list<Rgb> colours) {
    std::vector<uint8_t> row;
    for (const Rgb& c : colours) row.insert(row.end(), {c.g, c.b, c.r, 0});
    return row;
}

TEST(SharedPalette, HoldsTheListedEntriesIncludingTheIrregularOnes) {
    const struct {
        int index;
        uint32_t rgb;
    } entries[] = {
        {0, 0x000000},   {5, 0xFFFFFF},   {6, 0x000033},   {16, 0xCCCC00},  {41, 0xFF00FF},
        {87, 0x996629},  {91, 0x290000},  {97, 0x29FFFF},  {106, 0xCC9729}, {133, 0x2966FF},
        {139, 0x2966FF}, {174, 0xFFCC99}, {179, 0xFF9966}, {213, 0x99FF00}, {215, 0xFF2966},
    };
    for (const auto& e : entries) EXPECT_EQ(SHARED_PALETTE[e.index], e.rgb) << e.index;
    for (int i = 216; i < 256; ++i) EXPECT_EQ(SHARED_PALETTE[i], 0u) << i;
}

// Each depth's bytes for a few frame pixels, and what the viewer makes of them.
TEST(TBitUtil, ConvertsEachDepthAndTheViewerExpandsItBack) {
    const struct {
        int depth;
        Rgb pixel;
        std::vector<uint8_t> packed;
        std::vector<uint8_t> shownBgr;
    } cases[] = {
        {24, {0x10, 0x20, 0x30}, {0x30, 0x20, 0x10}, {0x30, 0x20, 0x10}},
        {16, {0xFF, 0x00, 0x04}, {0x00, 0x7C}, {0x00, 0x00, 0xF8}},  // red 31, blue 4 -> 0
        {16, {0x08, 0x10, 0x05}, {0x41, 0x04}, {0x08, 0x10, 0x08}},  // 1, 2, 1
        {16, {0xFF, 0xFF, 0xFF}, {0xFF, 0x7F}, {0xF8, 0xF8, 0xF8}},
        {8, {0xCC, 0x97, 0x29}, {106}, {0x29, 0x97, 0xCC}},
        {8, {0xFF, 0xFF, 0xFF}, {5}, {0xFF, 0xFF, 0xFF}},
        {8, {0x30, 0x30, 0x30}, {1}, {0x33, 0x33, 0x33}},
        {8, {0xCC, 0xCC, 0x00}, {10}, {0x00, 0xCC, 0xCC}},  // also entry 16: the lower wins
        {8, {0x00, 0x00, 0x00}, {0}, {0, 0, 0}},            // never a black entry >= 216
    };
    for (const auto& c : cases) {
        TBitUtil util;
        const std::vector<uint8_t> row = FrameRow({c.pixel});
        std::vector<uint8_t> packed(4, 0xEE);
        ASSERT_EQ(util.ConvertRow(row.data(), 1, c.depth, packed.data()), c.packed.size());
        packed.resize(c.packed.size());
        EXPECT_EQ(packed, c.packed) << "depth " << c.depth;
        std::vector<uint8_t> bgr(3);
        EXPECT_EQ(ExpandRowToBgr(packed.data(), 1, c.depth, bgr.data()), c.packed.size());
        EXPECT_EQ(bgr, c.shownBgr) << "depth " << c.depth;
    }
}

TEST(TBitUtil, SixteenBitTopBitIsIgnoredAndUnknownDepthsHaveNoFormat) {
    const uint8_t pixel[2] = {0x1F, 0x80};  // blue 31 with bit 15 set
    uint8_t bgr[3] = {};
    ASSERT_EQ(ExpandRowToBgr(pixel, 1, 16, bgr), 2u);
    EXPECT_EQ(bgr[0], 0xF8);
    EXPECT_EQ(bgr[2], 0x00);
    TBitUtil util;
    const std::vector<uint8_t> row = FrameRow({{1, 2, 3}});
    uint8_t out[4] = {};
    for (int depth : {0, 4, 12, 32}) {
        EXPECT_EQ(util.ConvertRow(row.data(), 1, depth, out), 0u);
        EXPECT_EQ(ExpandRowToBgr(out, 1, depth, bgr), 0u);
    }
}

// The closed form for the 5-5-5 grid must agree with a search of all its
// 32768 entries (least squared distance, lowest index on ties).
TEST(TBitUtil, Nearest555MatchesAFullSearchOfThePalette) {
    std::vector<Rgb> colours = {{0, 0, 0}, {4, 4, 4}, {5, 12, 3}, {252, 251, 255}, {255, 0, 128}};
    std::mt19937 rng(11);
    for (int i = 0; i < 120; ++i) {
        colours.push_back({static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                           static_cast<uint8_t>(rng())});
    }
    for (const Rgb& c : colours) {
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < 32768; ++i) {
            const uint32_t p = Palette555(static_cast<uint16_t>(i));
            const int dr = static_cast<int>(p >> 16) - c.r;
            const int dg = static_cast<int>((p >> 8) & 255) - c.g;
            const int db = static_cast<int>(p & 255) - c.b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) bestDistance = d, best = i;
        }
        EXPECT_EQ(TBitUtil::Nearest555(c.r, c.g, c.b), best)
            << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST(TBitUtil, CacheGivesACellTheIndexOfItsFirstColourUntilCleared) {
    // Red 5 and red 2 share the cell of red5 = 0 but have different nearest
    // levels (1 and 0).
    const std::vector<uint8_t> row = FrameRow({{5, 0, 0}, {2, 0, 0}});
    const std::vector<uint8_t> reversed = FrameRow({{2, 0, 0}, {5, 0, 0}});
    TBitUtil util;
    uint8_t out[4];
    util.ConvertRow(row.data(), 2, 16, out);
    EXPECT_EQ(LoadLe<uint16_t>(out), 1 << 10);
    EXPECT_EQ(LoadLe<uint16_t>(out + 2), 1 << 10);
    util.ClearCache();
    util.ConvertRow(reversed.data(), 2, 16, out);
    EXPECT_EQ(LoadLe<uint16_t>(out), 0);
    EXPECT_EQ(LoadLe<uint16_t>(out + 2), 0);
}

TEST(TBitUtil, ChangingBetweenSixteenAndEightBitsDoesNotReuseIndices) {
    const std::vector<uint8_t> row = FrameRow({{0xFF, 0xFF, 0xFF}});
    TBitUtil util;
    uint8_t out[2];
    util.ConvertRow(row.data(), 1, 16, out);
    util.ConvertRow(row.data(), 1, 8, out);
    EXPECT_EQ(out[0], 5);
    util.ConvertRow(row.data(), 1, 16, out);
    EXPECT_EQ(LoadLe<uint16_t>(out), 0x7FFF);
}

}  // namespace
}  // namespace velmora

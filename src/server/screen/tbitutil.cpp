#include "server/screen/tbitutil.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace velmora {
namespace {

constexpr int CellKey(uint8_t red, uint8_t green, uint8_t blue) {
    return (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3);
}

// Nearest of the levels 0, 8, .., 248 to an 8-bit channel value, the lower
// one on ties (4 lies between 0 and 8 and takes 0).
constexpr int NearestLevel(int value) {
    return std::min(31, (value + 3) >> 3);
}

}  // namespace

void TBitUtil::ClearCache() {
    cache_.fill(-1);
    cacheDepth_ = 0;
}

// The 5-5-5 palette is the full grid of levels, so the squared distance is a
// sum of independent channel terms and the nearest entry is the nearest level
// of each channel; taking the lower level on ties gives the lowest index.
uint16_t TBitUtil::Nearest555(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<uint16_t>(NearestLevel(red) << 10 | NearestLevel(green) << 5 |
                                 NearestLevel(blue));
}

uint8_t TBitUtil::NearestShared(uint8_t red, uint8_t green, uint8_t blue) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < static_cast<int>(SHARED_PALETTE.size()); ++i) {
        const uint32_t c = SHARED_PALETTE[static_cast<size_t>(i)];
        const int dr = static_cast<int>((c >> 16) & 255) - red;
        const int dg = static_cast<int>((c >> 8) & 255) - green;
        const int db = static_cast<int>(c & 255) - blue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

size_t TBitUtil::ConvertRow(const uint8_t* frameRow, int width, int depth, uint8_t* out) {
    const int bpp = BytesPerPixel(depth);
    if (bpp == 0 || width <= 0) return 0;
    if (depth == 24) {
        for (int x = 0; x < width; ++x, frameRow += 4, out += 3) {
            out[0] = frameRow[1];  // blue
            out[1] = frameRow[0];  // green
            out[2] = frameRow[2];  // red
        }
        return static_cast<size_t>(width) * 3;
    }
    if (cacheDepth_ != depth) {
        cache_.fill(-1);
        cacheDepth_ = depth;
    }
    for (int x = 0; x < width; ++x, frameRow += 4) {
        const uint8_t green = frameRow[0], blue = frameRow[1], red = frameRow[2];
        int16_t& entry = cache_[static_cast<size_t>(CellKey(red, green, blue))];
        if (entry < 0) {
            entry = static_cast<int16_t>(depth == 16 ? Nearest555(red, green, blue)
                                                     : NearestShared(red, green, blue));
        }
        if (depth == 16) {
            StoreLe<uint16_t>(out, static_cast<uint16_t>(entry));
            out += 2;
        } else {
            *out++ = static_cast<uint8_t>(entry);
        }
    }
    return static_cast<size_t>(width) * static_cast<size_t>(bpp);
}

size_t TBitUtil::ConvertBlock(const uint8_t* first, size_t stride, int width, int height, int depth,
                              uint8_t* out) {
    size_t written = 0;
    for (int y = 0; y < height; ++y) {
        written += ConvertRow(first + static_cast<size_t>(y) * stride, width, depth, out + written);
    }
    return written;
}

size_t ExpandRowToBgr(const uint8_t* row, int width, int depth, uint8_t* bgr) {
    const int bpp = BytesPerPixel(depth);
    if (bpp == 0 || width <= 0) return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(bpp);
    if (depth == 24) {
        std::copy_n(row, bytes, bgr);
        return bytes;
    }
    for (int x = 0; x < width; ++x, bgr += 3) {
        // Bit 15 of a 16-bit pixel is not part of the colour.
        const uint32_t rgb = depth == 16 ? Palette555(LoadLe<uint16_t>(row + x * 2) & 0x7FFF)
                                         : SHARED_PALETTE[row[x]];
        bgr[0] = static_cast<uint8_t>(rgb);
        bgr[1] = static_cast<uint8_t>(rgb >> 8);
        bgr[2] = static_cast<uint8_t>(rgb >> 16);
    }
    return bytes;
}

}  // namespace velmora

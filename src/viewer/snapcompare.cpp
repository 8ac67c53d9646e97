#include "viewer/snapcompare.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace velmora {
namespace {

constexpr uint32_t kGround = 0xFF202020u;
constexpr uint32_t kMark = 0xFFFF00FFu;

int ChannelDifference(uint32_t p, uint32_t q) {
    int largest = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d =
            std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF));
        largest = std::max(largest, d);
    }
    return largest;
}

}  // namespace

std::string SnapDifference::Describe(int tolerance) const {
    if (!sameSize) return "the pictures differ in size";
    if (differing == 0) {
        return "the pictures match (" + std::to_string(pixels) + " pixels, largest difference " +
               std::to_string(largest) + ", tolerance " + std::to_string(tolerance) + ")";
    }
    return "the pictures differ: " + std::to_string(differing) + " of " + std::to_string(pixels) +
           " pixels by more than " + std::to_string(tolerance) + " (largest " +
           std::to_string(largest) + "; first at " + std::to_string(firstX) + "," +
           std::to_string(firstY) + ")";
}

SnapDifference SnapCompare::Compare(const uint32_t* a, int aWidth, int aHeight, const uint32_t* b,
                                    int bWidth, int bHeight, int tolerance) {
    SnapDifference d;
    d.sameSize = aWidth == bWidth && aHeight == bHeight && aWidth > 0 && aHeight > 0;
    if (!d.sameSize) return d;
    for (int y = 0; y < aHeight; ++y) {
        for (int x = 0; x < aWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * aWidth + x;
            const int diff = ChannelDifference(a[i], b[i]);
            d.largest = std::max(d.largest, diff);
            if (diff > tolerance) {
                if (d.differing++ == 0) d.firstX = x, d.firstY = y;
            }
        }
    }
    d.pixels = static_cast<uint64_t>(aWidth) * aHeight;
    return d;
}

void SnapCompare::SideBySide(const uint32_t* a, int aWidth, int aHeight, const uint32_t* b,
                             int bWidth, int bHeight, int tolerance, bool mark,
                             std::vector<uint32_t>* out, int* width, int* height) {
    *width = aWidth + static_cast<int>(kGap) + bWidth;
    *height = std::max(aHeight, bHeight);
    out->assign(static_cast<size_t>(*width) * static_cast<size_t>(*height), kGround);
    for (int y = 0; y < *height; ++y) {
        uint32_t* row = out->data() + static_cast<size_t>(y) * *width;
        if (y < aHeight) std::copy_n(a + static_cast<size_t>(y) * aWidth, aWidth, row);
        if (y >= bHeight) continue;
        uint32_t* right = row + aWidth + kGap;
        const uint32_t* source = b + static_cast<size_t>(y) * bWidth;
        for (int x = 0; x < bWidth; ++x) {
            const bool differs =
                mark && y < aHeight && x < aWidth &&
                ChannelDifference(source[x], a[static_cast<size_t>(y) * aWidth + x]) > tolerance;
            right[x] = differs ? kMark : source[x];
        }
    }
}

}  // namespace velmora

// A screen image in the screen file's pixel layout (32-bit green-blue-red
// pixels, rows bottom-up), addressed by top-down screen coordinates. It does
// not own its pixels: it views the screen file's mapping or a test buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "mirror/ztvlshare.h"

namespace velmora {

// A rectangle in top-down screen coordinates; right and bottom are exclusive.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    ScreenRect Intersect(const ScreenRect& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    bool operator==(const ScreenRect&) const = default;
};

struct FrameCanvas {
    uint8_t* pixels = nullptr;  // the first image row in memory: the bottom screen row
    int width = 0;
    int height = 0;

    size_t Stride() const { return ScreenStride(static_cast<uint32_t>(width)); }
    ScreenRect Bounds() const { return {0, 0, width, height}; }
    // The first pixel of top-down screen row y (0 <= y < height).
    uint8_t* Row(int y) const { return pixels + static_cast<size_t>(height - 1 - y) * Stride(); }
    void Put(int x, int y, uint32_t packed) const { StorePixel(Row(y) + size_t(x) * 4, packed); }
    uint32_t Get(int x, int y) const { return LoadLe<uint32_t>(Row(y) + size_t(x) * 4); }
};

}  // namespace velmora

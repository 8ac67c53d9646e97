#include "viewer/viewimage.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace velmora {

bool ViewImage::Reset(int width, int height, uint32_t fill) {
    Clear();
    if (width <= 0 || height <= 0) return true;
    try {
        pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

void ViewImage::Clear() {
    std::vector<uint32_t>().swap(pixels_);
    width_ = height_ = 0;
}

uint32_t ViewImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return Row(y)[x];
}

ViewRect ViewImage::Clip(const ViewRect& rect) const {
    const int64_t left = std::max<int64_t>(rect.x, 0);
    const int64_t top = std::max<int64_t>(rect.y, 0);
    const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, width_);
    const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, height_);
    if (right <= left || bottom <= top) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

ViewRect ViewImage::CopyFrom(const ViewImage& source, int64_t sx, int64_t sy, int64_t width,
                             int64_t height, int64_t dx, int64_t dy) {
    if (width <= 0 || height <= 0) return {};
    // Move both corners right/down until each lies on its picture, then cut
    // the size to what is left on both.
    const int64_t shiftX = std::max<int64_t>({0, -sx, -dx});
    const int64_t shiftY = std::max<int64_t>({0, -sy, -dy});
    sx += shiftX, dx += shiftX, width -= shiftX;
    sy += shiftY, dy += shiftY, height -= shiftY;
    width = std::min<int64_t>({width, int64_t{source.width_} - sx, int64_t{width_} - dx});
    height = std::min<int64_t>({height, int64_t{source.height_} - sy, int64_t{height_} - dy});
    if (width <= 0 || height <= 0) return {};
    const size_t rowBytes = static_cast<size_t>(width) * sizeof(uint32_t);
    for (int64_t row = 0; row < height; ++row) {
        std::memmove(Row(static_cast<int>(dy + row)) + dx,
                     source.Row(static_cast<int>(sy + row)) + sx, rowBytes);
    }
    return {static_cast<int>(dx), static_cast<int>(dy), static_cast<int>(width),
            static_cast<int>(height)};
}

}  // namespace velmora

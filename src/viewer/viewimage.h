// A plain 32-bit picture: the viewer's back buffer, its save buffer and the
// remote pointer's image. Pixels are 0xAARRGGBB, rows top-down with no
// padding (the layout of a 32-bit RGB or ARGB image of the window toolkit,
// and of pngcodec.h). Every operation clips to the picture: nothing can
// write outside it, whatever rectangle it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

inline constexpr uint32_t kOpaqueBlack = 0xFF000000u;

// A rectangle by its top-left corner and size; empty when a size is <= 0.
struct ViewRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    bool operator==(const ViewRect&) const = default;
};

class ViewImage {
  public:
    ViewImage() = default;

    // Makes the picture width x height (sides of 0 or less give an empty
    // picture), every pixel `fill`. False when the memory cannot be had;
    // the picture is then empty.
    bool Reset(int width, int height, uint32_t fill = kOpaqueBlack);
    void Clear();

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return pixels_.empty(); }
    const uint32_t* Pixels() const { return pixels_.data(); }
    uint32_t* Pixels() { return pixels_.data(); }
    // Row y; the caller keeps 0 <= y < Height().
    uint32_t* Row(int y) { return pixels_.data() + static_cast<size_t>(width_) * y; }
    const uint32_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(width_) * y; }
    // The pixel at x, y, or 0 outside the picture.
    uint32_t At(int x, int y) const;

    // The part of `rect` that lies on the picture (empty when none does).
    ViewRect Clip(const ViewRect& rect) const;

    // Copies the width x height area at sx, sy of `source` to dx, dy of this
    // picture. The area is cut to what lies inside both pictures, the source
    // and target corners moving together, so a window partly off the screen
    // keeps its place. `source` may be this picture only when the two areas
    // do not overlap. Coordinates are 64-bit so that sums of any two 32-bit
    // values a message carries cannot overflow. Returns the area written on
    // this picture (in its coordinates; empty when nothing was).
    ViewRect CopyFrom(const ViewImage& source, int64_t sx, int64_t sy, int64_t width,
                      int64_t height, int64_t dx, int64_t dy);

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
};

}  // namespace velmora

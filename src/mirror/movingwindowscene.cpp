#include "mirror/movingwindowscene.h"

#include <algorithm>

namespace velmora {
namespace {

// Position t on a path that bounces between 0 and range.
int Bounce(uint64_t t, int range) {
    if (range <= 0) return 0;
    const uint64_t period = uint64_t(range) * 2;
    const auto p = int(t % period);
    return p <= range ? p : 2 * range - p;
}

}  // namespace

MovingWindowScene::MovingWindowScene(int width, int height)
    : SyntheticScene(width, height),
      windowWidth_(std::min(480, std::max(1, width / 2))),
      windowHeight_(std::min(320, std::max(1, (height - kTaskBarHeight) / 2))) {}

ScreenRect MovingWindowScene::WindowAt(uint32_t frame) const {
    const int x = Bounce(uint64_t(frame) * 8, Width() - windowWidth_);
    const int y = Bounce(uint64_t(frame) * 6, Height() - kTaskBarHeight - windowHeight_);
    return {x, y, x + windowWidth_, y + windowHeight_};
}

uint32_t MovingWindowScene::PixelAt(uint32_t frame, int x, int y) const {
    const ScreenRect w = WindowAt(frame);
    if (x < w.left || x >= w.right || y < w.top || y >= w.bottom) return DesktopAt(x, y);
    const int wx = x - w.left;
    const int wy = y - w.top;
    if (wy < kTitleHeight) return kTitle;
    // The window's own content moves with it: lines of text on white.
    const int ty = wy - kTitleHeight - 8;
    if (wx < 8 || ty < 0) return kPaper;
    const auto index = uint32_t(ty / kCellHeight) * 64 + uint32_t((wx - 8) / kCellWidth);
    return GlyphInk(index, (wx - 8) % kCellWidth, ty % kCellHeight) ? kInk : kPaper;
}

void MovingWindowScene::Damage(uint32_t frame, std::vector<ScreenRect>& out) const {
    if (frame == 0) return;
    const ScreenRect before = WindowAt(frame - 1).Intersect(Bounds());
    const ScreenRect after = WindowAt(frame).Intersect(Bounds());
    if (before == after) return;
    if (!before.Empty()) out.push_back(before);
    if (!after.Empty()) out.push_back(after);
}

void MovingWindowScene::PointerAt(uint32_t frame, int* x, int* y) const {
    const ScreenRect w = WindowAt(frame);
    *x = std::min(w.left + 40, Width() - 1);
    *y = std::min(w.top + kTitleHeight / 2, Height() - 1);
}

}  // namespace velmora

#include "mirror/syntheticscene.h"

#include <algorithm>

#include "mirror/movingwindowscene.h"
#include "mirror/noisescene.h"
#include "mirror/scrollingtextscene.h"
#include "mirror/staticdesktopscene.h"
#include "mirror/typingscene.h"

namespace velmora {

std::unique_ptr<SyntheticScene> SyntheticScene::Make(std::string_view name, int width, int height) {
    if (width < 1 || height < 1) return nullptr;
    if (name == "static") return std::make_unique<StaticDesktopScene>(width, height);
    if (name == "typing") return std::make_unique<TypingScene>(width, height);
    if (name == "scrolling") return std::make_unique<ScrollingTextScene>(width, height);
    if (name == "window") return std::make_unique<MovingWindowScene>(width, height);
    if (name == "noise") return std::make_unique<NoiseScene>(width, height);
    return nullptr;
}

void SyntheticScene::PointerAt(uint32_t /*frame*/, int* x, int* y) const {
    *x = width_ / 2;
    *y = height_ / 2;
}

void SyntheticScene::Draw(uint32_t frame, const ScreenRect& area, const FrameCanvas& canvas) const {
    const ScreenRect r = area.Intersect(Bounds()).Intersect(canvas.Bounds());
    if (r.Empty()) return;
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* row = canvas.Row(y);
        for (int x = r.left; x < r.right; ++x)
            StorePixel(row + size_t(x) * 4, PixelAt(frame, x, y));
    }
}

uint32_t SyntheticScene::Hash(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h =
        a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

uint32_t SyntheticScene::DesktopAt(int x, int y) const {
    if (y >= height_ - kTaskBarHeight) {
        return y == height_ - kTaskBarHeight ? PackPixel(240, 240, 240) : PackPixel(192, 192, 192);
    }
    // Icons: 32 x 32 squares down the left edge, 72 pixels apart.
    if (x >= 16 && x < 48 && y >= 16) {
        const int slot = (y - 16) / 72;
        if ((y - 16) % 72 < 32 && slot < 6) {
            const uint32_t h = Hash(static_cast<uint32_t>(slot), 1, 2);
            return PackPixel(uint8_t(h), uint8_t(h >> 8), uint8_t(h >> 16));
        }
    }
    const int shade = height_ > 1 ? 48 * y / (height_ - 1) : 0;
    return PackPixel(uint8_t(32 - shade / 3), uint8_t(112 - shade), uint8_t(144 - shade));
}

ScreenRect SyntheticScene::EditorFrame() const {
    const int top = height_ / 8;
    const int bottom = std::max(top, height_ - kTaskBarHeight - height_ / 8);
    return {width_ / 8, top, width_ - width_ / 8, bottom};
}

ScreenRect SyntheticScene::TextArea() const {
    const ScreenRect f = EditorFrame();
    const int left = f.left + 8;
    const int top = f.top + kTitleHeight + 8;
    const int cols = std::max(0, (f.right - 8 - left) / kCellWidth);
    const int rows = std::max(0, (f.bottom - 8 - top) / kCellHeight);
    return {left, top, left + cols * kCellWidth, top + rows * kCellHeight};
}

uint32_t SyntheticScene::EditorChromeAt(int x, int y) const {
    const ScreenRect f = EditorFrame();
    if (x < f.left || x >= f.right || y < f.top || y >= f.bottom) return DesktopAt(x, y);
    return y < f.top + kTitleHeight ? kTitle : kPaper;
}

bool SyntheticScene::GlyphInk(uint32_t index, int gx, int gy) {
    const uint32_t h = Hash(index, 0x51, 0x7);
    if (h % 6 == 0) return false;  // a space between words
    if (gx < 1 || gx > 6 || gy < 3 || gy > 12) return false;
    // A few strokes per glyph: a stem, a bar and a bowl picked by the hash.
    const bool stem = ((h >> 3) & 1) != 0 && gx == 1 + int((h >> 4) % 5);
    const bool bar = ((h >> 7) & 1) != 0 && gy == 3 + int((h >> 8) % 10);
    const bool bowl =
        ((h >> 12) & 1) != 0 && gy >= 7 && (gx == 1 || gx == 6 || gy == 7 || gy == 12);
    return stem || bar || bowl;
}

}  // namespace velmora

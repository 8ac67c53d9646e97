// Deterministic scripted screens for the synthetic screen source: what a
// desktop shows at frame n of a scene, and what changed from frame n - 1.
//
// Every scene is a pure function of (frame, x, y): drawing frame n over any
// set of rectangles that covers the screen gives the same image, so tests
// and benchmarks can predict the screen file's content from the frame number
// alone, and the source only redraws the rectangles that Damage reports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mirror/framecanvas.h"

namespace velmora {

class SyntheticScene {
  public:
    // The scene names the source accepts, for its help text.
    static constexpr const char* kNames[] = {"static", "typing", "scrolling", "window", "noise"};

    // The scene of that name for a width x height screen; nullptr for an
    // unknown name.
    static std::unique_ptr<SyntheticScene> Make(std::string_view name, int width, int height);

    virtual ~SyntheticScene() = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    ScreenRect Bounds() const { return {0, 0, width_, height_}; }

    // The pixel (packed as stored) at (x, y) in frame `frame`.
    virtual uint32_t PixelAt(uint32_t frame, int x, int y) const = 0;
    // Rectangles, inside the screen, that hold every pixel that differs
    // between frame - 1 and frame (frame >= 1); may be empty.
    virtual void Damage(uint32_t frame, std::vector<ScreenRect>& out) const = 0;
    // Where the pointer's hot spot is in frame `frame`.
    virtual void PointerAt(uint32_t frame, int* x, int* y) const;

    // Draws the part `area` (clipped to the screen and the canvas) of frame
    // `frame` into the canvas.
    virtual void Draw(uint32_t frame, const ScreenRect& area, const FrameCanvas& canvas) const;

  protected:
    SyntheticScene(int width, int height) : width_(width), height_(height) {}

    // A well-mixed 32-bit hash of three values.
    static uint32_t Hash(uint32_t a, uint32_t b, uint32_t c);
    // The empty desktop: a gradient, a few icons and a task bar.
    uint32_t DesktopAt(int x, int y) const;
    // The text window of the typing and scrolling scenes: its frame and the
    // text area inside it (a whole number of 8 x 16 cells).
    ScreenRect EditorFrame() const;
    ScreenRect TextArea() const;
    // The editor window without its text: title bar, white body; the
    // desktop outside it.
    uint32_t EditorChromeAt(int x, int y) const;
    // Whether pixel (gx, gy) of the 8 x 16 glyph of character `index` is ink.
    static bool GlyphInk(uint32_t index, int gx, int gy);

    static constexpr int kCellWidth = 8;
    static constexpr int kCellHeight = 16;
    static constexpr int kTaskBarHeight = 32;
    static constexpr int kTitleHeight = 20;
    static constexpr uint32_t kInk = PackPixel(0, 0, 0);
    static constexpr uint32_t kPaper = PackPixel(255, 255, 255);
    static constexpr uint32_t kTitle = PackPixel(0, 64, 160);

  private:
    int width_;
    int height_;
};

}  // namespace velmora

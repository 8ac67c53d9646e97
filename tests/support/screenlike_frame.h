// A deterministic desktop picture for codec tests and benchmarks: a gradient
// wallpaper with icons, overlapping windows with title bars and lines of
// anti-aliased text, a photo-like area and a task bar. Integer arithmetic
// only, so the same seed gives the same bytes on every machine.
//
// The result is laid out like the screen file's frame buffer: rows bottom-up
// (memory row 0 is the lowest screen row), 4 bytes per pixel in the order
// green, blue, red, unused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace velmora::testing {

struct ScreenlikeFrame {
    int width = 0;
    int height = 0;
    size_t stride = 0;            // bytes per memory row
    std::vector<uint8_t> pixels;  // stride * height bytes
};

namespace screenlike_detail {

struct Lcg {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int Range(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

constexpr int kGlyphW = 7, kGlyphH = 12, kGlyphs = 64;

class Canvas {
  public:
    Canvas(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w) * h, 0) {}
    int W() const { return w_; }
    int H() const { return h_; }
    uint32_t Get(int x, int y) const { return px_[static_cast<size_t>(y) * w_ + x]; }
    void Set(int x, int y, uint32_t rgb) {
        if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[static_cast<size_t>(y) * w_ + x] = rgb;
    }
    void Fill(int x, int y, int w, int h, uint32_t rgb) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Set(i, j, rgb);
    }
    // Mixes rgb over the pixel with coverage a (0..255), as text is smoothed.
    void Blend(int x, int y, uint32_t rgb, int a) {
        if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
        const uint32_t bg = Get(x, y);
        uint32_t out = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int f = (rgb >> shift) & 255, b = (bg >> shift) & 255;
            out |= static_cast<uint32_t>((b * (255 - a) + f * a) / 255) << shift;
        }
        Set(x, y, out);
    }

  private:
    int w_, h_;
    std::vector<uint32_t> px_;
};

inline uint32_t Rgb(int r, int g, int b) {
    return static_cast<uint32_t>((r & 255) << 16 | (g & 255) << 8 | (b & 255));
}
// Triangle wave 0..255..0 with period 512.
inline int Tri(int v) {
    const int t = std::abs((v & 511) - 256);
    return t > 255 ? 255 : t;
}

// Glyph 0 is a space; the others are strokes with softened edges.
inline std::vector<uint8_t> MakeFont(Lcg& rng) {
    std::vector<uint8_t> font(kGlyphs * kGlyphW * kGlyphH, 0);
    for (int g = 1; g < kGlyphs; ++g) {
        uint8_t* cov = &font[static_cast<size_t>(g) * kGlyphW * kGlyphH];
        auto stroke = [&](int x, int y, int v) {
            if (x >= 0 && y >= 0 && x < kGlyphW && y < kGlyphH && cov[y * kGlyphW + x] < v)
                cov[y * kGlyphW + x] = static_cast<uint8_t>(v);
        };
        const int strokes = 2 + rng.Range(3);
        for (int s = 0; s < strokes; ++s) {
            if (rng.Range(2) == 0) {  // vertical
                const int x = 1 + rng.Range(5), y0 = 2 + rng.Range(3), y1 = 8 + rng.Range(3);
                for (int y = y0; y <= y1; ++y) {
                    stroke(x, y, 255);
                    stroke(x + 1, y, 90);
                    stroke(x - 1, y, 40);
                }
            } else {  // horizontal
                const int y = 2 + rng.Range(9), x0 = rng.Range(3), x1 = 3 + rng.Range(3);
                for (int x = x0; x <= x1; ++x) {
                    stroke(x, y, 255);
                    stroke(x, y + 1, 70);
                }
            }
        }
    }
    return font;
}

inline void Text(Canvas& c, const std::vector<uint8_t>& font, Lcg& rng, int x, int y, int chars,
                 uint32_t rgb) {
    for (int i = 0; i < chars; ++i) {
        const int g = rng.Range(6) == 0 ? 0 : 1 + rng.Range(kGlyphs - 1);
        const uint8_t* cov = &font[static_cast<size_t>(g) * kGlyphW * kGlyphH];
        for (int j = 0; j < kGlyphH; ++j)
            for (int k = 0; k < kGlyphW; ++k)
                if (cov[j * kGlyphW + k] != 0) c.Blend(x + k, y + j, rgb, cov[j * kGlyphW + k]);
        x += kGlyphW;
    }
}

inline void Window(Canvas& c, const std::vector<uint8_t>& font, Lcg& rng, int x, int y, int w,
                   int h, bool photo) {
    c.Fill(x - 1, y - 1, w + 2, h + 2, Rgb(128, 128, 128));
    for (int i = 0; i < w; ++i) {  // title bar gradient
        const int t = i * 255 / (w > 1 ? w - 1 : 1);
        c.Fill(
            x + i, y, 1, 24,
            Rgb(31 + (106 - 31) * t / 255, 78 + (155 - 78) * t / 255, 153 + (216 - 153) * t / 255));
    }
    Text(c, font, rng, x + 8, y + 6, 12 + rng.Range(10), Rgb(255, 255, 255));
    for (int b = 0; b < 3; ++b) c.Fill(x + w - 22 * (b + 1), y + 4, 18, 16, Rgb(200, 200, 210));
    c.Fill(x, y + 24, w, 28, Rgb(240, 240, 240));  // tool bar
    for (int b = 0; b < w / 40 - 1; ++b) c.Fill(x + 6 + b * 34, y + 28, 24, 20, Rgb(220, 224, 232));
    c.Fill(x, y + 52, w, h - 52, Rgb(255, 255, 255));
    int textBottom = y + h;
    if (photo) {  // a smooth picture in the lower half
        const int py = y + 52 + (h - 52) / 2, ph = y + h - py - 8;
        for (int j = 0; j < ph; ++j)
            for (int i = 0; i < w - 16; ++i)
                c.Set(x + 8 + i, py + j,
                      Rgb(Tri(i * 3 + j) / 2 + 60, Tri(j * 2 + Tri(i)) / 2 + 50,
                          Tri(i + j * 2 + 128) / 2 + 40));
        textBottom = py;
    }
    for (int line = y + 60; line + 16 < textBottom; line += 16) {
        const int chars = rng.Range((w - 24) / kGlyphW);
        const uint32_t ink = rng.Range(8) == 0 ? Rgb(20, 60, 200) : Rgb(32, 32, 32);
        Text(c, font, rng, x + 10, line, chars, ink);
    }
}

}  // namespace screenlike_detail

inline ScreenlikeFrame MakeScreenlikeFrame(int width, int height, uint32_t seed = 1) {
    using namespace screenlike_detail;
    Lcg rng{seed};
    const std::vector<uint8_t> font = MakeFont(rng);
    Canvas c(width, height);
    for (int y = 0; y < height; ++y)  // wallpaper
        for (int x = 0; x < width; ++x)
            c.Set(x, y,
                  Rgb(20 + 40 * y / height, 70 + 60 * y / height + 10 * x / width,
                      120 + 80 * (height - y) / height));
    for (int i = 0; 16 + 80 * i + 64 < height - 40; ++i) {  // desktop icons and labels
        const uint32_t base = rng.Next();
        for (int j = 0; j < 40; ++j)
            for (int k = 0; k < 40; ++k)
                c.Set(20 + k, 16 + 80 * i + j,
                      Rgb((base >> 16) + k * 3, (base >> 8) + j * 3, base + (k + j)));
        Text(c, font, rng, 12, 16 + 80 * i + 46, 8, Rgb(255, 255, 255));
    }
    Window(c, font, rng, width * 8 / 100, height * 6 / 100, width * 55 / 100, height * 60 / 100,
           false);
    Window(c, font, rng, width * 40 / 100, height * 25 / 100, width * 50 / 100, height * 55 / 100,
           true);
    Window(c, font, rng, width * 15 / 100, height * 55 / 100, width * 35 / 100, height * 33 / 100,
           false);
    c.Fill(0, height - 40, width, 40, Rgb(43, 43, 43));  // task bar
    for (int b = 0; 60 + b * 170 + 160 < width - 120; ++b) {
        c.Fill(60 + b * 170, height - 36, 160, 32, Rgb(60, 60, 60));
        Text(c, font, rng, 68 + b * 170, height - 26, 14, Rgb(255, 255, 255));
    }
    Text(c, font, rng, width - 100, height - 26, 8, Rgb(255, 255, 255));

    ScreenlikeFrame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = static_cast<size_t>(width) * 4;
    frame.pixels.assign(frame.stride * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &frame.pixels[static_cast<size_t>(height - 1 - y) * frame.stride];
        for (int x = 0; x < width; ++x) {
            const uint32_t p = c.Get(x, y);
            row[x * 4 + 0] = static_cast<uint8_t>(p >> 8);   // green
            row[x * 4 + 1] = static_cast<uint8_t>(p);        // blue
            row[x * 4 + 2] = static_cast<uint8_t>(p >> 16);  // red
        }
    }
    return frame;
}

}  // namespace velmora::testing

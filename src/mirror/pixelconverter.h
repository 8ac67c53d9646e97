// Converts rows of pixels as an X server hands them out (ZPixmap images of
// 16, 24 or 32 bits per pixel, either byte order, any channel masks) into the
// screen file's pixels: green, blue, red, 0.
#pragma once

#include <cstdint>

namespace velmora {

class PixelConverter {
  public:
    // False when the format is not one it can convert (bits per pixel other
    // than 16, 24 or 32, or an empty mask).
    bool Configure(int bitsPerPixel, bool msbFirst, uint32_t redMask, uint32_t greenMask,
                   uint32_t blueMask);

    // Converts `count` pixels from `src` into `dst` (4 bytes each).
    void ConvertRow(const uint8_t* src, uint8_t* dst, int count) const;

  private:
    struct Channel {
        uint32_t mask = 0;
        int shift = 0;     // of the channel's lowest bit
        uint32_t max = 0;  // mask >> shift
    };
    static Channel MakeChannel(uint32_t mask);
    static uint32_t Scale(uint32_t pixel, const Channel& c);
    uint32_t Load(const uint8_t* p) const;

    int bytesPerPixel_ = 0;
    bool msbFirst_ = false;
    bool common_ = false;  // 32 bits, little-endian, red 0xFF0000, green 0xFF00, blue 0xFF
    Channel red_, green_, blue_;
};

}  // namespace velmora

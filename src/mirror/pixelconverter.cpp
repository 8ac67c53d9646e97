#include "mirror/pixelconverter.h"

#include <bit>

#include "platform/byte_order.h"

namespace velmora {

PixelConverter::Channel PixelConverter::MakeChannel(uint32_t mask) {
    Channel c;
    c.mask = mask;
    c.shift = mask == 0 ? 0 : std::countr_zero(mask);
    c.max = mask >> c.shift;
    return c;
}

bool PixelConverter::Configure(int bitsPerPixel, bool msbFirst, uint32_t redMask,
                               uint32_t greenMask, uint32_t blueMask) {
    if ((bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) || redMask == 0 ||
        greenMask == 0 || blueMask == 0) {
        return false;
    }
    bytesPerPixel_ = bitsPerPixel / 8;
    msbFirst_ = msbFirst;
    red_ = MakeChannel(redMask);
    green_ = MakeChannel(greenMask);
    blue_ = MakeChannel(blueMask);
    common_ = bitsPerPixel == 32 && !msbFirst && redMask == 0xFF0000u && greenMask == 0xFF00u &&
              blueMask == 0xFFu;
    return true;
}

uint32_t PixelConverter::Load(const uint8_t* p) const {
    uint32_t v = 0;
    for (int i = 0; i < bytesPerPixel_; ++i) {
        const int shift = msbFirst_ ? 8 * (bytesPerPixel_ - 1 - i) : 8 * i;
        v |= uint32_t{p[i]} << shift;
    }
    return v;
}

uint32_t PixelConverter::Scale(uint32_t pixel, const Channel& c) {
    const uint32_t v = (pixel & c.mask) >> c.shift;
    if (c.max == 255) return v;
    return (v * 255 + c.max / 2) / c.max;
}

void PixelConverter::ConvertRow(const uint8_t* src, uint8_t* dst, int count) const {
    if (common_) {
        // Bytes blue, green, red, x become green, blue, red, 0.
        for (int i = 0; i < count; ++i, src += 4, dst += 4) {
            dst[0] = src[1];
            dst[1] = src[0];
            dst[2] = src[2];
            dst[3] = 0;
        }
        return;
    }
    for (int i = 0; i < count; ++i, src += bytesPerPixel_, dst += 4) {
        const uint32_t p = Load(src);
        dst[0] = static_cast<uint8_t>(Scale(p, green_));
        dst[1] = static_cast<uint8_t>(Scale(p, blue_));
        dst[2] = static_cast<uint8_t>(Scale(p, red_));
        dst[3] = 0;
    }
}

}  // namespace velmora

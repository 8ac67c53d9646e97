#include "viewer/pointershape.h"

#include <algorithm>
#include <utility>

#include "viewer/viewcodes.h"
#include "viewer/viewcolours.h"

namespace velmora {
namespace {

constexpr uint32_t kTransparent = 0;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

int BitsPerPixel(int format) {
    switch (format) {
        case pf4Bits:
            return 4;
        case pf8Bits:
            return 8;
        case pf16Bits:
            return 16;
        case pf24Bits:
            return 24;
        case pf32Bits:
            return 32;
        default:
            return 0;
    }
}

size_t MaskRowBytes(int width) {
    return (static_cast<size_t>(width) + 7) / 8;
}

bool Bit(const uint8_t* row, int x) {
    return (row[x / 8] & (0x80u >> (x % 8))) != 0;
}

// Row y (0 = top) of a plane of `rows` rows stored top-down or bottom-up.
const uint8_t* PlaneRow(const uint8_t* plane, size_t rowBytes, int rows, int y, bool topDown) {
    const int stored = topDown ? y : rows - 1 - y;
    return plane + rowBytes * static_cast<size_t>(stored);
}

// Pixel x of a colour row at `bits` per pixel, opaque.
uint32_t ColourAt(const uint8_t* row, int x, int bits) {
    switch (bits) {
        case 4: {
            const uint8_t pair = row[x / 2];
            return ViewColours::Table16()[x % 2 == 0 ? pair >> 4 : pair & 0x0F];
        }
        case 8:
            return ViewColours::TableShared()[row[x]];
        case 16: {
            const uint8_t* p = row + 2 * static_cast<size_t>(x);
            return ViewColours::Table555()[(p[0] | p[1] << 8) & 0x7FFF];
        }
        default: {  // 24 and 32: blue, green, red (, alpha)
            const uint8_t* p = row + static_cast<size_t>(x) * (bits / 8);
            return kOpaqueBlack | static_cast<uint32_t>(p[2]) << 16 |
                   static_cast<uint32_t>(p[1]) << 8 | p[0];
        }
    }
}

}  // namespace

int PointerShape::DecodeMonochrome(const POINTER_RECORD& record, const uint8_t* shape,
                                   ViewImage* out) {
    const int width = record.width, height = record.height / 2;
    if (record.height % 2 != 0) return vwBadShape;
    const size_t rowBytes = MaskRowBytes(width);
    const size_t plane = rowBytes * static_cast<size_t>(height);
    if (static_cast<size_t>(static_cast<int>(record.firstSize)) != 2 * plane) return vwBadShape;
    if (!out->Reset(width, height, kTransparent)) return vwNoMemory;
    for (int y = 0; y < height; ++y) {
        const uint8_t* andRow = shape + rowBytes * static_cast<size_t>(y);
        const uint8_t* xorRow = andRow + plane;
        uint32_t* target = out->Row(y);
        for (int x = 0; x < width; ++x) {
            const bool a = Bit(andRow, x), b = Bit(xorRow, x);
            target[x] = a && !b ? kTransparent : b && !a ? kWhite : kOpaqueBlack;
        }
    }
    return vwApplied;
}

int PointerShape::DecodeColour(const POINTER_RECORD& record, const uint8_t* shape, ViewImage* out) {
    const int width = record.width, height = record.height;
    const int bits = BitsPerPixel(record.format);
    if (bits == 0) return vwBadShape;
    const size_t colourRow = (static_cast<size_t>(bits) * width + 7) / 8;
    const size_t maskRow = MaskRowBytes(width);
    const size_t colourBytes = colourRow * static_cast<size_t>(height);
    const bool masked = record.hasMask != 0;
    if (static_cast<size_t>(static_cast<int>(record.firstSize)) != colourBytes) return vwBadShape;
    if (masked && static_cast<size_t>(static_cast<int>(record.maskSize)) !=
                      2 * maskRow * static_cast<size_t>(height)) {
        return vwBadShape;
    }
    if (!out->Reset(width, height, kTransparent)) return vwNoMemory;
    const uint8_t* mask = shape + colourBytes;
    // 32-bit shapes that carry any alpha use it; the AND mask decides for
    // every other shape.
    bool useAlpha = false;
    if (bits == 32) {
        for (size_t i = 3; i < colourBytes && !useAlpha; i += 4) useAlpha = shape[i] != 0;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* colour = PlaneRow(shape, colourRow, height, y, record.firstTopDown != 0);
        const uint8_t* andRow =
            masked ? PlaneRow(mask, maskRow, height, y, record.maskTopDown != 0) : nullptr;
        uint32_t* target = out->Row(y);
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = ColourAt(colour, x, bits);
            if (useAlpha) {
                const uint32_t alpha = colour[static_cast<size_t>(x) * 4 + 3];
                target[x] = (pixel & 0x00FFFFFFu) | alpha << 24;
            } else if (andRow != nullptr && Bit(andRow, x)) {
                target[x] = kTransparent;
            } else {
                target[x] = pixel;
            }
        }
    }
    return vwApplied;
}

int PointerShape::Apply(const POINTER_RECORD& record, const uint8_t* shape, size_t shapeLength,
                        bool holdsControl) {
    if (record.shapeIncluded == 0) {
        // Only the position is new, and it is taken only while holding control.
        if (!cursorExists_ || !holdsControl) return vwIgnored;
        x_ = record_.x = record.x;
        y_ = record_.y = record.y;
        return vwApplied;
    }
    const int format = record.format;
    const int width = record.width;
    const int height = format == pfMonochrome ? record.height / 2 : record.height;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || record.firstSize < 0 ||
        record.maskSize < 0) {
        return vwBadShape;
    }
    // The shape must be exactly what the record declares (PointerShapeBytes).
    const size_t declared = static_cast<size_t>(static_cast<int>(record.firstSize)) +
                            (format != pfMonochrome && record.hasMask != 0
                                 ? static_cast<size_t>(static_cast<int>(record.maskSize))
                                 : 0);
    if (shape == nullptr || shapeLength != declared) return vwBadShape;

    ViewImage decoded;
    const int result = format == pfMonochrome ? DecodeMonochrome(record, shape, &decoded)
                                              : DecodeColour(record, shape, &decoded);
    if (result != vwApplied) return result;
    const int x = record_.x, y = record_.y;
    record_ = record;
    if (format == pfMonochrome) record_.height = static_cast<int16_t>(height);
    if (!holdsControl) {  // the position is taken over only while holding control
        record_.x = static_cast<int16_t>(x);
        record_.y = static_cast<int16_t>(y);
    } else {
        x_ = record.x;
        y_ = record.y;
    }
    image_ = std::move(decoded);
    cursorExists_ = format == pfMonochrome || record.hasMask != 0;
    hotX_ = std::clamp<int>(record.xHot, 0, width - 1);
    hotY_ = std::clamp<int>(record.yHot, 0, height - 1);
    return vwApplied;
}

}  // namespace velmora

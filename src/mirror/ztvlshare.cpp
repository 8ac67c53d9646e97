#include "mirror/ztvlshare.h"

#include <cstring>

namespace velmora {

int ParseScreenHeader(const uint8_t* file, size_t fileSize, ScreenGeometry* out) {
    if (file == nullptr || fileSize < kScreenHeaderSize) return kHeaderTooShort;
    // One copy, so a source rewriting the header meanwhile cannot make the
    // fields checked differ from the fields used.
    SCREENFILE_HEADER header;
    std::memcpy(&header, file, sizeof header);
    const uint32_t width = header.width;
    const uint32_t height = header.height;
    const uint32_t bits = header.bitsPerPixel;
    if (width == 0 || height == 0 || width > kMaxScreenSide || height > kMaxScreenSide) {
        return kHeaderBadSize;
    }
    if (bits != kScreenBitsPerPixel) return kHeaderBadDepth;
    const size_t stride = ScreenStride(width);
    // Both factors are at most 2^17 and 2^15: the product cannot overflow.
    if (fileSize - kScreenHeaderSize < stride * height) return kHeaderExceedsFile;
    out->width = width;
    out->height = height;
    out->bitsPerPixel = bits;
    out->stride = stride;
    return kHeaderOk;
}

}  // namespace velmora

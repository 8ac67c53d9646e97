// PNG files of 32-bit pictures: the viewer's snapshots of the remote screen,
// the screen source's snapshots of the X screen, and the side-by-side
// comparison of the two.
//
// Pixels are 0xAARRGGBB values, rows top-down. The encoder writes 8-bit
// truecolour (colour type 2) or, with alpha, truecolour with alpha (type 6),
// one IDAT, no interlace. The decoder reads exactly those two colour types at
// bit depth 8, every filter, no interlace; anything else is refused with
// pngUnsupported. It is meant for the program's own files but treats its
// input as untrusted: every chunk length, CRC and the inflated size are
// checked before they are used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

inline constexpr int pngOk = 1;
inline constexpr int pngBadArgument = -1;  // no pixels, a size of 0, a stride below the width
inline constexpr int pngIoError = -2;      // the file cannot be read or written
inline constexpr int pngBadFormat = -3;    // not a PNG, a damaged chunk or stream
inline constexpr int pngUnsupported = -4;  // a valid PNG of a kind this decoder does not read
inline constexpr int pngTooLarge = -5;     // a side beyond kPngMaxSide
inline constexpr int pngNoMemory = -6;

inline constexpr int kPngMaxSide = 16384;

struct PngPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // width * height, 0xAARRGGBB, rows top-down
};

// Encodes width x height pixels, row r starting at pixels + r * stride.
// Without alpha the top byte of each pixel is ignored.
[[nodiscard]] int EncodePng(const uint32_t* pixels, int width, int height, size_t stride,
                            bool withAlpha, std::vector<uint8_t>& out);
// Decodes into `out`; pixels without alpha get 0xFF in the top byte.
[[nodiscard]] int DecodePng(const uint8_t* data, size_t length, PngPicture* out);

// The same through a file; the file is written under a temporary name and
// renamed, so a reader never sees half a picture. `error` gets a sentence.
[[nodiscard]] int WritePngFile(const std::string& path, const uint32_t* pixels, int width,
                               int height, size_t stride, bool withAlpha, std::string* error);
[[nodiscard]] int ReadPngFile(const std::string& path, PngPicture* out, std::string* error);

// A sentence for a png* code.
const char* PngErrorText(int code);

}  // namespace velmora

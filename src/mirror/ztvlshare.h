// The two files the screen source shares with the server: the screen file
// (a 32-byte header, then the screen image in 32-bit pixels, rows bottom-up)
// and the pointer file (a 60-byte header, then the pointer's bitmaps).
//
// Both files are mapped by the source (the writer) and by the server (the
// reader) with no lock between them: each side reads the header fields it
// needs whenever it looks. Flag fields that both sides write (sharing, drawn,
// changed, shapeChanged) go through LoadFlag/StoreFlag so every look really
// reads the shared memory.
//
// Pixels are 4 bytes: green, blue, red, unused (the masks red 0x00FF0000,
// green 0x000000FF, blue 0x0000FF00 of a little-endian 32-bit value). The file
// is 4 bytes per row larger than the image; those bytes are unused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace velmora {

inline constexpr char kScreenFileName[] = "ZTVLSHARE.DAT";
inline constexpr char kPointerFileName[] = "ZTVLSHAREP.DAT";
inline constexpr char kZtvlDescription[] = "ZTVL Display Drivers";
inline constexpr char kZtvlServiceName[] = "ztvl";

inline constexpr uint32_t kScreenSignature = 100;
inline constexpr uint32_t kScreenBitsPerPixel = 32;
// Largest width or height a header may claim: the screen description sent to
// viewers carries both as signed 16-bit values.
inline constexpr uint32_t kMaxScreenSide = 32767;

// Screen-file header, 32 bytes at offset 0.
struct SCREENFILE_HEADER {
    LeU32 signature;     // 100, written by the source and by the server
    LeU32 width;         // pixels
    LeU32 height;        // pixels
    LeU32 bitsPerPixel;  // always 32
    LeU32 sharing;       // 1 while the server captures; the source sets 0 on a mode switch or exit
    LeU32 reserved1;     // 0
    LeU32 drawn;         // 0 at enable, 1 once the source has drawn; the server never clears it
    LeU32 reserved2;     // the source's own value (its frame counter), meaningless to the reader
};
static_assert(sizeof(SCREENFILE_HEADER) == 32);
static_assert(offsetof(SCREENFILE_HEADER, signature) == 0);
static_assert(offsetof(SCREENFILE_HEADER, width) == 4);
static_assert(offsetof(SCREENFILE_HEADER, height) == 8);
static_assert(offsetof(SCREENFILE_HEADER, bitsPerPixel) == 12);
static_assert(offsetof(SCREENFILE_HEADER, sharing) == 16);
static_assert(offsetof(SCREENFILE_HEADER, reserved1) == 20);
static_assert(offsetof(SCREENFILE_HEADER, drawn) == 24);
static_assert(offsetof(SCREENFILE_HEADER, reserved2) == 28);

// Pointer-file header, 60 bytes at offset 0; the bitmaps follow at offset 60.
struct POINTERFILE_HEADER {
    LeU32 changed;       // 1 after a move or shape change; the server clears it
    LeU32 shapeChanged;  // 1 after a shape change; the server clears it
    LeI32 x;             // pointer position, screen pixels
    LeI32 y;
    LeI32 xHot;  // hot spot within the shape
    LeI32 yHot;
    LeU32 shapeWidth;
    LeU32 shapeHeight;
    LeU32 firstSize;     // bytes of the colour bitmap (or of a monochrome pointer's mask)
    LeU32 maskSize;      // bytes of the mask that follows a colour bitmap
    LeU32 colour;        // 1 colour pointer, 0 monochrome
    LeU32 format;        // bitmap format of the first bitmap: 1 = 1 bpp ... 6 = 32 bpp
    LeU32 hasMask;       // 1 when a mask follows
    LeU32 firstTopDown;  // 1 when the first bitmap's rows run top-down
    LeU32 maskTopDown;   // 1 when the mask's rows run top-down
};
static_assert(sizeof(POINTERFILE_HEADER) == 60);
static_assert(offsetof(POINTERFILE_HEADER, changed) == 0);
static_assert(offsetof(POINTERFILE_HEADER, shapeChanged) == 4);
static_assert(offsetof(POINTERFILE_HEADER, x) == 8);
static_assert(offsetof(POINTERFILE_HEADER, y) == 12);
static_assert(offsetof(POINTERFILE_HEADER, xHot) == 16);
static_assert(offsetof(POINTERFILE_HEADER, yHot) == 20);
static_assert(offsetof(POINTERFILE_HEADER, shapeWidth) == 24);
static_assert(offsetof(POINTERFILE_HEADER, shapeHeight) == 28);
static_assert(offsetof(POINTERFILE_HEADER, firstSize) == 32);
static_assert(offsetof(POINTERFILE_HEADER, maskSize) == 36);
static_assert(offsetof(POINTERFILE_HEADER, colour) == 40);
static_assert(offsetof(POINTERFILE_HEADER, format) == 44);
static_assert(offsetof(POINTERFILE_HEADER, hasMask) == 48);
static_assert(offsetof(POINTERFILE_HEADER, firstTopDown) == 52);
static_assert(offsetof(POINTERFILE_HEADER, maskTopDown) == 56);

inline constexpr size_t kScreenHeaderSize = sizeof(SCREENFILE_HEADER);
inline constexpr size_t kPointerHeaderSize = sizeof(POINTERFILE_HEADER);
inline constexpr size_t kPointerBitsSize = 65536 * 4;  // a 256 x 256 32-bit bitmap
inline constexpr size_t kPointerFileSize = kPointerBitsSize + kPointerHeaderSize;
inline constexpr uint32_t kPointerFormat1Bpp = 1;
inline constexpr uint32_t kPointerFormat32Bpp = 6;

// Bytes of one image row: width x 4 (32 bits per pixel is always a multiple of 4).
constexpr size_t ScreenStride(uint32_t width) {
    return size_t{width} * 4;
}
// height x (width x 4 + 4) + 32.
constexpr size_t ScreenFileSize(uint32_t width, uint32_t height) {
    return size_t{height} * (ScreenStride(width) + 4) + kScreenHeaderSize;
}

// A pixel as stored: byte 0 green, byte 1 blue, byte 2 red, byte 3 unused.
constexpr uint32_t PackPixel(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{green} | (uint32_t{blue} << 8) | (uint32_t{red} << 16);
}
inline void StorePixel(uint8_t* p, uint32_t packed) {
    StoreLe<uint32_t>(p, packed);
}

// A 32-bit flag field of a shared file, read and written through volatile
// bytes so that a polling reader always looks at the mapping. Values 0 and 1
// differ in one byte, so a read racing a write sees either value.
inline uint32_t LoadFlag(const LeU32& field) {
    const volatile uint8_t* b = field.bytes;
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
inline void StoreFlag(LeU32& field, uint32_t value) {
    volatile uint8_t* b = field.bytes;
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
}

// What a reader learns from a screen file it has mapped.
struct ScreenGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    size_t stride = 0;  // bytes per image row
};

inline constexpr int kHeaderOk = 1;
inline constexpr int kHeaderTooShort = -1;     // the file cannot hold a header
inline constexpr int kHeaderBadSize = -2;      // width or height 0 or above kMaxScreenSide
inline constexpr int kHeaderBadDepth = -3;     // bits per pixel other than 32
inline constexpr int kHeaderExceedsFile = -4;  // the image it claims does not fit the file

// Checks the header at the start of a mapped screen file of `fileSize`
// bytes and fills `out`: kHeaderOk, or a negative kHeader* code. A header
// is never trusted beyond this check: the image it claims must lie inside
// the file.
[[nodiscard]] int ParseScreenHeader(const uint8_t* file, size_t fileSize, ScreenGeometry* out);

}  // namespace velmora

// POINTER_UPDATE payloads: a 23-byte POINTER_RECORD, then, when
// shapeIncluded is 1, the shape bytes:
//   format 1 (monochrome): firstSize bytes, the AND plane then the XOR plane;
//   other formats with hasMask 1: firstSize bytes of colour, maskSize of mask;
//   other formats with hasMask 0: firstSize bytes of colour.
// payloadLength is 23 plus that count (23 for a position-only update).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/screen/appmessages.h"

namespace velmora {

// Bitmap formats of the first plane.
inline constexpr int16_t pfMonochrome = 1, pf4Bits = 2, pf8Bits = 3, pf16Bits = 4, pf24Bits = 5,
                         pf32Bits = 6;

struct POINTER_RECORD {
    LeI16 x, y;        // position as the screen source reports it
    LeI16 xHot, yHot;  // hot spot inside the shape
    LeI16 width;
    LeI16 height;     // monochrome: twice the pointer's height (AND rows, then XOR rows)
    LeI16 format;     // pf* constants
    LeI16 firstSize;  // bytes of the first plane
    LeI16 maskSize;   // bytes of the mask after a colour plane
    uint8_t hasMask;
    uint8_t shapeIncluded;  // 0: position-only update
    uint8_t maskTopDown;
    uint8_t firstTopDown;
    uint8_t one;  // always 1
};
static_assert(sizeof(POINTER_RECORD) == 23);
static_assert(offsetof(POINTER_RECORD, y) == 2 && offsetof(POINTER_RECORD, xHot) == 4);
static_assert(offsetof(POINTER_RECORD, yHot) == 6 && offsetof(POINTER_RECORD, width) == 8);
static_assert(offsetof(POINTER_RECORD, height) == 10 && offsetof(POINTER_RECORD, format) == 12);
static_assert(offsetof(POINTER_RECORD, firstSize) == 14);
static_assert(offsetof(POINTER_RECORD, maskSize) == 16);
static_assert(offsetof(POINTER_RECORD, hasMask) == 18);
static_assert(offsetof(POINTER_RECORD, shapeIncluded) == 19);
static_assert(offsetof(POINTER_RECORD, maskTopDown) == 20);
static_assert(offsetof(POINTER_RECORD, firstTopDown) == 21);
static_assert(offsetof(POINTER_RECORD, one) == 22);

// Shape bytes that follow the record as its fields declare them (0 for a
// position-only record); amBadShape for an unknown format or a negative
// size.
[[nodiscard]] int PointerShapeBytes(const POINTER_RECORD& record);

// POINTER_UPDATE of the record and, when it includes the shape, exactly
// PointerShapeBytes(record) shape bytes; `one` is set to 1. Returns the
// message length or a negative code.
[[nodiscard]] int BuildPointerUpdate(TLZ& lz, const POINTER_RECORD& record, const uint8_t* shape,
                                     size_t shapeLength, std::vector<uint8_t>& message);

// Splits an expanded POINTER_UPDATE payload, which must hold exactly the
// record and the shape bytes it declares. *shape points into the payload
// (nullptr when there is none). Note: the planes' row geometry (width,
// height, bits per pixel) is not matched against the sizes here; whoever
// draws the shape checks its rows against *shapeLength.
[[nodiscard]] int ReadPointerUpdate(const uint8_t* payload, size_t length, POINTER_RECORD* record,
                                    const uint8_t** shape, size_t* shapeLength);

}  // namespace velmora

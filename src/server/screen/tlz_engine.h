// The deflate library behind TLZ: raw deflate bodies only (TLZ adds and skips
// the header). One engine per TLZ; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "server/screen/tlz.h"

namespace velmora {

class TlzEngine {
  public:
    virtual ~TlzEngine() = default;
    // Raw deflate of input at level 1..9 into out; the body length, or a
    // negative tlz code.
    virtual int Deflate(int level, const uint8_t* input, size_t inputLength, uint8_t* out,
                        size_t outCapacity) = 0;
    // Raw inflate of body into exactly outLength bytes, stopping at the final
    // block; outLength, or a negative tlz code.
    virtual int Inflate(const uint8_t* body, size_t bodyLength, uint8_t* out, size_t outLength) = 0;
};

std::unique_ptr<TlzEngine> MakeZlibEngine();
std::unique_ptr<TlzEngine> MakeLibdeflateEngine();
// Largest body each library's Deflate can produce for inputLength bytes.
size_t ZlibBound(size_t inputLength);
size_t LibdeflateBound(size_t inputLength);

}  // namespace velmora

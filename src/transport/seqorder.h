// Order of 16-bit sequence numbers across the wrap, the one rule the receiver
// window and the frame list use.
//
// With d = a - b taken as a plain signed difference of the two unsigned values
// (-65535..65535, not reduced) and e = |d|, a precedes b when d < 0 and
// e < 0x7FFF, or d > 0 and e > 0x7FFF. Numbers exactly 0x7FFF apart precede
// neither way.
#pragma once

#include <cstdint>

namespace velmora {

constexpr bool SeqPrecedes(uint16_t a, uint16_t b) {
    const int32_t d = static_cast<int32_t>(a) - static_cast<int32_t>(b);
    const int32_t e = d < 0 ? -d : d;
    return (d < 0 && e < 0x7FFF) || (d > 0 && e > 0x7FFF);
}

// Where a frame sequence lies against a receiver's window [lo, hi], lo being
// the next frame to hand on and hi the last frame held (lo when none is).
enum SeqClass : int32_t {
    SEQ_OLD = 0,        // before the window: handled long ago
    SEQ_AHEAD = 1,      // after the last frame held
    SEQ_IN_WINDOW = 3,  // lo itself, or between lo and hi
};

constexpr SeqClass ClassifySeq(uint16_t s, uint16_t lo, uint16_t hi) {
    if (SeqPrecedes(s, lo)) return SEQ_OLD;
    if (s == lo) return SEQ_IN_WINDOW;
    if (SeqPrecedes(hi, s)) return SEQ_AHEAD;
    return SEQ_IN_WINDOW;
}

}  // namespace velmora

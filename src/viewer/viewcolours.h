// The viewer's colour tables, as 0xFFRRGGBB pixels: the 5-5-5 expansion of
// depth 16 (level v shown as v * 8), SHARED_PALETTE of depth 8, and the fixed
// 16-colour table of 4-bit pointer shapes. Built once, read-only after.
#pragma once

#include <cstdint>

namespace velmora {

class ViewColours {
  public:
    static constexpr int k555Entries = 32768;

    // Entry i of depth 16: red (i / 1024) * 8, green (i / 32 % 32) * 8, blue
    // (i % 32) * 8. The caller masks the index with 0x7FFF.
    static const uint32_t* Table555();
    // SHARED_PALETTE, 256 entries.
    static const uint32_t* TableShared();
    // The 16 colours of 4-bit pointer shapes.
    static const uint32_t* Table16();
};

}  // namespace velmora

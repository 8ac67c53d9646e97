// Pixels of SCREEN_BLOCKS and the colour tables that server and viewer share.
//
// The server converts 32-bit frame-buffer pixels (bytes green, blue, red,
// unused) into the depth the viewers get:
//   24: three bytes blue, green, red;
//   16: a little-endian u16 red5 * 1024 + green5 * 32 + blue5 (bit 15 is 0),
//       the index of the nearest entry of the 5-5-5 palette;
//    8: one byte, the index of the nearest SHARED_PALETTE entry.
// Nearest entries are searched once per 5-5-5 cell (the top five bits of
// each channel) and kept in a 32768-entry cache, so every colour of a cell
// gets the index found for the first colour of that cell met since the cache
// was last emptied. The viewer turns each depth back into blue, green, red.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora {

// The depth-8 colour table as 0xRRGGBB, the same on both sides. The
// irregular entries (0x29 where the pattern has 0x33, 0xCC9729 at 106) are
// part of the table; entries 216 to 255 are black.
// clang-format off
inline constexpr std::array<uint32_t, 256> SHARED_PALETTE = {
    // 0-11
    0x000000, 0x333333, 0x666666, 0x999999, 0xCCCCCC, 0xFFFFFF,
    0x000033, 0x333300, 0x666600, 0x999900, 0xCCCC00, 0xFFFF00,
    // 12-23
    0x000066, 0x333366, 0x666633, 0x999933, 0xCCCC00, 0xFFFF33,
    0x000099, 0x333399, 0x666699, 0x999966, 0xCCCC66, 0xFFFF66,
    // 24-35
    0x0000CC, 0x3333CC, 0x6666CC, 0x9999CC, 0xCCCC99, 0xFFFF99,
    0x0000FF, 0x3333FF, 0x6666FF, 0x9999FF, 0xCCCCFF, 0xFFFFCC,
    // 36-47
    0x003300, 0x336633, 0x669966, 0x99CC99, 0xCCFFCC, 0xFF00FF,
    0x006600, 0x339933, 0x66CC66, 0x99FF99, 0xCC00CC, 0xFF33FF,
    // 48-59
    0x009900, 0x33CC33, 0x66FF66, 0x990099, 0xCC33CC, 0xFF66FF,
    0x00CC00, 0x33FF33, 0x660066, 0x993399, 0xCC66CC, 0xFF99FF,
    // 60-71
    0x00FF00, 0x330033, 0x663366, 0x996699, 0xCC99CC, 0xFFCCFF,
    0x00FF33, 0x330066, 0x663399, 0x9966CC, 0xCC99FF, 0xFFCC00,
    // 72-83
    0x00FF66, 0x330099, 0x6633CC, 0x9966FF, 0xCC9900, 0xFFCC33,
    0x00FF99, 0x3300CC, 0x6633FF, 0x996600, 0xCC9933, 0xFFCC66,
    // 84-95
    0x00FFCC, 0x3300FF, 0x663300, 0x996629, 0xCC9966, 0xFFCC99,
    0x00FFFF, 0x290000, 0x662929, 0x996666, 0xCC9999, 0xFFCCCC,
    // 96-107
    0x00CCCC, 0x29FFFF, 0x660000, 0x992929, 0xCC6666, 0xFF9999,
    0x009999, 0x29CCCC, 0x66FFFF, 0x990000, 0xCC9729, 0xFF6666,
    // 108-119
    0x006666, 0x299999, 0x66CCCC, 0x99FFFF, 0xCC0000, 0xFF2929,
    0x002929, 0x296666, 0x669999, 0x99CCCC, 0xCCFFFF, 0xFF0000,
    // 120-131
    0x002966, 0x296699, 0x6699CC, 0x99CCFF, 0xCCFF00, 0xFF0029,
    0x002999, 0x2966CC, 0x6699FF, 0x99CC00, 0xCCFF29, 0xFF0066,
    // 132-143
    0x0029CC, 0x2966FF, 0x669900, 0x99CC29, 0xCCFF66, 0xFF0099,
    0x0029FF, 0x2966FF, 0x669929, 0x99CC99, 0xCCFF99, 0xFF00CC,
    // 144-155
    0x0066FF, 0x299900, 0x66CC29, 0x99FF66, 0xCC0099, 0xFF29CC,
    0x0099FF, 0x29CC00, 0x66FF29, 0x990066, 0xCC2999, 0xFF66CC,
    // 156-167
    0x00CCFF, 0x29FF00, 0x660029, 0x992966, 0xCC6699, 0xFF99CC,
    0x00CC29, 0x29FF66, 0x660099, 0x9929CC, 0xCC66FF, 0xFF9900,
    // 168-179
    0x00CC66, 0x29FF99, 0x6600CC, 0x9929FF, 0xCC6600, 0xFF9929,
    0xFFCC99, 0x29FFCC, 0x6600FF, 0x992900, 0xCC6629, 0xFF9966,
    // 180-191
    0x009929, 0x29CC66, 0x66FF99, 0x9900CC, 0xCC29FF, 0xFF6600,
    0x006629, 0x299966, 0x66CC99, 0x99FFCC, 0xCC00FF, 0xFF2900,
    // 192-203
    0x009966, 0x29CC99, 0x66FFCC, 0x9900FF, 0xCC2900, 0xFF6629,
    0x0099CC, 0x29CCFF, 0x66FF00, 0x990029, 0xCC2966, 0xFF6699,
    // 204-215
    0x0066CC, 0x2999FF, 0x66CC00, 0x99FF29, 0xCC0066, 0xFF2999,
    0x006699, 0x2999CC, 0x66CCFF, 0x99FF00, 0xCC0029, 0xFF2966,
    // 216-255: black
};
// clang-format on

// Bytes per pixel of a SCREEN_BLOCKS depth; 0 for a depth with no format.
constexpr int BytesPerPixel(int depth) {
    return depth == 24 ? 3 : depth == 16 ? 2 : depth == 8 ? 1 : 0;
}

// Entry i of the 5-5-5 palette as 0xRRGGBB: each 5-bit level v shown as v * 8.
constexpr uint32_t Palette555(uint16_t index) {
    return static_cast<uint32_t>(((index >> 10) & 31) * 8) << 16 |
           static_cast<uint32_t>(((index >> 5) & 31) * 8) << 8 |
           static_cast<uint32_t>((index & 31) * 8);
}

// Frame-buffer to block conversion with its colour cache. One per converting
// thread; not thread-safe.
class TBitUtil {
  public:
    static constexpr int kCacheSize = 32768;

    TBitUtil() { ClearCache(); }

    // Forget every cached index: done whenever the frame buffer is mapped
    // anew. A change between depths 16 and 8 empties the cache by itself,
    // since the two depths index different palettes.
    void ClearCache();

    // Converts `width` frame-buffer pixels into `out` at `depth`; returns the
    // bytes written (width * BytesPerPixel(depth)), 0 for an unknown depth.
    size_t ConvertRow(const uint8_t* frameRow, int width, int depth, uint8_t* out);

    // Converts `height` rows of `width` pixels, the first row at `first` and
    // each next one `stride` bytes further, into packed rows in that order.
    size_t ConvertBlock(const uint8_t* first, size_t stride, int width, int height, int depth,
                        uint8_t* out);

    // The nearest palette entries without the cache: least squared distance
    // in red, green and blue, the lowest index on ties.
    static uint16_t Nearest555(uint8_t red, uint8_t green, uint8_t blue);
    static uint8_t NearestShared(uint8_t red, uint8_t green, uint8_t blue);

  private:
    std::array<int16_t, kCacheSize> cache_;  // palette index, or -1 when empty
    int cacheDepth_ = 0;                     // the depth whose indices the cache holds
};

// Viewer side: one packed row of `width` pixels at `depth` into blue, green,
// red triples. Returns the bytes read from `row` (0 for an unknown depth).
size_t ExpandRowToBgr(const uint8_t* row, int width, int depth, uint8_t* bgr);

}  // namespace velmora

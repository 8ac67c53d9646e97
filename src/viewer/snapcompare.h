// Compares two pictures of the same screen, what a viewer shows and what the
// screen shows, and puts them side by side.
//
// Pixels are 0xAARRGGBB; alpha is ignored. Two pixels match when no colour
// channel differs by more than the tolerance: 0 for depth 24, 7 for depth 16
// (a level v of five bits is shown as v * 8, so 255 becomes 248).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct SnapDifference {
    bool sameSize = false;
    uint64_t pixels = 0;           // compared
    uint64_t differing = 0;        // beyond the tolerance
    int largest = 0;               // the largest channel difference met
    int firstX = -1, firstY = -1;  // the first differing pixel, row by row
    bool Match() const { return sameSize && differing == 0; }
    std::string Describe(int tolerance) const;
};

class SnapCompare {
  public:
    static constexpr int kDepth16Tolerance = 7;
    static constexpr uint32_t kGap = 8;  // pixels between the two pictures side by side

    static SnapDifference Compare(const uint32_t* a, int aWidth, int aHeight, const uint32_t* b,
                                  int bWidth, int bHeight, int tolerance);

    // The two pictures left and right on a dark grey ground; a picture of
    // (aWidth + kGap + bWidth) x max height into `out`. The differing pixels
    // of the right one are marked magenta when `mark` is set.
    static void SideBySide(const uint32_t* a, int aWidth, int aHeight, const uint32_t* b,
                           int bWidth, int bHeight, int tolerance, bool mark,
                           std::vector<uint32_t>* out, int* width, int* height);
};

}  // namespace velmora

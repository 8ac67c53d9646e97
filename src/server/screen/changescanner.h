// The change scan: finds the blocks of a frame buffer that differ from a
// reference copy by comparing, on pass p (0..15), only rows p, p + 16,
// p + 32 and p + 48 of every block, so a pass costs about 1/16 of a full
// comparison and every row of every block is compared once in 16 passes.
// A block found changed is reported and copied whole into the reference.
//
// It works on any frame in memory (the mapped screen file, or a test's
// buffer). Not thread-safe: the capture thread scans; the send thread
// never reads the reference copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/screen/blockgrid.h"

namespace velmora {

class ChangeScanner {
  public:
    static constexpr int kPasses = 16;

    // Makes the reference copy for `grid` (its frame bytes, zeroed); the
    // next scan is pass 0. False when the memory cannot be had.
    [[nodiscard]] bool Reset(const BlockGrid& grid);
    void Release();

    int Pass() const { return pass_; }
    const uint8_t* Reference() const { return reference_.data(); }
    size_t ReferenceBytes() const { return reference_.size(); }

    // Scans `frame` (at least ReferenceBytes() long; a shorter one is not
    // scanned) laid out as `grid`, which must be the grid given to Reset.
    // Writes the numbers of the changed blocks, ascending, into `list`, at
    // most `capacity`, and answers how many. Changed blocks that do not fit
    // stay out of the reference and the pass does not advance, so the next
    // scan finds them again.
    int Scan(const uint8_t* frame, size_t frameBytes, const BlockGrid& grid, int32_t* list,
             int capacity);

  private:
    // The state of each column of the grid row being scanned.
    static constexpr uint8_t kUnchanged = 0;
    static constexpr uint8_t kListed = 1;   // changed, reported, to be copied
    static constexpr uint8_t kLeftOut = 2;  // changed, but the list was full

    // Marks the blocks of grid row j whose row r differs.
    void CompareRow(const uint8_t* frame, const BlockGrid& grid, int j, int r);
    // Copies the listed blocks of grid row j into the reference.
    void CopyListed(const uint8_t* frame, const BlockGrid& grid, int j);

    std::vector<uint8_t> reference_;
    std::vector<uint8_t> changed_;
    int pass_ = 0;
};

}  // namespace velmora

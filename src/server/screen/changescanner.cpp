#include "server/screen/changescanner.h"

#include <cstring>
#include <new>

namespace velmora {

bool ChangeScanner::Reset(const BlockGrid& grid) {
    try {
        reference_.assign(grid.FrameBytes(), 0);
        changed_.assign(static_cast<size_t>(grid.Columns()), 0);
    } catch (const std::bad_alloc&) {
        Release();
        return false;
    }
    pass_ = 0;
    return true;
}

void ChangeScanner::Release() {
    reference_ = {};
    changed_ = {};
    pass_ = 0;
}

void ChangeScanner::CompareRow(const uint8_t* frame, const BlockGrid& grid, int j, int r) {
    const size_t bytesPerPixel = size_t(grid.BytesPerPixel());
    const size_t rowStart = grid.Block(j * grid.Columns()).offset + size_t(r) * grid.Stride();
    // Most rows are unchanged: one comparison of the whole row settles them.
    if (std::memcmp(frame + rowStart, reference_.data() + rowStart,
                    size_t(grid.Width()) * bytesPerPixel) == 0) {
        return;
    }
    for (int i = 0; i < grid.Columns(); ++i) {
        if (changed_[size_t(i)] != kUnchanged) continue;
        const ScreenBlock& b = grid.Block(j * grid.Columns() + i);
        const size_t at = rowStart + size_t(b.left) * bytesPerPixel;
        if (std::memcmp(frame + at, reference_.data() + at, size_t(b.width) * bytesPerPixel) != 0) {
            changed_[size_t(i)] = kListed;
        }
    }
}

void ChangeScanner::CopyListed(const uint8_t* frame, const BlockGrid& grid, int j) {
    const int columns = grid.Columns();
    const size_t bytesPerPixel = size_t(grid.BytesPerPixel());
    const ScreenBlock& first = grid.Block(j * columns);
    // Runs of neighbouring listed blocks are copied row by row in one piece.
    for (int i = 0; i < columns;) {
        if (changed_[size_t(i)] != kListed) {
            ++i;
            continue;
        }
        int end = i;
        while (end < columns && changed_[size_t(end)] == kListed) ++end;
        const ScreenBlock& last = grid.Block(j * columns + end - 1);
        const size_t at = first.offset + size_t(grid.Block(j * columns + i).left) * bytesPerPixel;
        const size_t bytes =
            size_t(last.left + last.width - grid.Block(j * columns + i).left) * bytesPerPixel;
        for (int row = 0; row < first.height; ++row) {
            const size_t offset = at + size_t(row) * grid.Stride();
            std::memcpy(reference_.data() + offset, frame + offset, bytes);
        }
        i = end;
    }
}

int ChangeScanner::Scan(const uint8_t* frame, size_t frameBytes, const BlockGrid& grid,
                        int32_t* list, int capacity) {
    if (frame == nullptr || reference_.empty() || frameBytes < reference_.size() ||
        grid.FrameBytes() != reference_.size() || changed_.size() != size_t(grid.Columns())) {
        return 0;
    }
    const int columns = grid.Columns();
    int count = 0;
    bool leftOut = false;
    for (int j = 0; j < grid.Rows(); ++j) {
        std::memset(changed_.data(), kUnchanged, changed_.size());
        // Row by row through memory: each sampled row is compared across
        // all the blocks of the grid row before the next. All blocks of a
        // grid row have the same height.
        for (int r = pass_; r < grid.Block(j * columns).height; r += kPasses) {
            CompareRow(frame, grid, j, r);
        }
        for (int i = 0; i < columns; ++i) {
            if (changed_[size_t(i)] != kListed) continue;
            if (count == capacity) {
                changed_[size_t(i)] = kLeftOut;
                leftOut = true;
            } else {
                list[count++] = j * columns + i;
            }
        }
        CopyListed(frame, grid, j);
    }
    if (!leftOut) pass_ = (pass_ + 1) % kPasses;
    return count;
}

}  // namespace velmora

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

int ChangeScanner::Scan(const uint8_t* frame, size_t frameBytes, const BlockGrid& grid,
                        int32_t* list, int capacity) {
    if (frame == nullptr || reference_.empty() || frameBytes < reference_.size() ||
        grid.FrameBytes() != reference_.size() || changed_.size() != size_t(grid.Columns())) {
        return 0;
    }
    const size_t stride = grid.Stride();
    const int columns = grid.Columns();
    int count = 0;
    bool leftOut = false;
    for (int j = 0; j < grid.Rows(); ++j) {
        const int first = j * columns;
        const int blockHeight = grid.Block(first).height;  // the same for the whole grid row
        std::memset(changed_.data(), 0, changed_.size());
        // Row by row through memory: each sampled row is compared across
        // all the blocks of the grid row before the next.
        for (int r = pass_; r < blockHeight; r += kPasses) {
            const size_t rowOffset = size_t(r) * stride;
            for (int i = 0; i < columns; ++i) {
                if (changed_[size_t(i)] != 0) continue;
                const ScreenBlock& b = grid.Block(first + i);
                const size_t at = b.offset + rowOffset;
                const size_t bytes = size_t(b.width) * size_t(grid.BytesPerPixel());
                if (std::memcmp(frame + at, reference_.data() + at, bytes) != 0) {
                    changed_[size_t(i)] = 1;
                }
            }
        }
        for (int i = 0; i < columns; ++i) {
            if (changed_[size_t(i)] == 0) continue;
            if (count == capacity) {
                leftOut = true;
                continue;
            }
            list[count++] = first + i;
            const ScreenBlock& b = grid.Block(first + i);
            const size_t bytes = size_t(b.width) * size_t(grid.BytesPerPixel());
            for (int row = 0; row < b.height; ++row) {
                const size_t at = b.offset + size_t(row) * stride;
                std::memcpy(reference_.data() + at, frame + at, bytes);
            }
        }
    }
    if (!leftOut) pass_ = (pass_ + 1) % kPasses;
    return count;
}

}  // namespace velmora

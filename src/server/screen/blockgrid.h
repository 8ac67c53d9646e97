// The screen cut into 56 x 56-pixel blocks, numbered row by row from the
// frame buffer's first memory row (the bottom of the screen), column by
// column within a row. The last column and the top grid row hold what is
// left over and may be narrower or lower.
//
// Read-only after Build: the capture and send threads share it while the
// capture thread holds the send thread paused for every rebuild.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

struct ScreenBlock {
    size_t offset = 0;  // byte offset of its first pixel (lowest memory row) in the frame buffer
    int left = 0;       // screen x of its first column
    int bottom = 0;     // one past its lowest screen row (top-down screen coordinates)
    int width = 0;
    int height = 0;
};

class BlockGrid {
  public:
    static constexpr int kBlockSide = 56;

    // Cuts a width x height screen whose rows are `stride` bytes apart.
    void Build(int width, int height, size_t stride, int bytesPerPixel);
    void Clear();

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    int Count() const { return static_cast<int>(blocks_.size()); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t Stride() const { return stride_; }
    int BytesPerPixel() const { return bytesPerPixel_; }
    const ScreenBlock& Block(int number) const { return blocks_[static_cast<size_t>(number)]; }
    // The frame buffer bytes the grid covers: stride x height.
    size_t FrameBytes() const { return stride_ * static_cast<size_t>(height_); }

    // Writes, in ascending order, the numbers of the blocks that the screen
    // rectangle [minX, maxX) x [minY, maxY) touches (top-down screen
    // coordinates, clamped to the screen), at most `capacity` of them; the
    // answer is how many were written.
    int BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list, int capacity) const;

  private:
    int width_ = 0;
    int height_ = 0;
    size_t stride_ = 0;
    int bytesPerPixel_ = 0;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<ScreenBlock> blocks_;
};

}  // namespace velmora

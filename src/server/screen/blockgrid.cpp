#include "server/screen/blockgrid.h"

#include <algorithm>

namespace velmora {

void BlockGrid::Build(int width, int height, size_t stride, int bytesPerPixel) {
    Clear();
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bytesPerPixel_ = bytesPerPixel;
    columns_ = (width + kBlockSide - 1) / kBlockSide;
    rows_ = (height + kBlockSide - 1) / kBlockSide;
    blocks_.resize(static_cast<size_t>(columns_) * static_cast<size_t>(rows_));
    for (int j = 0; j < rows_; ++j) {
        for (int i = 0; i < columns_; ++i) {
            ScreenBlock& b = blocks_[static_cast<size_t>(j) * size_t(columns_) + size_t(i)];
            b.offset = size_t(kBlockSide) * size_t(j) * stride +
                       size_t(kBlockSide) * size_t(i) * size_t(bytesPerPixel);
            b.left = kBlockSide * i;
            b.bottom = height - kBlockSide * j;
            b.width = std::min(kBlockSide, width - kBlockSide * i);
            b.height = std::min(kBlockSide, height - kBlockSide * j);
        }
    }
}

void BlockGrid::Clear() {
    width_ = height_ = columns_ = rows_ = bytesPerPixel_ = 0;
    stride_ = 0;
    blocks_.clear();
}

int BlockGrid::BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list,
                              int capacity) const {
    minX = std::max(minX, 0);
    minY = std::max(minY, 0);
    maxX = std::min(maxX, width_);
    maxY = std::min(maxY, height_);
    if (minX >= maxX || minY >= maxY || capacity <= 0) return 0;
    // Screen row y lies in memory row height - 1 - y: the rectangle's
    // bottom screen row gives the lowest grid row.
    const int firstRow = (height_ - maxY) / kBlockSide;
    const int lastRow = (height_ - 1 - minY) / kBlockSide;
    const int firstColumn = minX / kBlockSide;
    const int lastColumn = (maxX - 1) / kBlockSide;
    int count = 0;
    for (int j = firstRow; j <= lastRow; ++j) {
        for (int i = firstColumn; i <= lastColumn; ++i) {
            if (count == capacity) return count;
            list[count++] = j * columns_ + i;
        }
    }
    return count;
}

}  // namespace velmora

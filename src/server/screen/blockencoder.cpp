#include "server/screen/blockencoder.h"

namespace velmora {
namespace {

// True when every row of the block lies inside the frame.
bool BlockInsideFrame(const ScreenBlock& block, size_t stride, int bytesPerPixel,
                      size_t frameBytes) {
    if (block.width <= 0 || block.height <= 0) return false;
    const size_t lastRow = block.offset + size_t(block.height - 1) * stride;
    const size_t rowBytes = size_t(block.width) * size_t(bytesPerPixel);
    return lastRow <= frameBytes && rowBytes <= frameBytes - lastRow;
}

}  // namespace

int BlockEncoder::Encode(const FrameView& view, const int32_t* numbers, int count, int depth) {
    int rc = builder_.Begin(depth);
    if (rc != amOk) return rc;
    if (view.grid == nullptr || view.frame == nullptr) return 0;
    const BlockGrid& grid = *view.grid;
    for (int i = 0; i < count; ++i) {
        const int32_t n = numbers[i];
        if (n < 0 || n >= grid.Count()) continue;
        const ScreenBlock& block = grid.Block(n);
        if (!BlockInsideFrame(block, grid.Stride(), grid.BytesPerPixel(), view.frameBytes)) {
            continue;
        }
        rc = builder_.AddBlock(static_cast<int16_t>(n), block.width, block.height,
                               static_cast<int16_t>(block.left), static_cast<int16_t>(block.bottom),
                               view.frame + block.offset, grid.Stride(), converter_);
        if (rc != amOk) return rc;
    }
    if (builder_.BlockCount() == 0) return 0;
    return builder_.Finish(lz_, message_);
}

}  // namespace velmora

// SCREEN_BLOCKS payloads: blockCount blocks one after the other, each a
// BLOCK_HEADER and then `height` rows of `width` packed pixels (no padding),
// the block's lowest screen row first. payloadLength is the sum of
// 8 + width * height * bytes per pixel over the blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/screen/appmessages.h"

namespace velmora {

class TBitUtil;

// One block of a payload being read; `pixels` points into the payload.
struct BlockView {
    int index = 0;
    int width = 0;
    int height = 0;
    int left = 0;
    int bottom = 0;  // one past the lowest row
    const uint8_t* pixels = nullptr;
    size_t rowBytes = 0;  // width * bytes per pixel
};

// Builds the payload of one SCREEN_BLOCKS batch, converting frame-buffer
// pixels as it goes, and compresses it into the message. Keeps its buffer
// between batches. Not thread-safe.
class ScreenBlocksBuilder {
  public:
    // Starts an empty batch at depth 8, 16 or 24 (amBadDepth otherwise).
    [[nodiscard]] int Begin(int depth);

    // Appends a block of width x height (1..56 each) whose lowest row starts
    // at `first` in a frame buffer of `stride` bytes per row, rows going up
    // the screen as memory goes up. amBadBlock for a size outside 1..56,
    // amBadCount beyond kMaxBatchBlocks blocks.
    [[nodiscard]] int AddBlock(int16_t index, int width, int height, int16_t left, int16_t bottom,
                               const uint8_t* first, size_t stride, TBitUtil& converter);

    int BlockCount() const { return count_; }
    int Depth() const { return depth_; }
    const std::vector<uint8_t>& Payload() const { return payload_; }

    // The SCREEN_BLOCKS message of the batch; its length or a negative code.
    [[nodiscard]] int Finish(TLZ& lz, std::vector<uint8_t>& message) const;

  private:
    int depth_ = 0;
    int count_ = 0;
    std::vector<uint8_t> payload_;
};

// Walks an expanded SCREEN_BLOCKS payload, refusing blocks that do not fit.
class ScreenBlocksReader {
  public:
    // blockCount and depth come from the message header. With a screen size
    // above 0, every block must also lie on that screen.
    [[nodiscard]] int Begin(const uint8_t* payload, size_t length, int blockCount, int depth,
                            int screenWidth = 0, int screenHeight = 0);

    // 1 and the next block; 0 after the last one, when the blocks used the
    // payload up exactly; a negative code (then always the same) otherwise.
    [[nodiscard]] int Next(BlockView* block);

  private:
    const uint8_t* payload_ = nullptr;
    size_t length_ = 0;
    size_t offset_ = 0;
    int remaining_ = 0;
    int bytesPerPixel_ = 0;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    int error_ = amBadLength;  // until Begin succeeds
};

}  // namespace velmora

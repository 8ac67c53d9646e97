#include "server/screen/appmessages_blocks.h"

#include <new>

#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"

namespace velmora {

int ScreenBlocksBuilder::Begin(int depth) {
    if (BytesPerPixel(depth) == 0) return amBadDepth;
    depth_ = depth;
    count_ = 0;
    payload_.clear();
    return amOk;
}

int ScreenBlocksBuilder::AddBlock(int16_t index, int width, int height, int16_t left,
                                  int16_t bottom, const uint8_t* first, size_t stride,
                                  TBitUtil& converter) {
    if (depth_ == 0) return amBadDepth;
    if (width < 1 || width > kBlockSize || height < 1 || height > kBlockSize) return amBadBlock;
    if (count_ >= static_cast<int>(kMaxBatchBlocks)) return amBadCount;
    const size_t at = payload_.size();
    const size_t pixels = static_cast<size_t>(width) * height * BytesPerPixel(depth_);
    try {
        payload_.resize(at + sizeof(BLOCK_HEADER) + pixels);
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    BLOCK_HEADER header{};
    header.index = index;
    header.width = static_cast<uint8_t>(width);
    header.height = static_cast<uint8_t>(height);
    header.left = left;
    header.bottom = bottom;
    std::memcpy(payload_.data() + at, &header, sizeof(header));
    converter.ConvertBlock(first, stride, width, height, depth_,
                           payload_.data() + at + sizeof(header));
    ++count_;
    return amOk;
}

int ScreenBlocksBuilder::Finish(TLZ& lz, std::vector<uint8_t>& message) const {
    if (depth_ == 0) return amBadDepth;
    return BuildCompressedMessage(lz, mtScreenBlocks, static_cast<int16_t>(count_),
                                  static_cast<uint8_t>(depth_), payload_.data(), payload_.size(),
                                  message);
}

int ScreenBlocksReader::Begin(const uint8_t* payload, size_t length, int blockCount, int depth,
                              int screenWidth, int screenHeight) {
    bytesPerPixel_ = BytesPerPixel(depth);
    if (bytesPerPixel_ == 0) return error_ = amBadDepth;
    if (blockCount < 0) return error_ = amBadCount;
    if (payload == nullptr && length != 0) return error_ = amBadLength;
    payload_ = payload;
    length_ = length;
    offset_ = 0;
    remaining_ = blockCount;
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
    error_ = 0;
    return amOk;
}

int ScreenBlocksReader::Next(BlockView* block) {
    if (error_ < 0) return error_;
    if (remaining_ == 0) {
        // Bytes left after the announced blocks mean the count is wrong.
        return offset_ == length_ ? 0 : error_ = amBadLength;
    }
    if (length_ - offset_ < sizeof(BLOCK_HEADER)) return error_ = amBadCount;
    BLOCK_HEADER header;
    std::memcpy(&header, payload_ + offset_, sizeof(header));
    const int width = header.width, height = header.height;
    const int left = header.left, bottom = header.bottom;
    if (width < 1 || width > kBlockSize || height < 1 || height > kBlockSize) {
        return error_ = amBadBlock;
    }
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel_;
    const size_t pixels = rowBytes * height;
    if (length_ - offset_ - sizeof(header) < pixels) return error_ = amBadBlock;
    if (screenWidth_ > 0 && screenHeight_ > 0 &&
        (left < 0 || bottom - height < 0 || left + width > screenWidth_ ||
         bottom > screenHeight_)) {
        return error_ = amBadBlock;
    }
    block->index = header.index;
    block->width = width;
    block->height = height;
    block->left = left;
    block->bottom = bottom;
    block->pixels = payload_ + offset_ + sizeof(header);
    block->rowBytes = rowBytes;
    offset_ += sizeof(header) + pixels;
    --remaining_;
    return 1;
}

}  // namespace velmora

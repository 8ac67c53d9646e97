// A viewer's picture for tests: applies SCREEN_BLOCKS messages to a
// top-down blue-green-red image, and checks each block against the frame
// buffer it came from, converted as the server converts (a reference
// converter that meets the blocks in the order they arrive, so the colour
// cache's first-met rule gives the same indices).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "server/screen/appmessages.h"
#include "server/screen/appmessages_blocks.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"

namespace velmora::testing {

class PictureModel {
  public:
    PictureModel(int width, int height)
        : width_(width),
          height_(height),
          bgr_(size_t(width) * height * 3, 0),
          covered_(size_t(width) * height, 0) {}

    // Applies one SCREEN_BLOCKS message; with a frame (bottom-up rows of
    // `stride` bytes, 4 bytes per pixel), counts blocks whose pixels differ
    // from the frame converted by the reference converter. Returns the
    // number of blocks drawn, or a negative code.
    int Apply(const uint8_t* message, size_t length, const uint8_t* frame = nullptr,
              size_t stride = 0) {
        MESSAGE_HEADER header{};
        int rc = ExpandMessagePayload(lz_, message, length, &header, payload_);
        if (rc < 0) return rc;
        if (header.type != mtScreenBlocks) return amBadType;
        ScreenBlocksReader reader;
        rc = reader.Begin(payload_.data(), payload_.size(), header.blockCount, header.depth, width_,
                          height_);
        if (rc != amOk) return rc;
        lastDepth_ = header.depth;
        int drawn = 0;
        BlockView block;
        while ((rc = reader.Next(&block)) == 1) {
            Draw(block, header.depth);
            if (frame != nullptr) Check(block, header.depth, frame, stride);
            ++drawn;
        }
        return rc < 0 ? rc : drawn;
    }

    // Pixels never drawn.
    size_t Uncovered() const {
        size_t n = 0;
        for (uint8_t c : covered_) n += c == 0;
        return n;
    }
    int Mismatches() const { return mismatches_; }
    int LastDepth() const { return lastDepth_; }
    // Blue, green, red of (x, y), top-down.
    const uint8_t* Pixel(int x, int y) const { return &bgr_[(size_t(y) * width_ + x) * 3]; }

  private:
    void Draw(const BlockView& b, int depth) {
        for (int r = 0; r < b.height; ++r) {
            const int y = b.bottom - 1 - r;  // rows go up from the lowest
            ExpandRowToBgr(b.pixels + size_t(r) * b.rowBytes, b.width, depth,
                           &bgr_[(size_t(y) * width_ + b.left) * 3]);
            std::memset(&covered_[size_t(y) * width_ + b.left], 1, size_t(b.width));
        }
    }
    void Check(const BlockView& b, int depth, const uint8_t* frame, size_t stride) {
        // The block's lowest screen row is memory row height - bottom.
        const uint8_t* first = frame + size_t(height_ - b.bottom) * stride + size_t(b.left) * 4;
        expected_.resize(b.rowBytes * size_t(b.height));
        reference_.ConvertBlock(first, stride, b.width, b.height, depth, expected_.data());
        if (std::memcmp(expected_.data(), b.pixels, expected_.size()) != 0) ++mismatches_;
    }

    int width_, height_;
    std::vector<uint8_t> bgr_;
    std::vector<uint8_t> covered_;
    std::vector<uint8_t> payload_;
    std::vector<uint8_t> expected_;
    TLZ lz_;
    TBitUtil reference_;
    int mismatches_ = 0;
    int lastDepth_ = 0;
};

}  // namespace velmora::testing

// Encodes a batch of screen blocks into one SCREEN_BLOCKS message: each
// block's pixels read from the frame buffer (its lowest screen row first),
// converted to the depth the viewers get, and the whole payload compressed.
//
// The payload and message buffers and the colour cache live as long as the
// encoder, so a steady stream of batches allocates nothing once the buffers
// have grown to the largest batch.
//
// Not thread-safe: the send thread owns it, and the capture thread uses it
// for a full picture only while the send thread is paused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/screen/appmessages_blocks.h"
#include "server/screen/blockgrid.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"

namespace velmora {

// The frame buffer the blocks are read from, and its grid.
struct FrameView {
    const BlockGrid* grid = nullptr;
    const uint8_t* frame = nullptr;
    size_t frameBytes = 0;
};

class BlockEncoder {
  public:
    // Compression level 1..9 (clamped), used from the next batch on.
    void SetLevel(int level) { lz_.SetLevel(level); }
    int Level() const { return lz_.Level(); }
    // Forgets every cached palette index: done whenever the frame buffer is
    // mapped anew.
    void ClearColourCache() { converter_.ClearCache(); }

    // Encodes the numbered blocks, in the given order, at depth 8, 16 or 24.
    // Numbers outside the grid, and blocks that would read beyond the frame,
    // are left out. Returns the message length (Message() holds it), 0 when
    // no block was left to send, or a negative am/tlz code.
    [[nodiscard]] int Encode(const FrameView& view, const int32_t* numbers, int count, int depth);

    const std::vector<uint8_t>& Message() const { return message_; }
    // Bytes before compression of the last batch (its payloadLength).
    size_t PayloadBytes() const { return builder_.Payload().size(); }

  private:
    TBitUtil converter_;
    TLZ lz_;
    ScreenBlocksBuilder builder_;
    std::vector<uint8_t> message_;
};

}  // namespace velmora

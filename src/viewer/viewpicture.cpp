#include "viewer/viewpicture.h"

#include "server/screen/appmessages_blocks.h"
#include "server/screen/tbitutil.h"
#include "viewer/viewcodes.h"
#include "viewer/viewcolours.h"

namespace velmora {
namespace {

// One packed row of a block into back-buffer pixels.
void ExpandRow(const uint8_t* row, int width, int depth, uint32_t* out) {
    if (depth == 24) {
        for (int x = 0; x < width; ++x, row += 3) {
            out[x] = kOpaqueBlack | static_cast<uint32_t>(row[2]) << 16 |
                     static_cast<uint32_t>(row[1]) << 8 | row[0];
        }
    } else if (depth == 16) {
        const uint32_t* table = ViewColours::Table555();
        for (int x = 0; x < width; ++x, row += 2) {
            out[x] = table[(row[0] | row[1] << 8) & 0x7FFF];  // bit 15 carries nothing
        }
    } else {
        const uint32_t* table = ViewColours::TableShared();
        for (int x = 0; x < width; ++x) out[x] = table[row[x]];
    }
}

}  // namespace

int ViewPicture::SetScreen(const SCREEN_INFO& info) {
    const int width = info.width, height = info.height;
    if (BytesPerPixel(info.depth) == 0 || width < 1 || height < 1 || width > kMaxSide ||
        height > kMaxSide) {
        return vwBadScreen;
    }
    screen_ = info;
    depth_ = info.depth;
    drag_ = {};
    save_.Clear();  // both big buffers are never held twice
    if (!back_.Reset(width, height) || !save_.Reset(width, height)) {
        back_.Clear();
        save_.Clear();
        return vwNoMemory;
    }
    return vwApplied;
}

int ViewPicture::DrawBlocks(const uint8_t* payload, size_t length, int blockCount, int depth,
                            std::vector<ViewRect>& drawn) {
    if (!HasScreen() || depth != depth_) return vwBadDepth;
    ScreenBlocksReader reader;
    BlockView block;
    // First walk: the whole message must be sound before one pixel changes.
    if (reader.Begin(payload, length, blockCount, depth, Width(), Height()) != amOk) {
        return vwBadBlock;
    }
    int result;
    while ((result = reader.Next(&block)) == 1) {
    }
    if (result != 0) return vwBadBlock;

    if (reader.Begin(payload, length, blockCount, depth, Width(), Height()) != amOk) {
        return vwBadBlock;
    }
    while (reader.Next(&block) == 1) {
        // Rows come lowest first; block rows bottom - height .. bottom - 1.
        const uint8_t* row = block.pixels;
        for (int r = 0; r < block.height; ++r, row += block.rowBytes) {
            ExpandRow(row, block.width, depth, back_.Row(block.bottom - 1 - r) + block.left);
        }
        drawn.push_back({block.left, block.bottom - block.height, block.width, block.height});
    }
    return vwApplied;
}

void ViewPicture::Put(int64_t sx, int64_t sy, int64_t width, int64_t height, int64_t dx, int64_t dy,
                      std::vector<ViewRect>& drawn) {
    const ViewRect written = back_.CopyFrom(save_, sx, sy, width, height, dx, dy);
    if (!written.Empty()) drawn.push_back(written);
}

int ViewPicture::ApplyDrag(const WINDOW_DRAG& message, std::vector<ViewRect>& drawn) {
    if (!HasScreen()) return vwIgnored;
    const int32_t event = message.event;
    const int64_t left = message.left, top = message.top;
    const int64_t right = message.right, bottom = message.bottom;
    const int64_t w = right - left, h = bottom - top;  // of the message's rectangle
    if (event == wdEnterSizeMove) {
        drag_ = {true,        event,         message.edge,  message.left,
                 message.top, message.right, message.bottom};
        save_.CopyFrom(back_, left, top, w, h, 0, 0);
        return vwApplied;
    }
    if ((event != wdMoving && event != wdSizing) || !drag_.valid) return vwIgnored;
    if (event == wdMoving) {
        Put(0, 0, w, h, left, top, drawn);
        drag_.event = event;
        drag_.edge = message.edge;
        drag_.left = message.left;
        drag_.top = message.top;
        drag_.right = message.right;
        drag_.bottom = message.bottom;
        return vwApplied;
    }
    // A resize: the strips along the dragged edges come from the saved
    // window (of the drag record's size W x H); the record is kept.
    const int64_t savedW = int64_t{drag_.right} - drag_.left;
    const int64_t savedH = int64_t{drag_.bottom} - drag_.top;
    const int32_t edge = message.edge;
    const bool leftEdge = edge == weLeft || edge == weTopLeft || edge == weBottomLeft;
    const bool rightEdge = edge == weRight || edge == weTopRight || edge == weBottomRight;
    const bool topEdge = edge == weTop || edge == weTopLeft || edge == weTopRight;
    const bool bottomEdge = edge == weBottom || edge == weBottomLeft || edge == weBottomRight;
    if (topEdge) Put(0, 0, w, kStrip, left, top, drawn);
    if (bottomEdge) Put(0, savedH - kStrip, w, kStrip, left, bottom - kStrip, drawn);
    if (leftEdge) Put(0, 0, kStrip, h, left, top, drawn);
    if (rightEdge) Put(savedW - kStrip, 0, kStrip, h, right - kStrip, top, drawn);
    return topEdge || bottomEdge || leftEdge || rightEdge ? vwApplied : vwIgnored;
}

}  // namespace velmora

// The remote screen as a viewer keeps it: the last screen description, the
// back buffer (the picture, remote width x height), the save buffer (the
// picture of a window being dragged) and the drag record.
//
// It never trusts the server: a SCREEN_BLOCKS payload is walked once to
// check every block against the screen and the payload before the first one
// is drawn, so a message is applied whole or not at all; drag copies are
// clipped to both buffers whatever rectangle a message carries.
//
// Not locked: its owner (ViewDispatcher) guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/screen/appmessages.h"
#include "viewer/viewimage.h"

namespace velmora {

// The last WINDOW_DRAG start or move.
struct DragRecord {
    bool valid = false;  // a drag start was taken since the surfaces were made
    int32_t event = 0;
    int32_t edge = 0;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class ViewPicture {
  public:
    // Largest remote side taken: two 32-bit buffers of 8192 x 8192 are 512 MB,
    // beyond any screen a meeting shares.
    static constexpr int kMaxSide = 8192;
    // Edge strips of a window being resized.
    static constexpr int kStrip = 24;

    // Takes a screen description and makes both buffers anew, black; the
    // drag record is forgotten. vwBadScreen for a depth other than 8, 16 or
    // 24 or a side outside 1..kMaxSide (nothing changes then); vwNoMemory
    // when the buffers cannot be had (the picture is then empty).
    [[nodiscard]] int SetScreen(const SCREEN_INFO& info);

    bool HasScreen() const { return !back_.Empty(); }
    int Depth() const { return depth_; }
    int Width() const { return back_.Width(); }
    int Height() const { return back_.Height(); }
    const SCREEN_INFO& Screen() const { return screen_; }
    const ViewImage& BackBuffer() const { return back_; }
    const ViewImage& SaveBuffer() const { return save_; }
    const DragRecord& Drag() const { return drag_; }

    // Draws an expanded SCREEN_BLOCKS payload of `blockCount` blocks at
    // `depth`; `drawn` gets one rectangle per block. vwBadDepth when depth is
    // not the screen's, vwBadBlock when any block lies off the screen, has a
    // size outside 1..56, or the blocks do not fill the payload exactly; the
    // picture is then untouched.
    [[nodiscard]] int DrawBlocks(const uint8_t* payload, size_t length, int blockCount, int depth,
                                 std::vector<ViewRect>& drawn);

    // Applies a WINDOW_DRAG: 561 saves the window's picture, 534 puts it at
    // the new place, 532 puts the 24-pixel strips of the dragged edges.
    // Moves and resizes before a start are ignored (the save buffer holds no
    // window then). `drawn` gets the areas of the back buffer written.
    [[nodiscard]] int ApplyDrag(const WINDOW_DRAG& message, std::vector<ViewRect>& drawn);

  private:
    void Put(int64_t sx, int64_t sy, int64_t width, int64_t height, int64_t dx, int64_t dy,
             std::vector<ViewRect>& drawn);

    SCREEN_INFO screen_{};
    int depth_ = 0;
    ViewImage back_;
    ViewImage save_;
    DragRecord drag_;
};

}  // namespace velmora

// The remote pointer as a viewer keeps it: the last POINTER_RECORD and the
// shape turned into an ARGB image with its hot spot, ready for the window to
// make a cursor of.
//
// Shapes come in three kinds:
//   monochrome (format 1): an AND plane then an XOR plane, each
//     ceil(width / 8) bytes per row and height / 2 rows, top-down; the
//     record's height counts both planes;
//   colour with mask (formats 2..6, hasMask 1): colour rows of
//     ceil(bits * width / 8) bytes, then a mask of two planes of
//     ceil(width / 8)-byte rows of which the first (the AND plane) is used;
//   colour without mask (hasMask 0): colour rows only; this makes a picture
//     but no cursor.
// Rows run bottom-up unless the record's top-down flag for that plane is 1.
// A shape whose declared sizes do not match those rows exactly is dropped
// whole, and the previous pointer stays.
//
// Note: a monochrome pixel that inverts the screen (AND 1, XOR 1), and a
// coloured pixel under a set AND bit, are drawn opaque black and transparent:
// an ARGB cursor has no inversion.
//
// Not locked: its owner (ViewDispatcher) guards it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "server/screen/appmessages_pointer.h"
#include "viewer/viewimage.h"

namespace velmora {

class PointerShape {
  public:
    // Largest shape side taken (the screen source writes at most 256).
    static constexpr int kMaxSide = 256;

    // Applies a record and its shape bytes (`shape` may be null when
    // shapeLength is 0). Positions are taken only while holdsControl.
    // vwApplied; vwIgnored for a position-only update while no cursor
    // exists or without control (nothing is taken then); vwBadShape when the shape's sizes do not
    // match (nothing changes then); vwNoMemory.
    [[nodiscard]] int Apply(const POINTER_RECORD& record, const uint8_t* shape, size_t shapeLength,
                            bool holdsControl);

    // The last record taken; a monochrome shape's height is stored halved.
    const POINTER_RECORD& Record() const { return record_; }
    // An image exists after any shape; a cursor only after a monochrome or
    // masked one (a shape without mask makes the picture only).
    bool HasImage() const { return !image_.Empty(); }
    bool CursorExists() const { return cursorExists_; }
    const ViewImage& Image() const { return image_; }
    int HotX() const { return hotX_; }
    int HotY() const { return hotY_; }
    // The pointer's position, as last taken while holding control.
    int X() const { return x_; }
    int Y() const { return y_; }

  private:
    int DecodeMonochrome(const POINTER_RECORD& record, const uint8_t* shape, ViewImage* out);
    int DecodeColour(const POINTER_RECORD& record, const uint8_t* shape, ViewImage* out);

    POINTER_RECORD record_{};
    ViewImage image_;
    bool cursorExists_ = false;
    int hotX_ = 0, hotY_ = 0;
    int x_ = 0, y_ = 0;
};

}  // namespace velmora

#include "mirror/typingscene.h"

namespace velmora {

TypingScene::TypingScene(int width, int height)
    : SyntheticScene(width, height),
      text_(TextArea()),
      columns_(uint32_t(text_.Width() / kCellWidth)),
      cellsPerPage_(columns_ * uint32_t(text_.Height() / kCellHeight)) {}

ScreenRect TypingScene::CellRect(uint32_t cell) const {
    const int left = text_.left + int(cell % columns_) * kCellWidth;
    const int top = text_.top + int(cell / columns_) * kCellHeight;
    return {left, top, left + kCellWidth, top + kCellHeight};
}

uint32_t TypingScene::PixelAt(uint32_t frame, int x, int y) const {
    if (cellsPerPage_ == 0 || x < text_.left || x >= text_.right || y < text_.top ||
        y >= text_.bottom) {
        return EditorChromeAt(x, y);
    }
    // Frame n shows n typed characters; the page holds the last partial page.
    const uint32_t page = frame / cellsPerPage_;
    const uint32_t typed = frame % cellsPerPage_;
    const int gx = (x - text_.left) % kCellWidth;
    const int gy = (y - text_.top) % kCellHeight;
    const uint32_t cell = uint32_t((y - text_.top) / kCellHeight) * columns_ +
                          uint32_t((x - text_.left) / kCellWidth);
    if (cell < typed) return GlyphInk(page * cellsPerPage_ + cell, gx, gy) ? kInk : kPaper;
    if (cell == typed && gx < 2 && gy >= 2 && gy < 14) return kInk;  // the caret
    return kPaper;
}

void TypingScene::Damage(uint32_t frame, std::vector<ScreenRect>& out) const {
    if (cellsPerPage_ == 0 || frame == 0) return;
    if (frame % cellsPerPage_ == 0) {
        out.push_back(text_);  // the page filled up and starts over
        return;
    }
    out.push_back(CellRect((frame - 1) % cellsPerPage_));  // the caret's cell gets its glyph
    out.push_back(CellRect(frame % cellsPerPage_));        // the caret moves on
}

void TypingScene::PointerAt(uint32_t frame, int* x, int* y) const {
    if (cellsPerPage_ == 0) return SyntheticScene::PointerAt(frame, x, y);
    // The pointer rests below the text, where an I-beam would be parked.
    *x = text_.left + text_.Width() / 2;
    *y = text_.bottom - 1;
}

}  // namespace velmora

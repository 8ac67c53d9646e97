#include "mirror/scrollingtextscene.h"

namespace velmora {

ScrollingTextScene::ScrollingTextScene(int width, int height)
    : SyntheticScene(width, height),
      text_(TextArea()),
      columns_(uint32_t(text_.Width() / kCellWidth)) {}

uint32_t ScrollingTextScene::PixelAt(uint32_t frame, int x, int y) const {
    if (text_.Empty() || x < text_.left || x >= text_.right || y < text_.top || y >= text_.bottom) {
        return EditorChromeAt(x, y);
    }
    // Content row r of the endless text is at the top of the area in frame r / 4.
    const uint64_t r = uint64_t(y - text_.top) + uint64_t(frame) * kPixelsPerFrame;
    const auto line = uint32_t(r / kCellHeight);
    const auto column = uint32_t((x - text_.left) / kCellWidth);
    const uint32_t length = Hash(line, 0x11, 0x22) % (columns_ + 1);  // ragged right edge
    if (column >= length) return kPaper;
    return GlyphInk(line * columns_ + column, (x - text_.left) % kCellWidth, int(r % kCellHeight))
               ? kInk
               : kPaper;
}

void ScrollingTextScene::Damage(uint32_t frame, std::vector<ScreenRect>& out) const {
    if (frame != 0 && !text_.Empty()) out.push_back(text_);
}

}  // namespace velmora

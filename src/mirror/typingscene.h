// The "typing" scene: one character is typed per frame into the editor
// window, with a caret after the last one; a full page starts over empty.
#pragma once

#include "mirror/syntheticscene.h"

namespace velmora {

class TypingScene final : public SyntheticScene {
  public:
    TypingScene(int width, int height);

    uint32_t PixelAt(uint32_t frame, int x, int y) const override;
    void Damage(uint32_t frame, std::vector<ScreenRect>& out) const override;
    void PointerAt(uint32_t frame, int* x, int* y) const override;

  private:
    ScreenRect CellRect(uint32_t cell) const;

    ScreenRect text_;
    uint32_t columns_;
    uint32_t cellsPerPage_;
};

}  // namespace velmora

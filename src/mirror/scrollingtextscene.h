// The "scrolling" scene: an endless ragged text scrolls up through the
// editor window by 4 pixels per frame.
#pragma once

#include "mirror/syntheticscene.h"

namespace velmora {

class ScrollingTextScene final : public SyntheticScene {
  public:
    static constexpr int kPixelsPerFrame = 4;

    ScrollingTextScene(int width, int height);

    uint32_t PixelAt(uint32_t frame, int x, int y) const override;
    void Damage(uint32_t frame, std::vector<ScreenRect>& out) const override;

  private:
    ScreenRect text_;
    uint32_t columns_;
};

}  // namespace velmora

// The "window" scene: a window travels over the desktop, bouncing off the
// screen's edges (8 pixels across and 6 down per frame), with the pointer
// held on its title bar as if dragging it.
#pragma once

#include "mirror/syntheticscene.h"

namespace velmora {

class MovingWindowScene final : public SyntheticScene {
  public:
    MovingWindowScene(int width, int height);

    // The window's rectangle in frame `frame`.
    ScreenRect WindowAt(uint32_t frame) const;

    uint32_t PixelAt(uint32_t frame, int x, int y) const override;
    void Damage(uint32_t frame, std::vector<ScreenRect>& out) const override;
    void PointerAt(uint32_t frame, int* x, int* y) const override;

  private:
    int windowWidth_;
    int windowHeight_;
};

}  // namespace velmora

// The "static" scene: an idle desktop with an editor window; nothing changes
// after the first frame.
#pragma once

#include "mirror/syntheticscene.h"

namespace velmora {

class StaticDesktopScene final : public SyntheticScene {
  public:
    StaticDesktopScene(int width, int height) : SyntheticScene(width, height) {}

    uint32_t PixelAt(uint32_t frame, int x, int y) const override;
    void Damage(uint32_t frame, std::vector<ScreenRect>& out) const override;
};

}  // namespace velmora

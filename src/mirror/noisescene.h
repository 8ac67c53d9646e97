// The "noise" scene: every pixel changes every frame, like full-screen video
// with no two frames alike; the worst case for the change scan and the
// encoder.
#pragma once

#include "mirror/syntheticscene.h"

namespace velmora {

class NoiseScene final : public SyntheticScene {
  public:
    NoiseScene(int width, int height) : SyntheticScene(width, height) {}

    uint32_t PixelAt(uint32_t frame, int x, int y) const override;
    void Damage(uint32_t frame, std::vector<ScreenRect>& out) const override;
    void Draw(uint32_t frame, const ScreenRect& area, const FrameCanvas& canvas) const override;

  private:
    static uint32_t Noise(uint32_t rowSeed, int x);
    static uint32_t RowSeed(uint32_t frame, int y);
};

}  // namespace velmora

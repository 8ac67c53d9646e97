#include "mirror/noisescene.h"

namespace velmora {

uint32_t NoiseScene::RowSeed(uint32_t frame, int y) {
    return Hash(frame, uint32_t(y), 0x4E);
}

uint32_t NoiseScene::Noise(uint32_t rowSeed, int x) {
    uint32_t h = (rowSeed ^ uint32_t(x) * 0x9E3779B1u) * 0x85EBCA77u;
    h ^= h >> 13;
    h *= 0xC2B2AE3Du;
    h ^= h >> 16;
    return h & 0x00FFFFFFu;  // byte 3 of a stored pixel is unused and stays 0
}

uint32_t NoiseScene::PixelAt(uint32_t frame, int x, int y) const {
    return Noise(RowSeed(frame, y), x);
}

void NoiseScene::Damage(uint32_t frame, std::vector<ScreenRect>& out) const {
    if (frame != 0) out.push_back(Bounds());
}

void NoiseScene::Draw(uint32_t frame, const ScreenRect& area, const FrameCanvas& canvas) const {
    // The same pixels as PixelAt, without a virtual call per pixel: this
    // scene redraws the whole screen every frame.
    const ScreenRect r = area.Intersect(Bounds()).Intersect(canvas.Bounds());
    if (r.Empty()) return;
    for (int y = r.top; y < r.bottom; ++y) {
        const uint32_t seed = RowSeed(frame, y);
        uint8_t* row = canvas.Row(y);
        for (int x = r.left; x < r.right; ++x) StorePixel(row + size_t(x) * 4, Noise(seed, x));
    }
}

}  // namespace velmora

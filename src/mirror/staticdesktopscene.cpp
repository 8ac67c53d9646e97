#include "mirror/staticdesktopscene.h"

namespace velmora {

uint32_t StaticDesktopScene::PixelAt(uint32_t /*frame*/, int x, int y) const {
    return EditorChromeAt(x, y);
}

void StaticDesktopScene::Damage(uint32_t /*frame*/, std::vector<ScreenRect>& /*out*/) const {}

}  // namespace velmora

#include "server/screen/inputinjector.h"

namespace velmora {

void ReleaseModifierKeys(InputInjector& injector) {
    static constexpr struct {
        uint8_t key;
        int32_t flags;
    } kModifiers[] = {
        {kVkShift, kKeyReleased},
        {kVkRightShift, kKeyReleased},
        {kVkAlt, kKeyReleased},
        {kVkControl, kKeyReleased},
        {kVkRightAlt, kKeyReleased | kKeyExtended},
    };
    for (const auto& m : kModifiers) injector.Key(m.key, m.flags);
}

}  // namespace velmora

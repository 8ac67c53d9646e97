#include "viewer/viewcolours.h"

#include <array>

#include "server/screen/tbitutil.h"

namespace velmora {
namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

struct Tables {
    std::array<uint32_t, ViewColours::k555Entries> t555{};
    std::array<uint32_t, 256> shared{};
    std::array<uint32_t, 16> sixteen{};

    Tables() {
        for (int i = 0; i < ViewColours::k555Entries; ++i) {
            t555[i] = kOpaque | Palette555(static_cast<uint16_t>(i));
        }
        for (int i = 0; i < 256; ++i) shared[i] = kOpaque | SHARED_PALETTE[i];
        constexpr uint32_t kSixteen[16] = {
            0x000000, 0x800080, 0xFFFF00, 0x808000, 0x00FF00, 0x008080, 0xA00000, 0xC0C0C0,
            0x808080, 0xFF0000, 0xFF00FF, 0xFFFF80, 0x008000, 0x0000FF, 0x00FFFF, 0xFFFFFF};
        for (int i = 0; i < 16; ++i) sixteen[i] = kOpaque | kSixteen[i];
    }
};

const Tables& Get() {
    static const Tables tables;  // thread-safe one-time construction
    return tables;
}

}  // namespace

const uint32_t* ViewColours::Table555() {
    return Get().t555.data();
}
const uint32_t* ViewColours::TableShared() {
    return Get().shared.data();
}
const uint32_t* ViewColours::Table16() {
    return Get().sixteen.data();
}

}  // namespace velmora

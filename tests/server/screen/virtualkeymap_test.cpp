#include "server/screen/virtualkeymap.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(VirtualKeyMap, MapsRangesAndTheExtendedFlag) {
    struct Case {
        uint8_t vk;
        bool extended;
        uint32_t keysym;
    };
    const Case cases[] = {
        {'A', false, XK_a},          {'Z', false, XK_z},
        {'0', false, XK_0},          {'9', false, XK_9},
        {0x60, false, XK_KP_0},      {0x69, false, XK_KP_9},
        {0x70, false, XK_F1},        {0x87, false, XK_F24},
        {0x11, false, XK_Control_L}, {0x11, true, XK_Control_R},
        {0x12, false, XK_Alt_L},     {0x12, true, XK_Alt_R},
        {0x2E, true, XK_Delete},     {0x2E, false, XK_KP_Delete},
        {0x25, true, XK_Left},       {0x25, false, XK_KP_Left},
        {0x0D, false, XK_Return},    {0x0D, true, XK_KP_Enter},
        {0xBA, false, XK_semicolon}, {0xDE, false, XK_apostrophe},
        {0x15, false, XK_Hangul},    {0x19, false, XK_Hangul_Hanja},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeysymForVirtualKey(c.vk, c.extended), c.keysym)
            << "vk 0x" << std::hex << int(c.vk) << " extended " << c.extended;
    }
}

TEST(VirtualKeyMap, CodesWithoutAKeyGiveNothing) {
    for (uint8_t vk : {0x00, 0x01, 0x07, 0x3A, 0x40, 0x5E, 0x88, 0xFF}) {
        EXPECT_EQ(KeysymForVirtualKey(vk, false), 0u) << "vk 0x" << std::hex << int(vk);
    }
}

}  // namespace
}  // namespace velmora

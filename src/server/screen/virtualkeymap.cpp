#include "server/screen/virtualkeymap.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace velmora {
namespace {

struct KeyRow {
    uint8_t vk;
    uint32_t normal;    // keysym without the extended flag
    uint32_t extended;  // keysym with it
};

// Codes whose key depends on the extended flag, and the fixed ones. Letters,
// digits, keypad digits and function keys are ranges handled in code.
constexpr KeyRow kKeys[] = {
    {0x08, XK_BackSpace, XK_BackSpace},
    {0x09, XK_Tab, XK_Tab},
    {0x0C, XK_Clear, XK_Clear},
    {0x0D, XK_Return, XK_KP_Enter},
    {0x10, XK_Shift_L, XK_Shift_L},
    {0x11, XK_Control_L, XK_Control_R},
    {0x12, XK_Alt_L, XK_Alt_R},
    {0x13, XK_Pause, XK_Pause},
    {0x14, XK_Caps_Lock, XK_Caps_Lock},
    {0x15, XK_Hangul, XK_Hangul},
    {0x19, XK_Hangul_Hanja, XK_Hangul_Hanja},
    {0x1B, XK_Escape, XK_Escape},
    {0x1C, XK_Henkan, XK_Henkan},
    {0x1D, XK_Muhenkan, XK_Muhenkan},
    {0x20, XK_space, XK_space},
    {0x21, XK_KP_Prior, XK_Prior},
    {0x22, XK_KP_Next, XK_Next},
    {0x23, XK_KP_End, XK_End},
    {0x24, XK_KP_Home, XK_Home},
    {0x25, XK_KP_Left, XK_Left},
    {0x26, XK_KP_Up, XK_Up},
    {0x27, XK_KP_Right, XK_Right},
    {0x28, XK_KP_Down, XK_Down},
    {0x2C, XK_Print, XK_Print},
    {0x2D, XK_KP_Insert, XK_Insert},
    {0x2E, XK_KP_Delete, XK_Delete},
    {0x2F, XK_Help, XK_Help},
    {0x5B, XK_Super_L, XK_Super_L},
    {0x5C, XK_Super_R, XK_Super_R},
    {0x5D, XK_Menu, XK_Menu},
    {0x6A, XK_KP_Multiply, XK_KP_Multiply},
    {0x6B, XK_KP_Add, XK_KP_Add},
    {0x6C, XK_KP_Separator, XK_KP_Separator},
    {0x6D, XK_KP_Subtract, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal, XK_KP_Decimal},
    {0x6F, XK_KP_Divide, XK_KP_Divide},
    {0x90, XK_Num_Lock, XK_Num_Lock},
    {0x91, XK_Scroll_Lock, XK_Scroll_Lock},
    {0xA0, XK_Shift_L, XK_Shift_L},
    {0xA1, XK_Shift_R, XK_Shift_R},
    {0xA2, XK_Control_L, XK_Control_L},
    {0xA3, XK_Control_R, XK_Control_R},
    {0xA4, XK_Alt_L, XK_Alt_L},
    {0xA5, XK_Alt_R, XK_Alt_R},
    {0xAD, XF86XK_AudioMute, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume, XF86XK_AudioLowerVolume},
    {0xAF, XF86XK_AudioRaiseVolume, XF86XK_AudioRaiseVolume},
    {0xBA, XK_semicolon, XK_semicolon},
    {0xBB, XK_equal, XK_equal},
    {0xBC, XK_comma, XK_comma},
    {0xBD, XK_minus, XK_minus},
    {0xBE, XK_period, XK_period},
    {0xBF, XK_slash, XK_slash},
    {0xC0, XK_grave, XK_grave},
    {0xDB, XK_bracketleft, XK_bracketleft},
    {0xDC, XK_backslash, XK_backslash},
    {0xDD, XK_bracketright, XK_bracketright},
    {0xDE, XK_apostrophe, XK_apostrophe},
    {0xE2, XK_less, XK_less},
};

}  // namespace

uint32_t KeysymForVirtualKey(uint8_t vk, bool extended) {
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    for (const KeyRow& row : kKeys) {
        if (row.vk == vk) return extended ? row.extended : row.normal;
    }
    return 0;
}

}  // namespace velmora

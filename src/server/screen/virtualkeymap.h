// Virtual-key codes of the viewer's keyboard messages to X keysyms.
#pragma once

#include <cstdint>

namespace velmora {

// The keysym for a virtual-key code, or 0 when the code has none. The
// extended flag picks the right-hand modifier (Control, Alt) and, for the
// navigation block (Insert, Delete, Home, End, Page Up/Down, arrows) and
// Enter, the dedicated key rather than its keypad twin.
uint32_t KeysymForVirtualKey(uint8_t virtualKey, bool extended);

}  // namespace velmora

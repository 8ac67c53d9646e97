// Where the input of a viewer goes: the mouse and keyboard of the shared
// desktop. Sessions translate viewer messages into these calls; the X
// implementation injects them with XTest, tests use a recording one.
#pragma once

#include <cstdint>

namespace velmora {

// Mouse actions of a viewer's mouse message (the values the viewer sends).
inline constexpr int32_t kMouseMove = 1;
inline constexpr int32_t kMouseLeftDown = 2;
inline constexpr int32_t kMouseLeftUp = 4;
inline constexpr int32_t kMouseRightDown = 8;
inline constexpr int32_t kMouseRightUp = 16;
inline constexpr int32_t kMouseMiddleDown = 32;
inline constexpr int32_t kMouseMiddleUp = 64;
inline constexpr int32_t kMouseWheel = 2048;

// Key-event flags of a viewer's key entry.
inline constexpr int32_t kKeyExtended = 0x1;
inline constexpr int32_t kKeyReleased = 0x2;

// Virtual-key codes the server itself uses.
inline constexpr uint8_t kVkShift = 0x10;
inline constexpr uint8_t kVkControl = 0x11;
inline constexpr uint8_t kVkAlt = 0x12;
inline constexpr uint8_t kVkDelete = 0x2E;
inline constexpr uint8_t kVkRightShift = 0xA1;
inline constexpr uint8_t kVkRightAlt = 0xA5;

class InputInjector {
  public:
    virtual ~InputInjector() = default;

    // Moves the pointer to (x, y) in screen coordinates; positions outside the
    // screen are clamped to it.
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    // One of the button actions kMouseLeftDown .. kMouseMiddleUp; others are ignored.
    virtual void MouseButton(int32_t action) = 0;
    // A wheel turn: 120 per notch, positive away from the user.
    virtual void Wheel(int32_t delta) = 0;
    // A key press or release by virtual-key code and flags (kKeyExtended,
    // kKeyReleased). Unknown codes are ignored.
    virtual void Key(uint8_t virtualKey, int32_t flags) = 0;
    // The secure-attention request (Ctrl+Alt+Delete from a viewer).
    virtual void SecureAttention() = 0;
};

// Key-up events for Shift, right Shift, Alt, Control and right Alt, in that
// order, so no modifier stays pressed across a change of the control right.
void ReleaseModifierKeys(InputInjector& injector);

}  // namespace velmora

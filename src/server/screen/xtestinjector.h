// Injects viewer input into an X display with the XTest extension.
//
// The display is opened on first use (DISPLAY of the server, or the one
// given); without a display or without XTest every call does nothing and the
// reason is kept in LastError(). Several sessions inject at once: lock_ guards
// the X connection and the wheel remainder; it is a leaf lock.
#pragma once

#include <mutex>
#include <string>

#include "server/screen/inputinjector.h"

struct _XDisplay;

namespace velmora {

class XTestInjector final : public InputInjector {
  public:
    // displayName: empty for $DISPLAY. secureAttentionCommand: a shell command
    // run for the secure-attention request; empty to inject Ctrl+Alt+Delete.
    explicit XTestInjector(std::string displayName = {}, std::string secureAttentionCommand = {});
    ~XTestInjector() override;
    XTestInjector(const XTestInjector&) = delete;
    XTestInjector& operator=(const XTestInjector&) = delete;

    void MoveTo(int32_t x, int32_t y) override;
    void MouseButton(int32_t action) override;
    void Wheel(int32_t delta) override;
    void Key(uint8_t virtualKey, int32_t flags) override;
    void SecureAttention() override;

    // True when the display is open and has XTest (opening it if needed).
    bool Available();
    std::string LastError();

  private:
    bool OpenLocked();
    void KeysymLocked(unsigned long keysym, bool press);

    std::mutex lock_;
    std::string displayName_;
    std::string secureAttentionCommand_;
    _XDisplay* display_ = nullptr;
    bool triedOpen_ = false;
    int wheelRemainder_ = 0;
    std::string error_;
};

}  // namespace velmora

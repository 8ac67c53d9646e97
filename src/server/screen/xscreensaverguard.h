// The screen-saver guard of an X display: the core screen saver through
// XGetScreenSaver / XSetScreenSaver (a time-out of 0 turns it off) and
// display power saving through the DPMS extension, when the server has it.
//
// Note: XScreenSaverSuspend would need one more library (Xss) for the same
// effect; the core request and DPMS are in Xlib and Xext already.
//
// Without a display every call does nothing. Not thread-safe: the capture
// thread owns it.
#pragma once

#include <cstdint>
#include <string>

#include "server/screen/screensaverguard.h"

struct _XDisplay;

namespace velmora {

class XScreenSaverGuard final : public ScreenSaverGuard {
  public:
    static constexpr uint32_t kRecheckMs = 1000;

    // displayName: empty for $DISPLAY.
    explicit XScreenSaverGuard(std::string displayName = {});
    ~XScreenSaverGuard() override;
    XScreenSaverGuard(const XScreenSaverGuard&) = delete;
    XScreenSaverGuard& operator=(const XScreenSaverGuard&) = delete;

    void Suspend() override;
    // Looks at the display at most once per kRecheckMs.
    void Recheck() override;
    void Restore() override;

    const std::string& LastError() const { return error_; }

  private:
    bool Open();
    void TurnOff();

    std::string displayName_;
    std::string error_;
    _XDisplay* display_ = nullptr;
    bool saved_ = false;
    int timeout_ = 0, interval_ = 0, preferBlanking_ = 0, allowExposures_ = 0;
    bool hasDpms_ = false;
    bool dpmsWasOn_ = false;
    uint32_t lastCheck_ = 0;
};

}  // namespace velmora

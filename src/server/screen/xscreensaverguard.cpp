#include "server/screen/xscreensaverguard.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include "platform/tick.h"

namespace velmora {

XScreenSaverGuard::XScreenSaverGuard(std::string displayName)
    : displayName_(std::move(displayName)) {}

XScreenSaverGuard::~XScreenSaverGuard() {
    Restore();
    if (display_ != nullptr) XCloseDisplay(display_);
}

bool XScreenSaverGuard::Open() {
    if (display_ != nullptr) return true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (display_ == nullptr) {
        error_ = "no X display: the screen saver is left as it is";
        return false;
    }
    int event = 0, error = 0;
    hasDpms_ = DPMSQueryExtension(display_, &event, &error) && DPMSCapable(display_);
    return true;
}

void XScreenSaverGuard::Suspend() {
    if (saved_ || !Open()) return;
    XGetScreenSaver(display_, &timeout_, &interval_, &preferBlanking_, &allowExposures_);
    if (hasDpms_) {
        CARD16 level = 0;
        BOOL on = False;
        dpmsWasOn_ = DPMSInfo(display_, &level, &on) && on;
    }
    saved_ = true;
    TurnOff();
    lastCheck_ = Tick();
}

void XScreenSaverGuard::TurnOff() {
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display_, &timeout, &interval, &blanking, &exposures);
    if (timeout != 0) XSetScreenSaver(display_, 0, interval, blanking, exposures);
    if (hasDpms_) {
        CARD16 level = 0;
        BOOL on = False;
        if (DPMSInfo(display_, &level, &on) && on) DPMSDisable(display_);
    }
    XSync(display_, False);  // in effect before this returns
}

void XScreenSaverGuard::Recheck() {
    if (!saved_ || TickSince(lastCheck_) < kRecheckMs) return;
    lastCheck_ = Tick();
    TurnOff();
}

void XScreenSaverGuard::Restore() {
    if (!saved_) return;
    saved_ = false;
    XSetScreenSaver(display_, timeout_, interval_, preferBlanking_, allowExposures_);
    if (hasDpms_ && dpmsWasOn_) DPMSEnable(display_);
    XSync(display_, False);
}

}  // namespace velmora

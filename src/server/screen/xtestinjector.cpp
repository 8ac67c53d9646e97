#include "server/screen/xtestinjector.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "server/screen/virtualkeymap.h"

extern char** environ;

namespace velmora {
namespace {

// X button numbers of the viewer's button actions.
struct ButtonAction {
    int32_t action;
    unsigned button;
    bool press;
};
constexpr ButtonAction kButtons[] = {
    {kMouseLeftDown, 1, true}, {kMouseLeftUp, 1, false},    {kMouseRightDown, 3, true},
    {kMouseRightUp, 3, false}, {kMouseMiddleDown, 2, true}, {kMouseMiddleUp, 2, false},
};

constexpr int kWheelNotch = 120;

}  // namespace

XTestInjector::XTestInjector(std::string displayName, std::string secureAttentionCommand)
    : displayName_(std::move(displayName)),
      secureAttentionCommand_(std::move(secureAttentionCommand)) {}

XTestInjector::~XTestInjector() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

bool XTestInjector::OpenLocked() {
    if (display_ != nullptr) return true;
    if (triedOpen_) return false;
    triedOpen_ = true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (display_ == nullptr) {
        error_ = "cannot open the X display \"" + displayName_ +
                 "\" for input injection; viewer input is ignored";
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        error_ = "the X display has no XTest extension; viewer input is ignored";
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    // Injected events must not be held back by another client's grab.
    XTestGrabControl(display_, True);
    return true;
}

bool XTestInjector::Available() {
    std::lock_guard<std::mutex> guard(lock_);
    return OpenLocked();
}

std::string XTestInjector::LastError() {
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

void XTestInjector::MoveTo(int32_t x, int32_t y) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!OpenLocked()) return;
    const int screen = DefaultScreen(display_);
    const int32_t maxX = DisplayWidth(display_, screen) - 1;
    const int32_t maxY = DisplayHeight(display_, screen) - 1;
    XTestFakeMotionEvent(display_, screen, std::clamp(x, 0, maxX), std::clamp(y, 0, maxY),
                         CurrentTime);
    XFlush(display_);
}

void XTestInjector::MouseButton(int32_t action) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!OpenLocked()) return;
    for (const ButtonAction& b : kButtons) {
        if (b.action == action) {
            XTestFakeButtonEvent(display_, b.button, b.press ? True : False, CurrentTime);
            XFlush(display_);
            return;
        }
    }
}

void XTestInjector::Wheel(int32_t delta) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!OpenLocked()) return;
    // Fine-grained wheels send less than a notch at a time: keep the rest.
    const int64_t total = static_cast<int64_t>(wheelRemainder_) + delta;
    const int64_t notches = total / kWheelNotch;
    wheelRemainder_ = static_cast<int>(total % kWheelNotch);
    const unsigned button = notches > 0 ? 4 : 5;
    // Note: a burst is capped so one absurd delta cannot flood the desktop.
    const int64_t clicks = std::min<int64_t>(notches < 0 ? -notches : notches, 100);
    for (int64_t i = 0; i < clicks; ++i) {
        XTestFakeButtonEvent(display_, button, True, CurrentTime);
        XTestFakeButtonEvent(display_, button, False, CurrentTime);
    }
    XFlush(display_);
}

void XTestInjector::KeysymLocked(unsigned long keysym, bool press) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) return;  // the keymap has no key for it
    XTestFakeKeyEvent(display_, code, press ? True : False, CurrentTime);
}

void XTestInjector::Key(uint8_t virtualKey, int32_t flags) {
    const uint32_t keysym = KeysymForVirtualKey(virtualKey, (flags & kKeyExtended) != 0);
    if (keysym == 0) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (!OpenLocked()) return;
    KeysymLocked(keysym, (flags & kKeyReleased) == 0);
    XFlush(display_);
}

void XTestInjector::SecureAttention() {
    if (!secureAttentionCommand_.empty()) {
        // The command decides what the request means on this desktop (lock the
        // screen, open a session menu, ...). It runs detached from the session;
        // a waiter reaps it so no zombie remains.
        const char* argv[] = {"/bin/sh", "-c", secureAttentionCommand_.c_str(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) ==
            0) {
            std::thread([pid] {
                int status = 0;
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } else {
            std::lock_guard<std::mutex> guard(lock_);
            error_ = "cannot run the secure-attention command";
        }
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (!OpenLocked()) return;
    KeysymLocked(XK_Control_L, true);
    KeysymLocked(XK_Alt_L, true);
    KeysymLocked(XK_Delete, true);
    KeysymLocked(XK_Delete, false);
    KeysymLocked(XK_Alt_L, false);
    KeysymLocked(XK_Control_L, false);
    XFlush(display_);
}

}  // namespace velmora

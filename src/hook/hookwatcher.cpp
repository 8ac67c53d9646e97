#include "hook/hookwatcher.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velmora {
namespace {

// X reports errors through one process-wide handler. Errors on the
// watcher's own connection (a window that vanished before it was asked
// about) are expected and ignored; any other goes to the handler that was
// installed before.
std::atomic<Display*> g_watcherDisplay{nullptr};
XErrorHandler g_previousHandler = nullptr;

int OnXError(Display* display, XErrorEvent* event) {
    if (display == g_watcherDisplay.load()) return 0;
    return g_previousHandler != nullptr ? g_previousHandler(display, event) : 0;
}

HookRect RectOf(int x, int y, int width, int height, int border) {
    return {x, y, x + width + 2 * border, y + height + 2 * border};
}

}  // namespace

HookWatcher::HookWatcher(HookQueue& queue) : queue_(queue) {
    threadProc = &HookWatcher::Proc;
}

HookWatcher::~HookWatcher() {
    Stop();
}

bool HookWatcher::Open(std::string* error) {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        const char* name = getenv("DISPLAY");
        *error = std::string("cannot open the X display ") +
                 (name != nullptr ? name : "(DISPLAY is not set)");
        return false;
    }
    int event = 0;
    int errorBase = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display_, "XInputExtension", &inputOpcode_, &event, &errorBase) ||
        XIQueryVersion(display_, &major, &minor) != Success) {
        *error = "the X server has no XInput 2.2 extension";
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    if (g_previousHandler == nullptr) g_previousHandler = XSetErrorHandler(&OnXError);
    g_watcherDisplay.store(display_);
    root_ = DefaultRootWindow(display_);

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display_, root_, &mask, 1);
    XSelectInput(display_, root_, SubstructureNotifyMask);
    if (XFixesQueryExtension(display_, &fixesEvent_, &errorBase)) {
        XFixesSelectCursorInput(display_, root_, XFixesDisplayCursorNotifyMask);
    } else {
        fixesEvent_ = -1;
    }
    FollowExisting();
    UpdatePointer();
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return wakeFd_ >= 0;
}

void HookWatcher::FollowExisting() {
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display_, children[i], &a)) {
            tracker_.WindowConfigured(children[i],
                                      RectOf(a.x, a.y, a.width, a.height, a.border_width),
                                      a.override_redirect != 0, pending_);
            tracker_.WindowMapped(children[i], a.map_state != IsUnmapped);
        }
    }
    if (children != nullptr) XFree(children);
    pending_.clear();  // windows that were already there start no drag
}

bool HookWatcher::Start() {
    return display_ != nullptr && Run(true);
}

void HookWatcher::Stop() {
    if (IsStarted()) {
        RequestStop();
        const uint64_t one = 1;
        (void)!write(wakeFd_, &one, sizeof one);
        StopAndWait(1);
    }
    if (display_ != nullptr) {
        UpdatePointer();
        g_watcherDisplay.store(nullptr);
        XCloseDisplay(display_);
        display_ = nullptr;
    }
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
}

uint32_t HookWatcher::Proc(void* self) {
    static_cast<HookWatcher*>(self)->Loop();
    return 0;
}

void HookWatcher::Loop() {
    BeginLoop();
    XEvent event;
    while (!StopRequested()) {
        while (XPending(display_) > 0) {
            XNextEvent(display_, &event);
            Handle(event);
        }
        if (pointerMoved_) UpdatePointer();
        Flush();
        if (XPending(display_) > 0) continue;
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    }
    EndLoop();
}

void HookWatcher::Handle(XEvent& event) {
    switch (event.type) {
        case CreateNotify: {
            const XCreateWindowEvent& e = event.xcreatewindow;
            if (e.parent == root_) {
                tracker_.WindowConfigured(e.window,
                                          RectOf(e.x, e.y, e.width, e.height, e.border_width),
                                          e.override_redirect != 0, pending_);
            }
            break;
        }
        case ConfigureNotify: {
            const XConfigureEvent& e = event.xconfigure;
            if (e.event == root_) {
                tracker_.WindowConfigured(e.window,
                                          RectOf(e.x, e.y, e.width, e.height, e.border_width),
                                          e.override_redirect != 0, pending_);
            }
            break;
        }
        case ReparentNotify: {
            const XReparentEvent& e = event.xreparent;
            XWindowAttributes a;
            if (e.parent != root_) {
                tracker_.WindowGone(e.window, pending_);
            } else if (XGetWindowAttributes(display_, e.window, &a)) {
                tracker_.WindowConfigured(e.window,
                                          RectOf(a.x, a.y, a.width, a.height, a.border_width),
                                          a.override_redirect != 0, pending_);
                tracker_.WindowMapped(e.window, a.map_state != IsUnmapped);
            }
            break;
        }
        case MapNotify:
            if (event.xmap.event == root_) tracker_.WindowMapped(event.xmap.window, true);
            break;
        case UnmapNotify:
            if (event.xunmap.event == root_) tracker_.WindowMapped(event.xunmap.window, false);
            break;
        case DestroyNotify:
            if (event.xdestroywindow.event == root_)
                tracker_.WindowGone(event.xdestroywindow.window, pending_);
            break;
        case GenericEvent:
            HandleInput(event);
            break;
        default:
            if (fixesEvent_ >= 0 && event.type == fixesEvent_ + XFixesCursorNotify) {
                const auto& e = reinterpret_cast<const XFixesCursorNotifyEvent&>(event);
                queue_.Shared()->currentCursor = e.cursor_serial;
            }
            break;
    }
}

void HookWatcher::HandleInput(XEvent& event) {
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->extension != inputOpcode_ || !XGetEventData(display_, cookie)) return;
    const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
    switch (cookie->evtype) {
        case XI_RawButtonPress:
            // Buttons 4 and 5 are the wheel's clicks up and down.
            if (raw->detail == 4 || raw->detail == 5) {
                Wheel(raw->detail == 4 ? kWheelDelta : -kWheelDelta);
            } else {
                tracker_.ButtonPressed(raw->detail);
                pointerMoved_ = true;
            }
            break;
        case XI_RawButtonRelease:
            tracker_.ButtonReleased(raw->detail, pending_);
            break;
        case XI_RawMotion:
            pointerMoved_ = true;
            break;
        default:
            break;
    }
    XFreeEventData(display_, cookie);
}

void HookWatcher::Wheel(int delta) {
    HookRect rect;
    const Window child = UpdatePointer();
    if (child != 0) tracker_.RectOf(child, &rect);  // the top-level window under the pointer
    HOOKEVENT e = DragTracker::Record(kWmMouseWheel, rect, 0);
    e.value = delta;
    e.x = pointerX_;
    e.y = pointerY_;
    pending_.push_back(e);
}

Window HookWatcher::UpdatePointer() {
    pointerMoved_ = false;
    Window rootReturn = 0;
    Window child = 0;
    int wx = 0;
    int wy = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display_, root_, &rootReturn, &child, &pointerX_, &pointerY_, &wx, &wy,
                       &mask)) {
        return 0;
    }
    if (HOOKSHARED* shared = queue_.Shared(); shared != nullptr) {
        shared->mouseX = pointerX_;
        shared->mouseY = pointerY_;
    }
    return child;
}

void HookWatcher::Flush() {
    for (const HOOKEVENT& e : pending_) {
        if (e.message.get() == kWmEnterSizeMove) {
            queue_.Shared()->moveStartX = pointerX_;
            queue_.Shared()->moveStartY = pointerY_;
        }
        (void)queue_.Put(e);  // a record the queue refuses is dropped, as designed
    }
    pending_.clear();
}

}  // namespace velmora

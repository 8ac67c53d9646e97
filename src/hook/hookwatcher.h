// The X11 window-event watcher behind the hook library: a thread with its
// own X connection that follows the top-level windows (structure events on
// the root window: client windows and window-manager frames), the pointer
// buttons (XInput2 raw events, which every client may see) and the cursor
// shape (XFixes), and queues the records of window moves, resizes and wheel
// clicks (see DragTracker).
//
// Lock: none of its own. Records go through HookQueue (mutex "ZTHOOK");
// the pointer position and cursor fields of the shared block are single
// values written without a lock. The X connection is used by the watcher
// thread only, and by Open/Stop while the thread is not running.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "hook/dragtracker.h"
#include "hook/hookqueue.h"
#include "platform/ztthread.h"

namespace velmora {

class HookWatcher : public ZTTHREAD {
  public:
    explicit HookWatcher(HookQueue& queue);
    ~HookWatcher() override;

    // Connects to $DISPLAY and selects the events: false with a sentence in
    // `error` when there is no display or it lacks XInput 2.2.
    bool Open(std::string* error);
    // Runs the thread.
    bool Start();
    // Stops the thread and waits for it, stores the pointer's position in
    // the shared block, and closes the connection.
    void Stop();

  private:
    static uint32_t Proc(void* self);
    void Loop();
    void Handle(XEvent& event);
    void HandleInput(XEvent& event);
    void FollowExisting();
    void Wheel(int delta);
    // Reads the pointer's position into the shared block; the answer is
    // the top-level window under it (0 when none).
    Window UpdatePointer();
    void Flush();

    HookQueue& queue_;
    DragTracker tracker_;
    Display* display_ = nullptr;
    Window root_ = 0;
    int inputOpcode_ = 0;
    int fixesEvent_ = -1;
    int wakeFd_ = -1;
    bool pointerMoved_ = false;
    int pointerX_ = 0;
    int pointerY_ = 0;
    std::vector<HOOKEVENT> pending_;
};

}  // namespace velmora

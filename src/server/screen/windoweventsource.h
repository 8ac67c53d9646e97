// Where the capture thread learns that a window is being moved or resized:
// the hook library's queue of window events (HOOKEVENT records), the pointer
// position it last saw, and whether windows are redrawn while dragged. The
// program feeds it from libZTHOOK.so; tests script it.
#pragma once

#include <cstdint>

#include "hook/hookevent.h"

namespace velmora {

class WindowEventSource {
  public:
    virtual ~WindowEventSource() = default;
    // Takes the oldest queued record; false when there is none.
    virtual bool Take(HOOKEVENT* record) = 0;
    virtual void PointerPosition(int32_t* x, int32_t* y) = 0;
    // Whether windows show their content while dragged (only then do
    // viewers get drag notices).
    virtual bool FullWindowDrag() = 0;
};

}  // namespace velmora

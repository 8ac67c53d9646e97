// The capture thread's window events from libZTHOOK.so: its queue, its last
// pointer position. Windows on X are taken to show their content while
// dragged (the window managers' common setting), so drags are always
// followed.
#pragma once

#include "server/screen/windoweventsource.h"

namespace velmora {

class ZthookEvents final : public WindowEventSource {
  public:
    bool Take(HOOKEVENT* record) override;
    void PointerPosition(int32_t* x, int32_t* y) override;
    bool FullWindowDrag() override { return true; }
};

}  // namespace velmora

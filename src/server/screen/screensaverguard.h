// Keeps the shared desktop's screen saver and display power saving off while
// the server shares it, and puts the user's settings back at the end.
#pragma once

namespace velmora {

class ScreenSaverGuard {
  public:
    virtual ~ScreenSaverGuard() = default;
    // Saves the current settings and turns saver and power saving off.
    virtual void Suspend() = 0;
    // Turns them off again if something turned them on meanwhile.
    virtual void Recheck() = 0;
    // Puts the saved settings back.
    virtual void Restore() = 0;
};

}  // namespace velmora

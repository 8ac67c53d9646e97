// The x11 screen source: keeps the shared files equal to an X screen.
//
// XDamage reports which rectangles of the root window changed; they are read
// with MIT-SHM (plain GetImage where shared memory is refused, such as on a
// remote display), converted to the file's pixels and the drawn field is set.
// XFixes reports cursor shape changes, written as a 32-bit colour pointer;
// the pointer position is polled every 50 ms. A RandR screen-size change is
// a mode switch: sharing 0 in the old header, then a new file and header,
// and the whole screen is read again.
//
// Not thread-safe: it runs the source's only loop.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

#include <chrono>
#include <string>
#include <vector>

#include "mirror/framecanvas.h"
#include "mirror/pixelconverter.h"
#include "mirror/sharefilewriter.h"
#include "mirror/sourcecontrol.h"
#include "mirror/sourceoptions.h"

namespace velmora {

class X11Source {
  public:
    X11Source(const SourceOptions& options, ShareFileWriter& writer, SourceControl& control)
        : options_(options), writer_(writer), control_(control) {}
    ~X11Source();
    X11Source(const X11Source&) = delete;
    X11Source& operator=(const X11Source&) = delete;

    // Connects, opens the files in `directory`, copies the whole screen and
    // the cursor, reports ready, then follows the screen until stopped. The
    // answer is the program's exit code (0, or 1 with `error` set).
    int Run(const std::string& directory, std::string* error);

  private:
    using Clock = std::chrono::steady_clock;

    bool Connect(std::string* error);
    bool MakeImageMemory(int width, int height);
    void FreeImageMemory();
    void CopyRect(const ScreenRect& r);
    void CopyDamage();
    void CopyAll();
    void UpdateCursor();
    void PollPointer();
    bool HandleEvent(XEvent& event, std::string* error);
    bool SwitchMode(std::string* error);
    int NextTimeoutMs(Clock::time_point now) const;

    const SourceOptions& options_;
    ShareFileWriter& writer_;
    SourceControl& control_;

    Display* display_ = nullptr;
    Window root_ = 0;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    PixelConverter converter_;
    Damage damage_ = 0;
    int damageEvent_ = 0;
    int fixesEvent_ = 0;
    int randrEvent_ = 0;
    bool useShm_ = false;
    XShmSegmentInfo shm_{};
    bool shmAttached_ = false;

    bool damagePending_ = false;
    uint32_t copies_ = 0;  // written to the header's last field
    Clock::time_point nextCopy_;
    Clock::time_point nextPointerPoll_;
    std::vector<uint32_t> cursor_;
};

}  // namespace velmora

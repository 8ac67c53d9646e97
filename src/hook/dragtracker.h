// Turns what an X window-event watcher sees into the records of a window
// move or resize: while a pointer button is held, the first change of a
// top-level window's position or size gives 561 (with the rectangle it had)
// and the change itself; later changes of that window give 534 for a move
// or 532 for a resize, with the edge taken from the sides that changed; the
// release of the last button gives 562 (with the rectangle it has then).
//
// Note: a window that an application moves or resizes by itself while a
// button happens to be held looks like a drag; override-redirect windows
// (menus, tooltips) and windows not mapped (a frame being set up) are never
// taken for one.
//
// X-free and not thread-safe: the watcher thread owns it.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "hook/hookevent.h"

namespace velmora {

struct HookRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;  // exclusive
    int32_t bottom = 0;
    bool operator==(const HookRect&) const = default;
};

class DragTracker {
  public:
    // A top-level window appeared, was configured or reparented onto the
    // root; records for an ongoing or starting drag go to `out`.
    void WindowConfigured(uint64_t window, const HookRect& rect, bool overrideRedirect,
                          std::vector<HOOKEVENT>& out);
    // It was mapped or unmapped; a window starts unmapped.
    void WindowMapped(uint64_t window, bool mapped);
    // It left the root (destroyed or reparented into a frame). A drag of
    // it ends here with 562, so a reader following the drag is never left
    // waiting for a release that will not be reported.
    void WindowGone(uint64_t window, std::vector<HOOKEVENT>& out);
    void ButtonPressed(int button);
    void ButtonReleased(int button, std::vector<HOOKEVENT>& out);

    bool Dragging() const { return dragged_ != 0; }
    // The rectangle last seen for a window; false when unknown.
    bool RectOf(uint64_t window, HookRect* rect) const;

    // The edge a resize drags, from the sides that moved (0 when none did).
    static uint32_t EdgeOf(const HookRect& before, const HookRect& after);
    static HOOKEVENT Record(uint32_t message, const HookRect& rect, uint32_t edge);

  private:
    struct Known {
        HookRect rect;
        bool overrideRedirect = false;
        bool mapped = false;
    };
    std::unordered_map<uint64_t, Known> windows_;
    uint32_t buttons_ = 0;  // bit b - 1 set while button b (1 to 3) is held
    uint64_t dragged_ = 0;
};

}  // namespace velmora

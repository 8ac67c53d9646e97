#include "hook/dragtracker.h"

namespace velmora {

HOOKEVENT DragTracker::Record(uint32_t message, const HookRect& rect, uint32_t edge) {
    HOOKEVENT e{};
    e.message = message;
    e.left = rect.left;
    e.top = rect.top;
    e.right = rect.right;
    e.bottom = rect.bottom;
    e.edge = edge;
    return e;
}

uint32_t DragTracker::EdgeOf(const HookRect& before, const HookRect& after) {
    const bool left = before.left != after.left;
    const bool right = before.right != after.right;
    const bool top = before.top != after.top;
    const bool bottom = before.bottom != after.bottom;
    // Per axis, the side that moved; when both did (the window also moved),
    // the side a pointer drag would hold is the one nearer the origin.
    const int horizontal = left ? 1 : right ? 2 : 0;
    const int vertical = top ? 1 : bottom ? 2 : 0;
    static constexpr uint32_t kTable[3][3] = {
        {0, kEdgeTop, kEdgeBottom},
        {kEdgeLeft, kEdgeTopLeft, kEdgeBottomLeft},
        {kEdgeRight, kEdgeTopRight, kEdgeBottomRight},
    };
    return kTable[horizontal][vertical];
}

void DragTracker::WindowConfigured(uint64_t window, const HookRect& rect, bool overrideRedirect,
                                   std::vector<HOOKEVENT>& out) {
    auto [it, added] = windows_.try_emplace(window, Known{rect, overrideRedirect, false});
    if (added) return;  // a new window is not a drag
    Known& known = it->second;
    const HookRect before = known.rect;
    known.rect = rect;
    known.overrideRedirect = overrideRedirect;
    if (overrideRedirect || !known.mapped || buttons_ == 0 || before == rect) return;
    if (dragged_ == 0) {
        dragged_ = window;
        out.push_back(Record(kWmEnterSizeMove, before, 0));
    } else if (dragged_ != window) {
        return;
    }
    const bool resized = before.right - before.left != rect.right - rect.left ||
                         before.bottom - before.top != rect.bottom - rect.top;
    if (resized) {
        out.push_back(Record(kWmSizing, rect, EdgeOf(before, rect)));
    } else {
        out.push_back(Record(kWmMoving, rect, 0));
    }
}

void DragTracker::WindowMapped(uint64_t window, bool mapped) {
    const auto it = windows_.find(window);
    if (it != windows_.end()) it->second.mapped = mapped;
}

void DragTracker::WindowGone(uint64_t window, std::vector<HOOKEVENT>& out) {
    const auto it = windows_.find(window);
    if (it == windows_.end()) return;
    if (dragged_ == window) {
        out.push_back(Record(kWmExitSizeMove, it->second.rect, 0));
        dragged_ = 0;
    }
    windows_.erase(it);
}

void DragTracker::ButtonPressed(int button) {
    if (button >= 1 && button <= 3) buttons_ |= 1u << (button - 1);
}

void DragTracker::ButtonReleased(int button, std::vector<HOOKEVENT>& out) {
    if (button < 1 || button > 3) return;
    buttons_ &= ~(1u << (button - 1));
    if (buttons_ != 0 || dragged_ == 0) return;
    HookRect rect;
    RectOf(dragged_, &rect);
    out.push_back(Record(kWmExitSizeMove, rect, 0));
    dragged_ = 0;
}

bool DragTracker::RectOf(uint64_t window, HookRect* rect) const {
    const auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    *rect = it->second.rect;
    return true;
}

}  // namespace velmora

// What a view tells the windows (or the headless program) about itself.
//
// Every call comes from the view's receive thread, after the view has
// released its picture lock, so an observer may read the picture, the
// pointer and the member list from inside a call. A window toolkit forwards
// the calls to its main thread (queued signals); it must not block the
// receive thread waiting for that thread. Exceptions thrown by an observer
// are caught and dropped by the view.
#pragma once

#include "viewer/viewimage.h"

namespace velmora {

class ViewObserver {
  public:
    virtual ~ViewObserver() = default;

    // The view's result changed (vr* codes of viewcodes.h).
    virtual void OnStateChanged(int /*result*/) {}
    // New, black surfaces of the remote screen's size: after logon and after
    // every screen description.
    virtual void OnScreenChanged(int /*width*/, int /*height*/) {}
    // "Draw this rectangle": these areas of the back buffer changed.
    virtual void OnPictureChanged(const ViewRect* /*rects*/, int /*count*/) {}
    // The remote pointer's shape (or, while holding control, its position)
    // changed.
    virtual void OnPointerChanged() {}
    // A new member list was taken.
    virtual void OnMemberListChanged() {}
    // "Control answer": flag 1 granted, 0 not; code 0, -1 forbidden, -2 the
    // right went to another viewer.
    virtual void OnControlAnswer(int /*flag*/, int /*code*/) {}
    // The connection was lost while connected (the window shows
    // "연결이 끊어짐"); the state goes to vrEnded shortly after.
    virtual void OnConnectionLost() {}
};

}  // namespace velmora

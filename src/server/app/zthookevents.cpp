#include "server/app/zthookevents.h"

#include "hook/zthook.h"

namespace velmora {

bool ZthookEvents::Take(HOOKEVENT* record) {
    return GetQue(record) == 1;
}

void ZthookEvents::PointerPosition(int32_t* x, int32_t* y) {
    int32_t point[2] = {0, 0};
    GetMousePos(point);
    *x = point[0];
    *y = point[1];
}

}  // namespace velmora

#include "server/engine/ztservermaster_thread.h"

#include "platform/tick.h"

namespace velmora {

ZTSERVERMASTER_THREAD::ZTSERVERMASTER_THREAD() {
    threadProc = &ZTSERVERMASTER_THREAD::Proc;
}

ZTSERVERMASTER_THREAD::~ZTSERVERMASTER_THREAD() = default;

void ZTSERVERMASTER_THREAD::Execute() {
    while (!StopRequested()) SleepMs(100);
}

uint32_t ZTSERVERMASTER_THREAD::Proc(void* parameter) {
    auto* self = static_cast<ZTSERVERMASTER_THREAD*>(static_cast<ZTTHREAD*>(parameter));
    self->finished_.store(false);
    self->BeginLoop();
    try {
        self->ThreadStart();
        self->Execute();
    } catch (...) {
        // Swallowed: the thread ends and Shutdown still finds it finished.
    }
    self->EndLoop();
    self->finished_.store(true);
    return 0;
}

}  // namespace velmora

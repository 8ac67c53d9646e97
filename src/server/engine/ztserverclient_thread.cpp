#include "server/engine/ztserverclient_thread.h"

#include "platform/tick.h"
#include "server/engine/ztserver.h"

namespace velmora {

ZTSERVERCLIENT_THREAD::ZTSERVERCLIENT_THREAD() {
    threadProc = &ZTSERVERCLIENT_THREAD::Proc;
}

ZTSERVERCLIENT_THREAD::~ZTSERVERCLIENT_THREAD() = default;

void ZTSERVERCLIENT_THREAD::Attach(ZTSERVER& engine, ZTHOSTLIST& host) {
    engine_.store(&engine);
    host_.store(&host);
}

void ZTSERVERCLIENT_THREAD::Execute() {
    while (!StopRequested()) SleepMs(100);
}

uint32_t ZTSERVERCLIENT_THREAD::Proc(void* parameter) {
    auto* self = static_cast<ZTSERVERCLIENT_THREAD*>(static_cast<ZTTHREAD*>(parameter));
    self->finished_.store(false);
    self->BeginLoop();
    try {
        self->ThreadStart();
        self->Execute();
        // The application ended the connection by returning.
        ZTHOSTLIST* host = self->Host();
        ZTSERVER* engine = self->Engine();
        if (!self->StopRequested() && host != nullptr && engine != nullptr &&
            host->State() == hsConnected)
            engine->HostDisconnect(*host, drThreadEnded);
    } catch (...) {
        // Note: an exception ends the procedure like a return would, without
        // the disconnect; the engine then finds the thread finished.
    }
    self->EndLoop();
    self->finished_.store(true);
    return 0;
}

}  // namespace velmora

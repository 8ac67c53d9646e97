#include "broker/ztcreatedisconnectthread.h"

#include "broker/ztclient.h"

namespace velmora {

ZTCREATEDISCONNECTTHREAD::ZTCREATEDISCONNECTTHREAD(ZTCLIENT& engine, int32_t slotIndex)
    : engine_(engine), index_(slotIndex) {
    threadProc = &ZTCREATEDISCONNECTTHREAD::Proc;
}

ZTCREATEDISCONNECTTHREAD::~ZTCREATEDISCONNECTTHREAD() {
    (void)StopAndWait(5);
}

uint32_t ZTCREATEDISCONNECTTHREAD::Proc(void* self) {
    auto* thread = static_cast<ZTCREATEDISCONNECTTHREAD*>(self);
    thread->BeginLoop();
    ZTCLIENT& engine = thread->engine_;
    const bool keep = engine.ReserveKeptSlot();
    (void)engine.DisconnectSlot(thread->index_, engine.Settings().disconnectWaitMs, keep);
    // A slot without objects to keep does not use the room it was given.
    if (keep && LoadShared(engine.Slot(thread->index_).cacheState) != kCacheKept)
        engine.ReturnKeptSlot();
    thread->EndLoop();
    return 0;
}

}  // namespace velmora

#include "broker/ztcreatenewthread.h"

#include "broker/ztinstance_manager.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"

namespace velmora {
namespace {

// The frameSeq of the first frame of a fresh channel: the ccConnect message.
constexpr uint16_t kConnectFrameSeq = 0xFFFF;

}  // namespace

ZTCREATENEWTHREAD::ZTCREATENEWTHREAD(ZTINSTANCE_MANAGER& manager, int32_t slotIndex,
                                     uint32_t connectionType)
    : manager_(manager), index_(slotIndex), connectionType_(connectionType) {
    threadProc = &ZTCREATENEWTHREAD::Proc;
}

ZTCREATENEWTHREAD::~ZTCREATENEWTHREAD() {
    (void)StopAndWait(5);
}

uint32_t ZTCREATENEWTHREAD::Proc(void* self) {
    auto* thread = static_cast<ZTCREATENEWTHREAD*>(self);
    thread->BeginLoop();
    thread->SetUp();
    thread->manager_.SetupEnded();
    thread->EndLoop();
    return 0;
}

void ZTCREATENEWTHREAD::SetUp() {
    ZTCLIENT& engine = manager_.Engine();
    // A stopped engine leaves the request as it is (the broker is going).
    if (!engine.IsEngineRunning()) return;
    ZTINSTANCE_SLOT& slot = engine.Slot(index_);
    const bool cacheHit = LoadShared(slot.cacheState) == kCacheKept;
    if (!engine.ConnectSlot(index_, connectionType_, engine.Settings().setupRoundTripMs)) {
        if (SlotState(slot) == nsError) return;  // the engine said why
        // The kept objects, if any, went with the failure.
        if (cacheHit) engine.ReturnKeptSlot();
        StoreShared(slot.cacheState, kCacheNone);
        slot.errorCode = nleSetUpFailed;
        SetSlotState(slot, nsError);
        return;
    }
    switch (AwaitConnect(cacheHit)) {
        case Outcome::kConnected:
            Succeed(cacheHit);
            break;
        case Outcome::kNoAnswer:
            Fail(cacheHit);
            break;
        case Outcome::kEngineStopped:
            slot.errorCode = nleBrokerNotStart;
            SetSlotState(slot, nsError);
            break;
    }
}

ZTCREATENEWTHREAD::Outcome ZTCREATENEWTHREAD::AwaitConnect(bool cacheHit) {
    ZTCLIENT& engine = manager_.Engine();
    ZTINSTANCE_SLOT& slot = engine.Slot(index_);
    (void)engine.WithConnection(index_, [&](ZTCLIENTINSTANCE& c) {
        if (cacheHit) {
            StoreShared(slot.cacheState, kCacheInUse);
            engine.CountCacheHit();
            c.Wake();
        } else {
            (void)c.Run(true);
        }
        c.SetNice(-10);
    });
    const uint32_t begin = Tick();
    const uint32_t timeout = slot.connectTimeoutMs.get();
    while (TickSince(begin) < timeout) {
        if (!engine.IsEngineRunning() || manager_.StopWanted()) return Outcome::kEngineStopped;
        const int32_t state = SlotState(slot);
        if (state != nsConnecting && state != nsCreating) return Outcome::kNoAnswer;
        if (engine.IsFramePending(index_, 1, kConnectFrameSeq) == 1) return Outcome::kConnected;
        SleepMs(engine.Settings().setupPollMs);
    }
    return Outcome::kNoAnswer;
}

void ZTCREATENEWTHREAD::Succeed(bool cacheHit) {
    ZTCLIENT& engine = manager_.Engine();
    ZTINSTANCE_SLOT& slot = engine.Slot(index_);
    if (cacheHit) engine.ReturnKeptSlot();
    (void)engine.WithConnection(index_, [&](ZTCLIENTINSTANCE& c) {
        c.Sender().StartEstimate(90, 100);
        // The hooks before the state: the router delivers as soon as it
        // sees nsConnected.
        c.SetHooks(&manager_);
    });
    engine.AddConnection(1);
    slot.errorCode = nleOk;
    StoreShared(slot.cacheState, kCacheInUse);
    if (!ChangeSlotState(slot, nsConnecting, nsConnected)) {
        // The slot changed meanwhile (the broker is asked to exit through
        // slot 0): it is closed with everything else.
        return;
    }
    if (!engine.IsEngineRunning()) {
        slot.errorCode = nleBrokerNotStart;
        SetSlotState(slot, nsError);
        return;
    }
    engine.Logf(false, "%d (으)로 새로운 연결을 할당 받았습니다.", index_);
}

void ZTCREATENEWTHREAD::Fail(bool cacheHit) {
    ZTCLIENT& engine = manager_.Engine();
    ZTINSTANCE_SLOT& slot = engine.Slot(index_);
    engine.ReleaseSlot(index_, false);
    // The kept objects were freed with the failure.
    if (cacheHit) engine.ReturnKeptSlot();
    StoreShared(slot.cacheState, kCacheNone);
    slot.errorCode = nleServerConnectFail;
    SetSlotState(slot, nsError);
    engine.Log("ZTBROKER:서버에 로그온 하지 못했습니다. 응답이 없습니다.", true);
}

}  // namespace velmora

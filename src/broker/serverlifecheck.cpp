#include "broker/serverlifecheck.h"

#include "broker/ztclient.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"
#include "transport/controlmessages.h"

namespace velmora {

ServerLifeCheck::ServerLifeCheck(ZTCLIENT& engine, EchoSocketOpener pingOpener)
    : engine_(engine), ping_(std::move(pingOpener)) {
    threadProc = &ServerLifeCheck::Proc;
}

ServerLifeCheck::~ServerLifeCheck() {
    (void)StopAndWait(5);
}

uint32_t ServerLifeCheck::Proc(void* self) {
    auto* check = static_cast<ServerLifeCheck*>(self);
    check->BeginLoop();
    check->RunOnce();
    check->EndLoop();
    return 0;
}

void ServerLifeCheck::RunOnce() {
    closed_ = 0;
    if (!engine_.HasInstanceList()) return;
    for (int32_t i = 0; i < kInstanceSlots && !StopRequested(); ++i) CheckSlot(i);
}

void ServerLifeCheck::CheckSlot(int32_t index) {
    const BrokerSettings& settings = engine_.Settings();
    ZTINSTANCE_SLOT& slot = engine_.Slot(index);
    if (SlotState(slot) != nsConnected) return;
    const uint32_t now = Tick();
    if (TickDiff(now, slot.lastSendTick.get()) <= settings.serverSilenceMs ||
        TickDiff(now, slot.lastReceiveTick.get()) <= settings.serverSilenceMs)
        return;
    const int32_t echo = ping_.Ping(slot.serverAddress.raw(), 1, settings.pingWaitMs);
    if (echo == ZTPING::kNoReply) {
        if (ChangeSlotState(slot, nsConnected, nsDisConnected)) {
            ++closed_;
            engine_.Logf(false, "%d 와 연결된 네트웍이 응답이없습니다. 연결을 해제합니다", index);
        }
        return;
    }
    // A reply, or no echo check possible here: the transport decides.
    const CONTROL_LIFECHECK probe = MakeLifeCheck();
    const int32_t answered = engine_.SendControl(
        index, kControlChannel, settings.lifeCheckAckWaitMs, sizeof(probe), &probe, 0);
    if (answered < 0 && ChangeSlotState(slot, nsConnected, nsDisConnected)) {
        ++closed_;
        engine_.Logf(false, "%d 의 서버 연결이 오랫동안 응답이 없어 연결을 해제합니다", index);
    }
}

}  // namespace velmora

#include "broker/ztacksclientlisten.h"

#include "broker/ztclient.h"
#include "clientif/ztif_codes.h"

namespace velmora {

ZTACKSCLIENTLISTEN::ZTACKSCLIENTLISTEN(ZTCLIENT& engine, int socket)
    : engine_(engine),
      receiver_(
          socket, [this](const PACKETRETURN& record) { return Lookup(record); },
          [this] {
              if (lastSlot_ >= 0) engine_.WakeConnection(lastSlot_);
          }) {
    threadProc = &ZTACKSCLIENTLISTEN::Proc;
}

ZTACKSCLIENTLISTEN::~ZTACKSCLIENTLISTEN() {
    Stop();
}

void ZTACKSCLIENTLISTEN::Stop() {
    (void)StopAndWait(5);
}

uint32_t ZTACKSCLIENTLISTEN::Proc(void* self) {
    auto* listener = static_cast<ZTACKSCLIENTLISTEN*>(self);
    const uint32_t waitMs = listener->engine_.Settings().socketWaitMs;
    listener->BeginLoop();
    while (!listener->StopRequested()) {
        if (listener->receiver_.ReceiveOnce(waitMs) == AckReceiver::kFatal) break;
    }
    listener->EndLoop();
    return 0;
}

ZTACKS_LIST* ZTACKSCLIENTLISTEN::Lookup(const PACKETRETURN& record) {
    lastSlot_ = -1;
    const uint32_t key = record.connectionKey.get();
    if (key >= static_cast<uint32_t>(kInstanceSlots)) return nullptr;
    const auto index = static_cast<int32_t>(key);
    const int32_t state = SlotState(engine_.Slot(index));
    if (state != nsConnected && state != nsConnecting && state != nsDisConnecting) return nullptr;
    lastSlot_ = index;
    return &engine_.Lists(index).acks[record.channel == kDataChannel ? 0 : 1];
}

}  // namespace velmora

#include "server/engine/zthostlist.h"

#include "platform/tick.h"
#include "server/engine/ztserver.h"
#include "server/engine/ztserverclient_thread.h"

namespace velmora {

ZTHOSTLIST::ZTHOSTLIST(ZTSERVER& engine) : engine_(engine) {}

ZTHOSTLIST::~ZTHOSTLIST() = default;

void ZTHOSTLIST::CreateLists() {
    dataAcks = std::make_unique<ZTACKS_LIST>();
    controlAcks = std::make_unique<ZTACKS_LIST>();
    dataInList = std::make_unique<ZTPACKET_INLIST>();
    controlInList = std::make_unique<ZTPACKET_INLIST>();
    dataCompleteList = std::make_unique<ZTPACKET_COMPLETELIST>();
    controlCompleteList = std::make_unique<ZTPACKET_COMPLETELIST>();
    sender = std::make_unique<FrameSender>(kServerSenderParams, this);
}

void ZTHOSTLIST::EmptyLists() {
    if (!HasLists()) return;
    dataAcks->Clear();
    controlAcks->Clear();
    dataInList->Reset();
    controlInList->Reset();
    dataCompleteList->Clear();
    controlCompleteList->Clear();
    sender->Reset();
}

void ZTHOSTLIST::DestroyLists() {
    sender.reset();
    dataAcks.reset();
    controlAcks.reset();
    dataInList.reset();
    controlInList.reset();
    dataCompleteList.reset();
    controlCompleteList.reset();
}

void ZTHOSTLIST::FrameSent(const ZTPacketFrame& frame) {
    // Counted at a frame's first transmission only; resends show up as
    // time-outs and busy answers.
    if (frame.sendCount == 1) Guarded(engine_.callbacks.OnFrameSent, 1u);
}

void ZTHOSTLIST::FrameTimedOut() {
    Guarded(engine_.callbacks.OnFrameTimeout, 1u);
}

void ZTHOSTLIST::AckBusy() {
    Guarded(engine_.callbacks.OnAckBusy, 1u);
}

void ZTHOSTLIST::FrameDone(uint32_t bytes) {
    bytesSent.fetch_add(bytes);
    txWindowBytes.fetch_add(bytes);
    lastSendProgress.store(Tick());
}

}  // namespace velmora

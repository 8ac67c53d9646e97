#include "server/engine/ztackslisten.h"

#include "server/engine/ztserver.h"

namespace velmora {

ZTACKSLISTEN::ZTACKSLISTEN(int socket, ZTSERVER& engine, uint32_t waitMs)
    : receiver_(socket,
                [&engine](const PACKETRETURN& record) -> ZTACKS_LIST* {
                    ZTHOSTLIST* host =
                        engine.FindHost(record.senderAddress.raw(), record.connectionKey.get());
                    // A record in use always has its lists; they live until
                    // Shutdown, after this thread has stopped.
                    if (host == nullptr || !host->HasLists()) return nullptr;
                    return record.channel == kControlChannel ? host->controlAcks.get()
                                                             : host->dataAcks.get();
                }),
      waitMs_(waitMs) {
    threadProc = &ZTACKSLISTEN::Proc;
}

ZTACKSLISTEN::~ZTACKSLISTEN() {
    StopAndWait(1);
}

uint32_t ZTACKSLISTEN::Proc(void* parameter) {
    auto* self = static_cast<ZTACKSLISTEN*>(static_cast<ZTTHREAD*>(parameter));
    self->BeginLoop();
    while (!self->StopRequested()) {
        if (self->receiver_.ReceiveOnce(self->waitMs_) == AckReceiver::kFatal) break;
    }
    self->EndLoop();
    return 0;
}

}  // namespace velmora

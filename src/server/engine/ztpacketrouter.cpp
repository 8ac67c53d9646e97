#include "server/engine/ztpacketrouter.h"

#include <chrono>

#include "platform/tick.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztserver.h"
#include "transport/controlmessages.h"
#include "transport/ztflatqueue.h"

namespace velmora {

ZTPACKETROUTER::ZTPACKETROUTER(ZTFLATQUEUE& queue, ZTSERVER& engine)
    : queue_(queue), engine_(engine) {
    threadProc = &ZTPACKETROUTER::Proc;
}

ZTPACKETROUTER::~ZTPACKETROUTER() {
    StopAndWait(1);
}

uint32_t ZTPACKETROUTER::Proc(void* parameter) {
    auto* self = static_cast<ZTPACKETROUTER*>(static_cast<ZTTHREAD*>(parameter));
    const uint32_t waitMs = self->engine_.Settings().threadWaitMs;
    PACKETRECEIVED entry;
    self->BeginLoop();
    while (!self->StopRequested()) {
        if (self->queue_.Pop(entry) > 0)
            self->Route(entry);
        else
            (void)self->queue_.WaitForEntry(waitMs);
    }
    self->EndLoop();
    return 0;
}

void ZTPACKETROUTER::Route(const PACKETRECEIVED& entry) {
    const ZTPACKET& packet = entry.packet;
    const auto begin = std::chrono::steady_clock::now();
    ZTHOSTLIST* host = engine_.FindHost(entry.sourceAddress.raw(), packet.connectionKey.get());
    lookupTimeUs_.store(static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                  std::chrono::steady_clock::now() - begin)
                                                  .count()));
    if (packet.channel == kControlChannel)
        RouteControl(entry, host);
    else
        RouteData(entry, host);
}

void ZTPACKETROUTER::RouteControl(const PACKETRECEIVED& entry, ZTHOSTLIST* host) {
    const ZTPACKET& packet = entry.packet;
    // Connect and disconnect are read only from whole, long enough messages;
    // anything else on the channel is "other".
    ControlMessage m;
    const bool whole = IsSinglePacketMessage(packet) && ReadControlPacket(packet, m) == cmOk;
    if (whole && m.code == ccConnect) {
        RouteConnect(entry, host, m.connectionType);
        return;
    }
    if (whole && m.code == ccDisconnect && host != nullptr) {
        const int32_t state = host->State();
        if (state == hsDropping) return;  // dropped, no answer
        if (state == hsConnected) (void)engine_.MarkDropping(*host, host->Generation());
    }
    if (host != nullptr)
        AddControl(*host, packet);
    else
        engine_.Refuse(entry);
}

void ZTPACKETROUTER::RouteConnect(const PACKETRECEIVED& entry, ZTHOSTLIST* host,
                                  int32_t connectionType) {
    const ZTPACKET& packet = entry.packet;
    if (host != nullptr) {
        const int32_t state = host->State();
        // A copy of the request while the first is still being handled.
        if (state == hsConnecting) return;
        // A new request of a connected peer replaces its connection; a record
        // being dropped is left to its manager. Either way a new one is taken.
        if (state == hsConnected) (void)engine_.MarkDropping(*host, host->Generation());
    }
    const uint32_t address = entry.sourceAddress.raw();
    const uint16_t key = packet.connectionKey.get();
    const uint16_t port = entry.sourcePort.raw();
    const uint16_t ackPort = packet.ackPort.raw();

    ZTHOSTS* manager = engine_.FindManagerWithRoom();
    ZTHOSTLIST* taken = nullptr;
    if (manager == nullptr) {
        if (engine_.ManagerCount() >= static_cast<uint32_t>(engine_.MaxManagers())) {
            engine_.Refuse(entry);
            SleepMs(1);
            return;
        }
        taken = engine_.Take(address, key, port, ackPort, connectionType);
        if (taken == nullptr) return;
        manager = engine_.CreateManager();
    } else {
        taken = engine_.Take(address, key, port, ackPort, connectionType);
        if (taken == nullptr) return;
    }
    manager->Add(*taken);
    taken->controlInList->Reset();
    AddControl(*taken, packet);
}

void ZTPACKETROUTER::RouteData(const PACKETRECEIVED& entry, ZTHOSTLIST* host) {
    const ZTPACKET& packet = entry.packet;
    if (host == nullptr) {
        engine_.Refuse(entry);
        return;
    }
    Guarded(engine_.callbacks.OnPacket, *host, packet);
    if (host->State() != hsConnected || packet.channel != kDataChannel) {
        Guarded(engine_.callbacks.OnPacketDropped, 1u);
        return;
    }
    const uint32_t before = host->dataCompleteList->Count();
    const auto answer = host->dataInList->AddPacket(packet, *host->dataCompleteList);
    host->lastReceive.store(Tick());
    if (answer) engine_.SendAck(*host, *answer, *host->dataInList);
    if (host->dataCompleteList->Count() != before) host->dataSignal.Raise();
    if (ZTHOSTS* manager = host->manager.load()) manager->Wake();
}

void ZTPACKETROUTER::AddControl(ZTHOSTLIST& host, const ZTPACKET& packet) {
    if (const auto answer = host.controlInList->AddPacket(packet, *host.controlCompleteList))
        engine_.SendAck(host, *answer, *host.controlInList);
    if (ZTHOSTS* manager = host.manager.load()) manager->Wake();
}

}  // namespace velmora

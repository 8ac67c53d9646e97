#include "broker/ztclientpacketrouter.h"

#include "broker/ztclient.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"

namespace velmora {

ZTCLIENTPACKETROUTER::ZTCLIENTPACKETROUTER(ZTCLIENT& engine) : engine_(engine) {
    threadProc = &ZTCLIENTPACKETROUTER::Proc;
}

ZTCLIENTPACKETROUTER::~ZTCLIENTPACKETROUTER() {
    Stop();
}

void ZTCLIENTPACKETROUTER::Stop() {
    (void)StopAndWait(1);
}

uint32_t ZTCLIENTPACKETROUTER::Proc(void* self) {
    static_cast<ZTCLIENTPACKETROUTER*>(self)->Loop();
    return 0;
}

void ZTCLIENTPACKETROUTER::Loop() {
    BeginLoop();
    ZTFLATQUEUE& queue = engine_.ReceiveQueue();
    const uint32_t waitMs = engine_.Settings().socketWaitMs;
    while (!StopRequested()) {
        if (queue.Pop(entry_) <= 0) {
            CountSecond(Tick(), 0);
            // Blocks until the receive thread pushes (it wakes this wait).
            (void)queue.WaitForEntry(waitMs);
            continue;
        }
        (void)Route(entry_, Tick());
    }
    EndLoop();
}

void ZTCLIENTPACKETROUTER::CountSecond(uint32_t now, uint32_t bytes) {
    secondBytes_ += bytes;
    if (TickDiff(now, secondStart_) > 999) {
        engine_.SetRouterReceiveRate(secondBytes_);
        secondBytes_ = 0;
        secondStart_ = now;
    }
}

bool ZTCLIENTPACKETROUTER::Route(const PACKETRECEIVED& entry, uint32_t now) {
    const ZTPACKET& packet = entry.packet;
    const uint32_t key = packet.connectionKey.get();
    const uint8_t channel = packet.channel;
    bool routed = false;
    if (key < static_cast<uint32_t>(kInstanceSlots) && channel <= kControlChannel) {
        const auto index = static_cast<int32_t>(key);
        engine_.WithSlot(index, [&](ZTCLIENT::SlotLists& lists, ZTCLIENTINSTANCE* connection) {
            // Looked at under the useLock: a release that has begun is seen.
            if (connection == nullptr || SlotState(engine_.Slot(index)) != nsConnected) return;
            ZTPACKET_INLIST& in = lists.inList[channel];
            if (auto answer = in.AddPacket(packet, lists.completeList[channel]))
                engine_.SendAck(index, *answer, in.FrameCount());
            engine_.Slot(index).lastReceiveTick = now;
            connection->Wake();
            routed = true;
        });
    }
    if (!routed) {
        engine_.CountUnknownPacket();
        return false;
    }
    CountSecond(now, static_cast<uint32_t>(kPacketDataSize));
    return true;
}

}  // namespace velmora

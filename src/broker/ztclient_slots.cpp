// ZTCLIENT: setting connections up in slots, closing and freeing them, and
// sending on their behalf.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "broker/ztclient.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"
#include "transport/controlmessages.h"

namespace velmora {
namespace {

// The source address the kernel picks toward the server: the address the
// server sees, so its acknowledgements find their way back. 0 when there is
// no route (the connect request then goes unanswered and times out).
uint32_t OwnAddressToward(uint32_t serverRaw, uint16_t portRaw) {
    SocketHandle scratch(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!scratch.Valid()) return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = serverRaw;
    to.sin_port = portRaw;
    if (connect(scratch.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0) return 0;
    sockaddr_in self{};
    socklen_t length = sizeof(self);
    if (getsockname(scratch.Get(), reinterpret_cast<sockaddr*>(&self), &length) != 0) return 0;
    return self.sin_addr.s_addr;
}

bool InConnectedStates(int32_t state) {
    return state == nsConnected || state == nsConnecting || state == nsDisConnecting ||
           state == nsDisConnected;
}

}  // namespace

void ZTCLIENT::FillSlotForConnect(ZTINSTANCE_SLOT& slot, int32_t index, uint32_t connectionType) {
    SetSlotState(slot, nsConnecting);
    StoreShared(slot.silenceCounter, 0);
    slot.connectionKey = index;
    std::memset(slot.name, 0, sizeof(slot.name));
    std::memcpy(slot.name, name_.data(), std::min(name_.size(), sizeof(slot.name) - 1));
    slot.dataCounter = kFirstSeq;
    slot.controlCounter = kFirstSeq;
    slot.errorCode = nleOk;
    slot.connectionType = connectionType;
    const uint32_t now = Tick();
    slot.setupTick = now;
    slot.lastReceiveTick = now;
    slot.lastSendTick = now;
    slot.lastApplicationSendTick = now;
}

void ZTCLIENT::ClearSlotFields(ZTINSTANCE_SLOT& slot) {
    slot.connectionKey = -1;
    std::memset(slot.name, 0, sizeof(slot.name));
    slot.dataCounter = kFirstSeq;
    slot.controlCounter = kFirstSeq;
    slot.connectionType = 0;
    slot.setupTick = 0;
    slot.lastReceiveTick = 0;
    slot.lastSendTick = 0;
    slot.lastApplicationSendTick = 0;
    StoreShared(slot.silenceCounter, 0);
}

bool ZTCLIENT::MakeConnection(int32_t index) {
    std::unique_ptr<ZTCLIENTINSTANCE> connection;
    try {
        connection = std::make_unique<ZTCLIENTINSTANCE>(*this, index);
    } catch (...) {
        Log("ZTCLIENTINSTANCE...생성실패...", true);
        return false;
    }
    static const char* const kFailure[] = {nullptr, "c_RcvQue...생성실패...",
                                           "c_SendQue...생성실패...", "c_RcvMutex...생성실패...",
                                           "c_SendMutex...생성실패..."};
    const ZTCLIENTINSTANCE::CreateResult made = connection->CreateQueues(name_.c_str());
    if (made != ZTCLIENTINSTANCE::kCreated) {
        Log(kFailure[made], true);
        return false;
    }
    std::lock_guard<std::mutex> guard(slots_[index].useLock);
    slots_[index].connection = std::move(connection);
    return true;
}

bool ZTCLIENT::ConnectSlot(int32_t index, uint32_t connectionType, uint32_t initialRttMs) {
    if (index < 0 || index >= kInstanceSlots || !HasInstanceList()) return false;
    ZTINSTANCE_SLOT& slot = Slot(index);
    if (!engineRunning_.load()) {
        slot.errorCode = nleBrokerNotStart;
        SetSlotState(slot, nsError);
        Log("ZTBROKER:서비스를 시작하지 않은 상태에서 연결을 시도했습니다.", true);
        return false;
    }
    FillSlotForConnect(slot, index, connectionType);
    slot.roundTripMs = 90;
    const bool kept = WithConnection(index, [](ZTCLIENTINSTANCE& c) { c.InitialiseQueues(); });
    if (!kept && !MakeConnection(index)) {
        ReleaseSlot(index, false);
        return false;
    }
    const uint32_t own = OwnAddressToward(slot.serverAddress.raw(), slot.serverPort.raw());
    if (own == 0) Logf(false, "%d: 서버로 가는 경로가 없습니다.", index);
    ownAddress_[index].store(own);
    bool threadMade = true;
    (void)WithConnection(index, [&](ZTCLIENTINSTANCE& c) {
        c.Prepare(own, initialRttMs);
        // A new connection's thread waits at its gate until the set-up
        // thread lets it run; a kept one is already running, idle.
        if (!kept) threadMade = c.Run(false);
    });
    if (!threadMade) {
        Log("ZTCLIENTINSTANCE...생성실패...", true);
        ReleaseSlot(index, false);
        return false;
    }
    uint8_t peerId[kPeerIdSize];
    std::memcpy(peerId, slot.applicationGuid, sizeof(peerId));
    const CONTROL_CONNECT hello = MakeConnect(static_cast<int32_t>(connectionType), peerId);
    (void)SendControl(index, kControlChannel, 0, sizeof(hello), &hello, 0);
    return true;
}

int32_t ZTCLIENT::DisconnectSlot(int32_t index, uint32_t waitMs, bool keep) {
    if (index < 0 || index >= kInstanceSlots || !HasInstanceList()) return 1;
    ZTINSTANCE_SLOT& slot = Slot(index);
    const int32_t cache = LoadShared(slot.cacheState);
    if (SlotState(slot) != nsNotUse && cache != kCacheKept) {
        SetSlotState(slot, nsDisConnecting);
        const CONTROL_DISCONNECT bye = MakeDisconnect(0);
        (void)SendControl(index, kControlChannel, waitMs, sizeof(bye), &bye, 0);
        const int32_t key = slot.connectionKey.get();
        AddConnection(-1);
        slot.errorCode = nleInvalidConnect;
        // A connection whose thread ended after a fault is not worth keeping.
        bool alive = false;
        (void)WithConnection(index, [&](ZTCLIENTINSTANCE& c) { alive = !c.HasExited(); });
        keep = keep && alive;
        if (keep) {
            StoreShared(slot.cacheState, kCacheKept);
            // The thread notices the kept state at its next turn and idles.
            ZTCLIENTINSTANCE* connection = nullptr;
            (void)WithConnection(index, [&](ZTCLIENTINSTANCE& c) {
                connection = &c;
                c.Wake();
            });
            while (connection != nullptr && !connection->IsIdle() && !connection->HasExited())
                SleepMs(5);
            if (connection != nullptr) connection->SetNice(19);
        } else {
            StoreShared(slot.cacheState, kCacheNone);
        }
        ReleaseSlot(index, keep);
        SetSlotState(slot, nsNotUse);
        Logf(false, "%d 의 연결을 종료했습니다.", key);
    } else if (!keep && cache == kCacheKept) {
        ReleaseSlot(index, false);
        StoreShared(slot.cacheState, kCacheNone);
    }
    return 1;
}

void ZTCLIENT::ReleaseSlot(int32_t index, bool keep) {
    if (index < 0 || index >= kInstanceSlots || !HasInstanceList()) return;
    SlotHolder& holder = slots_[index];
    std::unique_ptr<ZTCLIENTINSTANCE> released;
    if (!keep) {
        // Stopped before the useLock is taken: the thread itself may need
        // that lock (a flow-control message) to finish its turn.
        ZTCLIENTINSTANCE* connection = nullptr;
        {
            std::lock_guard<std::mutex> guard(holder.useLock);
            connection = holder.connection.get();
        }
        if (connection != nullptr) connection->Stop();
    }
    {
        std::lock_guard<std::mutex> guard(holder.useLock);
        SlotLists& lists = lists_[index];
        for (int c = 0; c < 2; ++c) {
            lists.inList[c].Reset();
            lists.completeList[c].Clear();
            lists.acks[c].Clear();
        }
        if (holder.connection) {
            if (keep) {
                holder.connection->Clear();
            } else {
                released = std::move(holder.connection);
            }
        }
    }
    released.reset();  // unmaps the queues and removes them
    ownAddress_[index].store(0);
    ClearSlotFields(Slot(index));
}

int32_t ZTCLIENT::SendControl(int32_t index, uint8_t channel, uint32_t waitMs, uint32_t length,
                              const void* data, uint8_t noAck) {
    if (index < 0 || index >= kInstanceSlots) return -1;
    int32_t queued = -1;
    uint16_t lastFrameSeq = 0;
    (void)WithConnection(index, [&](ZTCLIENTINSTANCE& c) {
        queued = c.Sender().Queue(channel, noAck, data, length, Tick(), &lastFrameSeq);
        Slot(index).dataCounter = c.Sender().Counter(kDataChannel);
        Slot(index).controlCounter = c.Sender().Counter(kControlChannel);
        c.Wake();
    });
    if (queued != static_cast<int32_t>(length)) return -1;  // refused or invalid
    const auto done = static_cast<int32_t>(length);
    if (waitMs == 0 || noAck != 0) return done;
    const uint32_t begin = Tick();
    for (;;) {
        if (IsFramePending(index, channel, lastFrameSeq) == 1) return done;
        if (TickSince(begin) > waitMs) return -1;
        if (!InConnectedStates(SlotState(Slot(index)))) return -1;
        SleepMs(settings_.controlPollMs);
    }
}

int32_t ZTCLIENT::IsFramePending(int32_t index, uint8_t channel, uint16_t frameSeq) {
    if (!engineRunning_.load()) return 0;
    int32_t gone = 0;
    (void)WithConnection(index, [&](ZTCLIENTINSTANCE& c) {
        gone = c.Sender().IsFramePending(channel, frameSeq) ? 0 : 1;
    });
    return gone;
}

int32_t ZTCLIENT::SendPacket(int32_t index, const void* packet, size_t length) {
    ZTINSTANCE_SLOT& slot = Slot(index);
    const int32_t sent = udp_.SendTo(dataSocket_.Get(), slot.serverAddress.raw(),
                                     slot.serverPort.raw(), kPacketSendWaitMs, packet, length);
    slot.lastSendTick = Tick();
    return sent;
}

void ZTCLIENT::SendAck(int32_t index, PACKETRETURN record, uint32_t pendingFrames) {
    ZTINSTANCE_SLOT& slot = Slot(index);
    record.pendingFrames = static_cast<uint16_t>(pendingFrames);
    record.senderAddress.setRaw(ownAddress_[index].load());
    (void)udp_.SendTo(ackSocket_.Get(), slot.serverAddress.raw(), slot.serverAckPort.raw(),
                      kAckSendWaitMs, &record, sizeof(record));
}

}  // namespace velmora

// What application threads call on a record: HostSend, HostReceive,
// HostDisconnect and HostAddressText.
#include <algorithm>
#include <cstring>

#include "platform/tick.h"
#include "server/engine/localaddress.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztserver.h"
#include "transport/controlmessages.h"

namespace velmora {

namespace {

// TakePacket: the message is not complete yet.
constexpr int32_t kGoOn = INT32_MIN;
// HostReceive blocks on the record's data signal at most this long at a time
// before it looks at the record's state again.
constexpr uint32_t kReceiveSliceMs = 20;

}  // namespace

int32_t ZTSERVER::HostSend(ZTHOSTLIST& host, uint8_t channel, uint8_t noAck, const void* data,
                           uint32_t length, uint32_t waitMs) {
    return SendOnHost(host, channel, noAck, data, length, waitMs, nullptr);
}

int32_t ZTSERVER::SendOnHost(ZTHOSTLIST& host, uint8_t channel, uint8_t noAck, const void* data,
                             uint32_t length, uint32_t waitMs, const ZTTHREAD* caller) {
    // A record being dropped or released takes nothing more; a connecting one
    // queues (an echo reply goes out once the connection completes).
    const int32_t state = host.State();
    if (state == hsFree || state == hsDropping || !host.HasLists()) return kHostGone;
    const uint32_t generation = host.Generation();
    const uint32_t timeoutsBefore = host.sender->WaitTimeouts();
    bool woken = false;
    const int32_t result =
        host.sender->Send(channel, noAck, data, length, waitMs, SystemClock::Instance(), [&] {
            // First called right after the frames were queued: the manager
            // need not finish its wait before it transmits them.
            if (!woken) {
                woken = true;
                if (ZTHOSTS* manager = host.manager.load()) manager->Wake();
            }
            return host.State() == hsConnected && host.Generation() == generation &&
                   (caller == nullptr || !caller->StopRequested());
        });
    if (!woken)
        if (ZTHOSTS* manager = host.manager.load()) manager->Wake();
    if (host.sender->WaitTimeouts() != timeoutsBefore) {
        host.sendTimeouts.fetch_add(1);
        sendTimeouts_.fetch_add(1);
    }
    if (result == FrameSender::kClosed) return kHostGone;
    if (result == FrameSender::kInvalidMessage) return kInvalidMessage;
    return result;
}

int32_t ZTSERVER::HostReceive(ZTHOSTLIST& host, void* buffer, uint32_t capacity, uint32_t waitMs) {
    auto* out = static_cast<uint8_t*>(buffer);
    if (out == nullptr) capacity = 0;
    if (host.State() != hsConnected || !host.HasLists()) return kHostGone;
    ZTHOSTLIST::ReceiveState& rx = host.rx;
    // A message an earlier call left unfinished goes on in this buffer.
    if (rx.inMessage && !rx.discarding) {
        if (rx.total > capacity)
            rx.discarding = true;
        else if (rx.offset > 0)
            std::memcpy(out, rx.parked.data(), rx.offset);
        rx.parked.clear();
    }
    uint32_t last = Tick();
    for (;;) {
        if (host.State() != hsConnected) return kHostGone;
        const uint64_t seen = host.dataSignal.Count();
        if (const auto packet = host.dataCompleteList->Get()) {
            // 997 per packet, whatever its dataLength, as the rates count.
            host.bytesReceived.fetch_add(kPacketDataSize);
            host.rxWindowBytes.fetch_add(kPacketDataSize);
            last = Tick();
            const int32_t result = TakePacket(host, *packet, out, capacity);
            if (result == kGoOn) continue;
            if (result == kLengthMismatch) HostDisconnect(host, drLengthMismatch);
            return result;
        }
        const uint32_t waited = TickDiff(Tick(), last);
        if (waited > waitMs) {
            ParkMessage(host, out);
            return 0;
        }
        (void)host.dataSignal.Wait(seen, std::min(waitMs - waited + 1, kReceiveSliceMs));
    }
}

int32_t ZTSERVER::TakePacket(ZTHOSTLIST& host, const ZTPACKET& packet, uint8_t* out,
                             uint32_t capacity) {
    ZTHOSTLIST::ReceiveState& rx = host.rx;
    const uint32_t length = packet.dataLength.get();
    const int32_t announced = packet.messageLength.get();
    if (length > kPacketDataSize) {
        rx = ZTHOSTLIST::ReceiveState{};
        return kLengthMismatch;
    }
    if (packet.noAck != 0) {
        // A whole message by itself, which may overtake the frames of a
        // longer one: that one is parked for the next call.
        ParkMessage(host, out);
        if (length > capacity) return kMessageTooLong;
        if (length > 0) std::memcpy(out, packet.data, length);
        return static_cast<int32_t>(length);
    }
    if (!rx.inMessage) {
        if (announced < 0) return kLengthMismatch;
        rx.inMessage = true;
        rx.total = static_cast<uint32_t>(announced);
        rx.offset = 0;
        rx.discarding = rx.total > capacity;
    } else if (announced < 0 || static_cast<uint32_t>(announced) != rx.total) {
        rx = ZTHOSTLIST::ReceiveState{};
        return kLengthMismatch;
    }
    // More bytes than the message announced: never written past its end.
    if (length > rx.total - rx.offset) {
        rx = ZTHOSTLIST::ReceiveState{};
        return kLengthMismatch;
    }
    if (!rx.discarding && length > 0) std::memcpy(out + rx.offset, packet.data, length);
    rx.offset += length;
    if (rx.offset < rx.total) return kGoOn;
    rx.inMessage = false;
    if (rx.discarding) {
        rx.discarding = false;
        return kMessageTooLong;
    }
    return static_cast<int32_t>(rx.total);
}

void ZTSERVER::ParkMessage(ZTHOSTLIST& host, const uint8_t* out) {
    ZTHOSTLIST::ReceiveState& rx = host.rx;
    if (!rx.inMessage || rx.discarding || rx.offset == 0) return;
    rx.parked.assign(out, out + rx.offset);
}

void ZTSERVER::HostDisconnect(ZTHOSTLIST& host, int32_t reason) {
    const uint32_t generation = host.Generation();
    const CONTROL_DISCONNECT message = MakeDisconnect(reason);
    (void)HostSend(host, kControlChannel, 0, &message, sizeof(message), settings_.disconnectWaitMs);
    // A host still connected stays so until its peer disconnects or the life
    // check fails; one that is not is dropped.
    if (host.State() != hsConnected) (void)MarkDropping(host, generation);
}

char* ZTSERVER::HostAddressText(const ZTHOSTLIST& host, char* text, size_t size) const {
    return AddressToText(host.address, text, size);
}

}  // namespace velmora

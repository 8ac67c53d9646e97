// Sending, peeking and receiving on a connection. Every call first asks
// whether the broker's instance list is still there (and its broker alive)
// before it looks at the connection's slot; the list's and the queues'
// mappings and the queue locks stay open in the connection. Nothing is
// allocated on these paths.
#include <algorithm>
#include <cstring>

#include "clientif/instancelist.h"
#include "clientif/ztclientif.h"
#include "platform/tick.h"

namespace velmora {
namespace {

constexpr uint32_t kRoomPollMs = 1;
constexpr uint32_t kFirstRecordPollMs = 2;
constexpr uint32_t kNextRecordPollMs = 1;

// The queue no longer holds whole messages in order, or its header is
// damaged: nothing more can be read from it safely, so the broker is asked to
// close the connection.
int32_t EndDamaged(ZTIF_CONNECTION& connection, ZTINSTANCE_SLOT& slot) {
    (void)ChangeSlotState(slot, nsConnected, nsDisConnected);
    connection.lastError.store(nleInvalidPacket);
    return -2;
}

bool Connected(const ZTINSTANCE_SLOT& slot) {
    return SlotState(slot) == nsConnected;
}

}  // namespace

int32_t ZtifSend(ZTIF_CONNECTION* connection, const void* data, int32_t length, uint8_t noAck,
                 uint32_t timeoutMs) {
    if (connection == nullptr || length < 0 || (length > 0 && data == nullptr)) return -1;
    ZTIF_CONNECTION& c = *connection;
    if (!c.list->IsCurrent()) return -1;
    ZTINSTANCE_SLOT& slot = c.list->Slot(c.slotIndex);
    if (!Connected(slot)) {
        c.lastError.store(nleNotConnected);
        return -5;
    }
    c.lastError.store(nleOk);
    ZTSEND_RECORD record{};
    record.connectionKey = slot.connectionKey.get();
    record.totalLength = length;
    record.channel = 0;
    record.noAck = noAck;
    const auto* bytes = static_cast<const uint8_t*>(data);
    int32_t sent = 0;
    uint32_t mark = Tick();
    while (sent < length) {
        if (!Connected(slot)) {
            c.lastError.store(nleNotConnected);
            return -6;
        }
        const int32_t waiting = c.sendQueue.Count();
        const int32_t capacity = c.sendQueue.Capacity();
        if (waiting < 0 || capacity < 0) return EndDamaged(c, slot);
        if (waiting < capacity) {
            const int32_t chunk = std::min<int32_t>(kRecordDataMax, length - sent);
            record.dataLength = chunk;
            std::memcpy(record.data, bytes + sent, static_cast<size_t>(chunk));
            const int32_t put = c.sendQueue.Put(record);
            if (put == kQueueDamaged) return EndDamaged(c, slot);
            if (put == kQueueDone) {
                sent += chunk;
                mark = Tick();
                continue;
            }
        }
        if (timeoutMs == 0) {
            c.lastError.store(nleTimeout);
            break;
        }
        SleepMs(kRoomPollMs);
        if (TickSince(mark) > timeoutMs) {
            c.lastError.store(nleTimeout);
            break;
        }
    }
    return sent;
}

int32_t ZtifPeek(ZTIF_CONNECTION* connection) {
    if (connection == nullptr) return -1;
    ZTIF_CONNECTION& c = *connection;
    if (!c.list->IsCurrent()) return -1;
    ZTINSTANCE_SLOT& slot = c.list->Slot(c.slotIndex);
    if (!Connected(slot)) {
        c.lastError.store(nleNotConnected);
        return -5;
    }
    c.lastError.store(nleOk);
    ZTRECV_RECORD head;
    // An empty message at the head would read as "nothing waits" for ever
    // and hold up everything behind it; it carries nothing, so it is taken
    // here. The bound keeps a writer that keeps adding them from holding
    // this call.
    for (int32_t skipped = 0; skipped <= kQueueCapacity; ++skipped) {
        const int32_t peeked = c.receiveQueue.PeekHead(head);
        if (peeked == kQueueNone) return 0;
        if (peeked == kQueueDamaged || head.totalLength.get() < 0) return EndDamaged(c, slot);
        if (head.totalLength.get() > 0) return head.totalLength.get();
        if (c.receiveQueue.Take(head) != kQueueDone ||
            !RecordFitsMessage(head.totalLength.get(), head.dataLength.get(), 0, 0,
                               sizeof(head.data))) {
            return EndDamaged(c, slot);
        }
    }
    return 0;
}

int32_t ZtifReceive(ZTIF_CONNECTION* connection, void* buffer, int32_t bufferSize,
                    uint32_t timeoutMs) {
    if (connection == nullptr || bufferSize < 0 || (bufferSize > 0 && buffer == nullptr)) return -1;
    ZTIF_CONNECTION& c = *connection;
    if (!c.list->IsCurrent()) {
        c.lastError.store(nleInvalidConnect);
        return -1;
    }
    ZTINSTANCE_SLOT& slot = c.list->Slot(c.slotIndex);
    if (!Connected(slot)) {
        c.lastError.store(nleNotConnected);
        return -5;
    }
    c.lastError.store(nleOk);

    uint32_t mark = Tick();
    for (;;) {
        const int32_t waiting = c.receiveQueue.Count();
        if (waiting < 0) return EndDamaged(c, slot);
        if (waiting > 0) break;
        if (TickSince(mark) > timeoutMs || !Connected(slot)) {
            c.lastError.store(nleTimeout);
            return 0;
        }
        SleepMs(kFirstRecordPollMs);
    }
    ZTRECV_RECORD record;
    if (c.receiveQueue.PeekHead(record) != kQueueDone) return EndDamaged(c, slot);
    const int32_t total = record.totalLength.get();
    if (total < 0) return EndDamaged(c, slot);
    if (total > bufferSize) {
        c.lastError.store(nlePacketRcvBufferOverFlow);
        return -3;
    }

    auto* out = static_cast<uint8_t*>(buffer);
    int32_t copied = 0;
    bool tookFirst = false;  // an empty message is one record of 0 bytes
    mark = Tick();
    while (copied < total || !tookFirst) {
        if (!Connected(slot)) {
            c.lastError.store(nleNotConnected);
            return -1;
        }
        const int32_t taken = c.receiveQueue.Take(record);
        if (taken == kQueueDamaged) return EndDamaged(c, slot);
        if (taken == kQueueDone) {
            const int32_t length = record.dataLength.get();
            if (!RecordFitsMessage(record.totalLength.get(), length, total, total - copied,
                                   sizeof(record.data))) {
                return EndDamaged(c, slot);
            }
            if (length > 0) std::memcpy(out + copied, record.data, static_cast<size_t>(length));
            copied += length;
            tookFirst = true;
            mark = Tick();
            continue;
        }
        SleepMs(kNextRecordPollMs);
        if (TickSince(mark) > timeoutMs) {
            // The rest of the message may still come, but with its start
            // gone it could only be mistaken for a message of its own.
            (void)ChangeSlotState(slot, nsConnected, nsDisConnected);
            c.lastError.store(nleTimeout);
            return -1;
        }
    }
    return total;
}

}  // namespace velmora

// ZTINSTANCE_MANAGER: the routines that move data between a connection and
// its application's queues, called on the connection's thread.
#include <cstdio>
#include <cstring>

#include "broker/ztinstance_manager.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"

namespace velmora {
namespace {

constexpr uint32_t kRoomPollMs = 2;

}  // namespace

int32_t ZTINSTANCE_MANAGER::CloseWithError(ZTCLIENTINSTANCE& connection, int32_t error,
                                           const char* line) {
    connection.Slot().errorCode = error;
    engine_.Log(line, true);
    return -1;
}

int32_t ZTINSTANCE_MANAGER::PutRecord(ZTCLIENTINSTANCE& connection, const ZTRECV_RECORD& record) {
    ReceiveQueue& queue = connection.Receives();
    int32_t seen = queue.Count();
    uint32_t stallStart = Tick();
    for (;;) {
        const int32_t put = queue.Put(record);
        if (put == kQueueDone) return 1;
        if (put == kQueueDamaged) return -3;
        SleepMs(kRoomPollMs);
        if (SlotState(connection.Slot()) != nsConnected || connection.StopRequested()) return -2;
        const int32_t now = queue.Count();
        if (now < 0) return -3;
        if (now < seen) stallStart = Tick();  // the application took something
        seen = now;
        if (TickSince(stallStart) >= settings_.deliveryStallMs) return -1;
    }
}

int32_t ZTINSTANCE_MANAGER::Deliver(ZTCLIENTINSTANCE& connection, const ZTPACKET& packet) {
    ZTINSTANCE_SLOT& slot = connection.Slot();
    if (!managerRunning_.load() || !engine_.IsEngineRunning() || SlotState(slot) != nsConnected)
        return 1;
    delivered_.fetch_add(1);
    const int32_t key = slot.connectionKey.get();
    char line[160];
    // The server's packet is not trusted: a record carries at most 997
    // bytes and never more than the message it belongs to.
    const uint32_t length = packet.dataLength.get();
    const int32_t total = packet.messageLength.get();
    if (length > kPacketDataSize || total < 0 || static_cast<int64_t>(length) > total) {
        std::snprintf(line, sizeof(line),
                      "MANAGER:연결자 %d (이)의 수신데이터의 크기가 맞지 않아 연결을 종료합니다.",
                      key);
        return CloseWithError(connection, nleInvalidPacket, line);
    }
    if (connection.Receives().Count() >= kQueueCapacity) connection.CountReceiveBusy();
    ZTRECV_RECORD record;
    std::memset(&record, 0, sizeof(record));
    record.totalLength = total;
    record.dataLength = static_cast<int32_t>(length);
    record.noAck = packet.noAck;
    std::memcpy(record.data, packet.data, length);
    switch (PutRecord(connection, record)) {
        case -2:
            std::snprintf(line, sizeof(line), "MANAGER:연결자 %d (이)가 연결이 끊어졌습니다.", key);
            return CloseWithError(connection, nleNotConnected, line);
        case -1:
            std::snprintf(line, sizeof(line),
                          "MANAGER:연결자 %d 수신용 버퍼가 넘쳐 연결을 종료합니다.", key);
            return CloseWithError(connection, nleShareMemOverFlow, line);
        case -3:
            std::snprintf(line, sizeof(line),
                          "MANAGER:연결자 %d 수신용 버퍼가 손상되어 연결을 종료합니다.", key);
            return CloseWithError(connection, nleInvalidPacket, line);
        default:
            return 1;
    }
}

int32_t ZTINSTANCE_MANAGER::Take(ZTCLIENTINSTANCE& connection) {
    ZTINSTANCE_SLOT& slot = connection.Slot();
    const int32_t state = SlotState(slot);
    if (state == nsDisConnected) return 0;
    if (!managerRunning_.load() || !engine_.IsEngineRunning() ||
        (state != nsConnected && state != nsConnecting && state != nsDisConnecting))
        return -1;
    const uint32_t now = Tick();
    uint32_t frames = 0;
    const MessageTaker::Limits limits{settings_.maxInFlight, settings_.takeStallMs};
    const int32_t taken =
        connection.Taker().Take(connection.Sends(), connection.Sender(), now, limits, &frames);
    if (frames > 0) {
        slot.lastApplicationSendTick = now;
        slot.dataCounter = connection.Sender().Counter(kDataChannel);
        slot.controlCounter = connection.Sender().Counter(kControlChannel);
    }
    if (taken >= 0) return taken;
    char line[160];
    std::snprintf(line, sizeof(line),
                  "MANAGER:연결자 %d (이)의 전송데이터의 크기가 맞지 않아 연결을 종료합니다.",
                  slot.connectionKey.get());
    return CloseWithError(connection, nleInvalidPacket, line);
}

}  // namespace velmora

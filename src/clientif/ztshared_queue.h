// The two ring queues of a connection, each in a shared memory object of its
// own: the receive queue "%sR%d" (broker -> application, ZTRECV_RECORD) and
// the send queue "%sS%d" (application -> broker, ZTSEND_RECORD). "Receive"
// and "send" are seen from the application.
//
// A message of L bytes travels as ceil(L / 997) consecutive records of one
// queue, each carrying the total L and up to 997 bytes, in order; a message
// of 0 bytes is one record of 0 bytes. Everything read from a queue comes
// from another process and is checked before it is used: RecordFitsMessage
// for the lengths, SharedQueue (sharedqueue.h) for the header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace velmora {

inline constexpr uint16_t kQueueCapacity = 500;
inline constexpr size_t kQueueHeaderSize = 8;
inline constexpr size_t kRecordDataMax = 997;  // bytes a writer puts into one record

struct ZTSHARED_QUEUE {
    LeU16 capacity;  // records the queue holds; the broker writes 500
    LeU16 head;      // index of the next record to take
    LeU16 tail;      // index of the next record to fill
    LeU16 count;     // records waiting
    // then capacity records; record k at offset 8 + k * record size
};

static_assert(sizeof(ZTSHARED_QUEUE) == kQueueHeaderSize);
static_assert(alignof(ZTSHARED_QUEUE) == 1);
static_assert(offsetof(ZTSHARED_QUEUE, capacity) == 0);
static_assert(offsetof(ZTSHARED_QUEUE, head) == 2);
static_assert(offsetof(ZTSHARED_QUEUE, tail) == 4);
static_assert(offsetof(ZTSHARED_QUEUE, count) == 6);

// Receive queue record, broker -> application.
struct ZTRECV_RECORD {
    LeI32 totalLength;  // of the message this record belongs to
    LeI32 dataLength;   // bytes of data in this record
    uint8_t reserved;
    uint8_t noAck;      // of the packet that carried the data
    uint8_t data[998];  // the broker puts at most 997 bytes
};

static_assert(sizeof(ZTRECV_RECORD) == 1008);
static_assert(alignof(ZTRECV_RECORD) == 1);
static_assert(offsetof(ZTRECV_RECORD, totalLength) == 0);
static_assert(offsetof(ZTRECV_RECORD, dataLength) == 4);
static_assert(offsetof(ZTRECV_RECORD, reserved) == 8);
static_assert(offsetof(ZTRECV_RECORD, noAck) == 9);
static_assert(offsetof(ZTRECV_RECORD, data) == 10);

// Send queue record, application -> broker.
struct ZTSEND_RECORD {
    LeI32 connectionKey;  // from the slot
    LeI32 totalLength;    // of the message
    LeI32 dataLength;     // bytes of data in this record, 1..997
    uint8_t channel;      // 0 = data; the library always writes 0
    uint8_t noAck;        // 1 = no acknowledgement and no resend
    uint8_t data[kRecordDataMax];
    uint8_t padding;
};

static_assert(sizeof(ZTSEND_RECORD) == 1012);
static_assert(alignof(ZTSEND_RECORD) == 1);
static_assert(offsetof(ZTSEND_RECORD, connectionKey) == 0);
static_assert(offsetof(ZTSEND_RECORD, totalLength) == 4);
static_assert(offsetof(ZTSEND_RECORD, dataLength) == 8);
static_assert(offsetof(ZTSEND_RECORD, channel) == 12);
static_assert(offsetof(ZTSEND_RECORD, noAck) == 13);
static_assert(offsetof(ZTSEND_RECORD, data) == 14);
static_assert(offsetof(ZTSEND_RECORD, padding) == 1011);

inline constexpr size_t kReceiveQueueSize =
    kQueueHeaderSize + kQueueCapacity * sizeof(ZTRECV_RECORD);
inline constexpr size_t kSendQueueSize = kQueueHeaderSize + kQueueCapacity * sizeof(ZTSEND_RECORD);
static_assert(kReceiveQueueSize == 504008);
static_assert(kSendQueueSize == 506008);

// Whether a record taken from a queue belongs to the message being rebuilt.
// messageTotal is the total of the message's first record, remaining the
// bytes it still lacks (messageTotal for the first record). A record fits
// when it carries the same total, and between 1 byte and the smaller of
// dataMax and `remaining`; the one record of an empty message carries 0
// bytes. Anything else means the queue no longer holds whole messages in
// order, and the connection is ended.
constexpr bool RecordFitsMessage(int32_t recordTotal, int32_t recordLength, int32_t messageTotal,
                                 int32_t remaining, size_t dataMax) {
    if (messageTotal < 0 || recordTotal != messageTotal || remaining < 0) return false;
    if (remaining == 0) return messageTotal == 0 && recordLength == 0;
    return recordLength >= 1 && recordLength <= remaining &&
           static_cast<size_t>(recordLength) <= dataMax;
}

}  // namespace velmora

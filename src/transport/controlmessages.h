// The engines' control messages, carried on channel 1 between the server
// engine and the broker engine. The first payload byte is the code; integers
// are little-endian.
//
//   code  message         direction                 payload
//   1     ccConnect       broker -> server          [1][connectionType i32][peerId 16]   21 bytes
//   2     ccDisconnect    both                      [2][reason i32]                       5 bytes
//   3     ccEcho          request peer -> server    [3] and up to 8 further bytes
//                         reply server -> peer      request bytes 0..8 (zeros beyond the
//                                                   request), bytes 5..8 the server's tick
//   5     ccRefused       server -> sender          the refused 1024-byte packet itself with
//                                                   channel 1, noAck 1 and data byte 0 = 5
//   6     ccLifeCheck     both                      [6]                                   1 byte
//   7     ccFlow          both                      [7][1 pause | 0 resume]               2 bytes
//
// Codes 0 and 4 are unused. Readers take a buffer and its length and refuse a
// message shorter than its code's payload; longer messages are read up to
// their payload and the rest is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"
#include "transport/ztpacket.h"

namespace velmora {

inline constexpr uint8_t ccConnect = 1;
inline constexpr uint8_t ccDisconnect = 2;
inline constexpr uint8_t ccEcho = 3;
inline constexpr uint8_t ccRefused = 5;
inline constexpr uint8_t ccLifeCheck = 6;
inline constexpr uint8_t ccFlow = 7;

// connectionType of ccConnect.
inline constexpr int32_t ctMemoryService = 3;  // the server's named memory-block service
inline constexpr int32_t ctViewerSession = 4;  // a viewer's screen session

// Reasons the server puts into ccDisconnect.
inline constexpr int32_t drReplaced = 0;         // a newer session from the same address
inline constexpr int32_t drThreadEnded = -1;     // the connection's application thread returned
inline constexpr int32_t drLengthMismatch = -7;  // a message was longer than announced

// ccFlow values.
inline constexpr uint8_t kFlowResume = 0;
inline constexpr uint8_t kFlowPause = 1;

inline constexpr size_t kPeerIdSize = 16;
// A request carries at most this many bytes after its code; the reply is
// always the code and these bytes.
inline constexpr size_t kEchoDataSize = 8;

struct CONTROL_CONNECT {
    uint8_t code;                 // ccConnect
    LeI32 connectionType;         // ctMemoryService or ctViewerSession
    uint8_t peerId[kPeerIdSize];  // the broker's identifier of the connection
};
static_assert(sizeof(CONTROL_CONNECT) == 21 && alignof(CONTROL_CONNECT) == 1);
static_assert(offsetof(CONTROL_CONNECT, connectionType) == 1);
static_assert(offsetof(CONTROL_CONNECT, peerId) == 5);

struct CONTROL_DISCONNECT {
    uint8_t code;  // ccDisconnect
    LeI32 reason;  // dr* on the server; the broker sends 0
};
static_assert(sizeof(CONTROL_DISCONNECT) == 5 && alignof(CONTROL_DISCONNECT) == 1);
static_assert(offsetof(CONTROL_DISCONNECT, reason) == 1);

// The echo reply; a request is a prefix of it.
struct CONTROL_ECHO {
    uint8_t code;     // ccEcho
    uint8_t data[4];  // request bytes 1..4, returned as received
    LeU32 tick;       // reply: the server's millisecond tick
};
static_assert(sizeof(CONTROL_ECHO) == 1 + kEchoDataSize && alignof(CONTROL_ECHO) == 1);
static_assert(offsetof(CONTROL_ECHO, data) == 1);
static_assert(offsetof(CONTROL_ECHO, tick) == 5);

struct CONTROL_LIFECHECK {
    uint8_t code;  // ccLifeCheck
};
static_assert(sizeof(CONTROL_LIFECHECK) == 1);

struct CONTROL_FLOW {
    uint8_t code;  // ccFlow
    uint8_t flow;  // kFlowPause or kFlowResume
};
static_assert(sizeof(CONTROL_FLOW) == 2 && alignof(CONTROL_FLOW) == 1);
static_assert(offsetof(CONTROL_FLOW, flow) == 1);

// Builders: each answers the whole record, ready to send as one message.
CONTROL_CONNECT MakeConnect(int32_t connectionType, const uint8_t (&peerId)[kPeerIdSize]);
CONTROL_DISCONNECT MakeDisconnect(int32_t reason);
CONTROL_LIFECHECK MakeLifeCheck();
CONTROL_FLOW MakeFlow(uint8_t flow);
// The reply to an echo request of `length` bytes: its first 9 bytes, zeros
// beyond the request, and the tick in bytes 5..8.
CONTROL_ECHO MakeEchoReply(const uint8_t* request, size_t length, uint32_t tick);
// Turns a received packet into its own refusal: channel 1, noAck 1, data
// byte 0 = ccRefused; every other byte stays as received.
void MakeRefusal(ZTPACKET& packet);

// Results of the readers.
inline constexpr int32_t cmOk = 1;
inline constexpr int32_t cmEmpty = 0;         // no byte at all
inline constexpr int32_t cmShort = -1;        // shorter than its code's payload
inline constexpr int32_t cmUnknownCode = -2;  // a code no message uses; `code` is set

// One control message as read. Only the fields of its code are meaningful.
struct ControlMessage {
    uint8_t code = 0;
    int32_t connectionType = 0;        // ccConnect
    uint8_t peerId[kPeerIdSize] = {};  // ccConnect
    int32_t reason = 0;                // ccDisconnect
    uint8_t flow = 0;                  // ccFlow: 0 resume, anything else pause
    bool hasEchoTick = false;          // ccEcho of 9 bytes or more (a reply)
    uint32_t echoTick = 0;             // ccEcho: bytes 5..8 when present
};

// Reads the control message in data[0 .. length).
[[nodiscard]] int32_t ReadControlMessage(const uint8_t* data, size_t length, ControlMessage& out);

// Reads the control message a single packet carries: its first dataLength
// bytes (never more than the packet's 997 data bytes, whatever dataLength
// claims).
[[nodiscard]] int32_t ReadControlPacket(const ZTPACKET& packet, ControlMessage& out);

// True for a refusal: channel 1, noAck 1 and data byte 0 = ccRefused. The
// refused packet keeps its own dataLength (which may even be 0), so a
// receiver recognises a refusal by this test rather than by its length.
constexpr bool IsRefusal(const ZTPACKET& packet) {
    return packet.channel == kControlChannel && packet.noAck == 1 && packet.data[0] == ccRefused;
}

// The data bytes a packet really carries: dataLength, at most 997.
constexpr size_t PacketPayloadLength(const ZTPACKET& packet) {
    const size_t n = packet.dataLength.get();
    return n < kPacketDataSize ? n : kPacketDataSize;
}

}  // namespace velmora

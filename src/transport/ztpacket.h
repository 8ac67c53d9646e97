// The two datagram formats of the transport, shared by the server and the
// broker: the 1024-byte data packet ZTPACKET and the 28-byte frame status and
// acknowledgement PACKETRETURN.
//
// A message is cut into packets of up to 997 data bytes; consecutive packets
// of one message form frames of up to 64 packets. Sequence numbers are 16-bit
// per connection, channel and direction and start at 0xFFFF; inside a frame
// seq = frameSeq + index (modulo 65536).
//
// Integers are little-endian; ackPort and senderAddress keep the network
// order the socket interface gives them. Nothing is aligned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace velmora {

inline constexpr size_t kPacketSize = 1024;
inline constexpr size_t kPacketHeaderSize = 27;
inline constexpr size_t kPacketDataSize = 997;  // kPacketSize - kPacketHeaderSize
inline constexpr uint32_t kMaxFramePackets = 64;
inline constexpr size_t kPacketReturnSize = 28;

inline constexpr uint8_t kDataChannel = 0;
inline constexpr uint8_t kControlChannel = 1;

// The first seq of every channel counter and the first frame a fresh
// receiver expects.
inline constexpr uint16_t kFirstSeq = 0xFFFF;

// Frame states carried in PACKETRETURN::state. For a sender 1..4 mean done,
// 0 and 5 mean send again.
inline constexpr int32_t FRAME_PARTIAL = 0;
inline constexpr int32_t FRAME_COMPLETE = 1;
inline constexpr int32_t FRAME_DELIVERED = 2;
inline constexpr int32_t FRAME_DUPLICATE = 3;
inline constexpr int32_t FRAME_OLD = 4;
inline constexpr int32_t FRAME_BUSY = 5;

constexpr bool FrameStateIsDone(int32_t state) {
    return state >= FRAME_COMPLETE && state <= FRAME_OLD;
}

struct ZTPACKET {
    LeU16 seq;             // this packet's sequence number
    uint8_t framePackets;  // packets in this packet's frame, 1..64
    LeU16 frameSeq;        // seq of the frame's first packet
    LeI32 messageLength;   // length of the whole message, in every packet
    LeU16 dataLength;      // message bytes in this packet, 0..997
    uint8_t reserved1;     // always 0
    uint8_t reserved2;     // always 0
    uint8_t channel;       // kDataChannel or kControlChannel
    LeU16 connectionKey;   // the broker's slot number, both directions
    NetU16 ackPort;        // where the sender takes acknowledgements (broker); 0 from the server
    uint8_t noAck;         // 1: single-packet message, never acknowledged or resent
    LeU32 sendTick;        // sender's tick when the packet was (re)sent
    NetU32 senderAddress;  // sender's own IPv4 address
    uint8_t data[kPacketDataSize];  // dataLength message bytes, then zeros
};

static_assert(sizeof(ZTPACKET) == kPacketSize);
static_assert(alignof(ZTPACKET) == 1);
static_assert(offsetof(ZTPACKET, seq) == 0);
static_assert(offsetof(ZTPACKET, framePackets) == 2);
static_assert(offsetof(ZTPACKET, frameSeq) == 3);
static_assert(offsetof(ZTPACKET, messageLength) == 5);
static_assert(offsetof(ZTPACKET, dataLength) == 9);
static_assert(offsetof(ZTPACKET, reserved1) == 11);
static_assert(offsetof(ZTPACKET, reserved2) == 12);
static_assert(offsetof(ZTPACKET, channel) == 13);
static_assert(offsetof(ZTPACKET, connectionKey) == 14);
static_assert(offsetof(ZTPACKET, ackPort) == 16);
static_assert(offsetof(ZTPACKET, noAck) == 18);
static_assert(offsetof(ZTPACKET, sendTick) == 19);
static_assert(offsetof(ZTPACKET, senderAddress) == 23);
static_assert(offsetof(ZTPACKET, data) == kPacketHeaderSize);

// The status of one frame. The receiver sends it back as the acknowledgement;
// every ZTPacketFrame begins with one.
struct PACKETRETURN {
    uint8_t channel;       // copied from the frame's packets
    LeU16 frameSeq;        // identifies the frame
    NetU32 senderAddress;  // from the first packet the receiver got; the broker puts its own
    LeU16 connectionKey;   // copied from the frame's packets
    LeU32 sendTick;        // of the first packet the receiver got; the round trip is measured on it
    LeU16 pendingFrames;   // frames the receiver is still assembling, set just before sending
    uint8_t framePackets;  // copied from the frame's packets
    LeI32 state;           // FRAME_PARTIAL .. FRAME_BUSY
    uint8_t received[8];   // packet i held: bit (0x80 >> i % 8) of byte i / 8
};

static_assert(sizeof(PACKETRETURN) == kPacketReturnSize);
static_assert(alignof(PACKETRETURN) == 1);
static_assert(offsetof(PACKETRETURN, channel) == 0);
static_assert(offsetof(PACKETRETURN, frameSeq) == 1);
static_assert(offsetof(PACKETRETURN, senderAddress) == 3);
static_assert(offsetof(PACKETRETURN, connectionKey) == 7);
static_assert(offsetof(PACKETRETURN, sendTick) == 9);
static_assert(offsetof(PACKETRETURN, pendingFrames) == 13);
static_assert(offsetof(PACKETRETURN, framePackets) == 15);
static_assert(offsetof(PACKETRETURN, state) == 16);
static_assert(offsetof(PACKETRETURN, received) == 20);

// The `received` bitmap, most significant bit first. index must be below 64.
constexpr bool ReceivedBit(const PACKETRETURN& r, uint32_t index) {
    return (r.received[index / 8] & (0x80u >> (index % 8))) != 0;
}
constexpr void SetReceivedBit(PACKETRETURN& r, uint32_t index) {
    r.received[index / 8] = static_cast<uint8_t>(r.received[index / 8] | (0x80u >> (index % 8)));
}

// Index of a packet in its frame: (seq - frameSeq) modulo 65536.
constexpr uint32_t PacketIndex(uint16_t seq, uint16_t frameSeq) {
    return static_cast<uint16_t>(seq - frameSeq);
}

// The status fields a frame takes from one of its packets: channel, frameSeq,
// senderAddress, connectionKey, sendTick and framePackets; pendingFrames,
// state and the bitmap are zero.
PACKETRETURN StatusFromPacket(const ZTPACKET& packet);

}  // namespace velmora

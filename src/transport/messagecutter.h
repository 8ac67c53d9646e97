// Cutting a message into packets and frames.
//
// A message of L bytes makes ceil(L / 997) packets (one packet when L is 0)
// and ceil(packets / 64) frames; every frame but the last holds 64 packets.
// Seqs come from the channel's 16-bit counter, which steps by one per packet
// modulo 65536. Frames never mix two messages.
//
// Limit: a message longer than kMaxMessageLength is refused by the senders:
// its frames would span more than half the sequence space, so the receiver
// could take its later frames for frames before its window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/ztpacket.h"

namespace velmora {

inline constexpr uint32_t kMaxMessagePackets = 0x7FFF;
inline constexpr uint32_t kMaxMessageLength = kMaxMessagePackets * kPacketDataSize;

// The fields that every packet of one connection carries.
struct PacketOrigin {
    uint16_t connectionKey = 0;
    uint16_t ackPortRaw = 0;        // network order, as in sin_port; 0 on the server
    uint32_t senderAddressRaw = 0;  // network order, as in sin_addr.s_addr
};

class MessageCutter {
  public:
    // data must stay valid while the cutter is used; length at most
    // kMaxMessageLength (longer messages are the caller's error to refuse).
    MessageCutter(const uint8_t* data, uint32_t length, uint8_t channel, uint8_t noAck,
                  const PacketOrigin& origin);

    static constexpr uint32_t PacketCount(uint32_t length) {
        return length == 0 ? 1 : (length + kPacketDataSize - 1) / kPacketDataSize;
    }
    static constexpr uint32_t FrameCount(uint32_t length) {
        return (PacketCount(length) + kMaxFramePackets - 1) / kMaxFramePackets;
    }

    // Packets in the next frame; 0 once every frame was written.
    uint32_t NextFramePackets() const;

    // Writes the next frame into out[0 .. NextFramePackets()), taking its seqs
    // from counter, and returns its frameSeq. Every byte of each packet is
    // written, unused data bytes as 0.
    uint16_t WriteFrame(ZTPACKET* out, uint16_t& counter, uint32_t tick);

  private:
    const uint8_t* data_;
    uint32_t length_;
    uint32_t offset_ = 0;
    uint32_t packetsLeft_;
    uint8_t channel_;
    uint8_t noAck_;
    PacketOrigin origin_;
};

}  // namespace velmora

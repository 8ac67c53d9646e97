// One frame of up to 64 packets, on either side of the transport: the
// receiver collects a frame's packets in it (ZTPACKET_INLIST), the sender
// keeps a queued frame in it until it is acknowledged (FrameSender).
//
// Not thread-safe: the list that holds a frame guards it.
#pragma once

#include <cstdint>
#include <memory>

#include "transport/ztpacket.h"

namespace velmora {

class ZTPacketFrame {
  public:
    static constexpr int32_t kRejected = -1;
    static constexpr int32_t kIncomplete = 0;
    static constexpr int32_t kComplete = 1;

    // capacity slots of 1024 bytes, zero-filled; capacity is clamped to
    // 1..64.
    explicit ZTPacketFrame(uint32_t capacity);

    // Receiving side: takes one packet. kRejected when it does not fit the
    // frame (framePackets outside 1..64 or above the capacity on the first
    // packet, another frameSeq, an index not below framePackets); a
    // duplicate changes nothing. kComplete once every packet is held (and
    // for any packet after that).
    [[nodiscard]] int32_t AddPacket(const ZTPACKET& packet);

    // True when the frame holds a packet and has the packet's frameSeq.
    bool Matches(const ZTPACKET& packet) const {
        return receivedCount != 0 && status.frameSeq.get() == packet.frameSeq.get();
    }

    uint32_t Capacity() const { return capacity_; }
    ZTPACKET& Packet(uint32_t index) { return packets_[index]; }
    const ZTPACKET& Packet(uint32_t index) const { return packets_[index]; }
    ZTPACKET* Packets() { return packets_.get(); }

    // Packets that a transmission covers: framePackets of the status, but
    // never beyond the slots (an acknowledgement may overwrite the status).
    uint32_t PacketCount() const {
        return status.framePackets < capacity_ ? status.framePackets : capacity_;
    }

    PACKETRETURN status{};       // identity, state and bitmap of the frame
    uint32_t sendCount = 0;      // sending side: transmissions so far
    uint8_t sent = 0;            // sending side: 1 = waiting for its acknowledgement
    uint32_t receivedCount = 0;  // distinct packets held

  private:
    uint32_t capacity_;
    std::unique_ptr<ZTPACKET[]> packets_;
};

}  // namespace velmora

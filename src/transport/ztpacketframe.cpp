#include "transport/ztpacketframe.h"

#include <algorithm>
#include <cstring>

namespace velmora {

ZTPacketFrame::ZTPacketFrame(uint32_t capacity)
    : capacity_(std::clamp<uint32_t>(capacity, 1, kMaxFramePackets)),
      packets_(new ZTPACKET[capacity_]()) {}

int32_t ZTPacketFrame::AddPacket(const ZTPACKET& packet) {
    if (status.state.get() == FRAME_COMPLETE) return kComplete;
    uint32_t index;
    if (receivedCount == 0) {
        const uint32_t framePackets = packet.framePackets;
        index = PacketIndex(packet.seq.get(), packet.frameSeq.get());
        if (framePackets < 1 || framePackets > kMaxFramePackets || framePackets > capacity_ ||
            index >= framePackets)
            return kRejected;
        status = StatusFromPacket(packet);
        status.state = FRAME_PARTIAL;
    } else {
        if (packet.frameSeq.get() != status.frameSeq.get()) return kRejected;
        index = PacketIndex(packet.seq.get(), status.frameSeq.get());
        if (index >= status.framePackets) return kRejected;
    }
    if (!ReceivedBit(status, index)) {
        SetReceivedBit(status, index);
        std::memcpy(&packets_[index], &packet, sizeof(ZTPACKET));
        ++receivedCount;
    }
    if (receivedCount == status.framePackets) {
        status.state = FRAME_COMPLETE;
        return kComplete;
    }
    return kIncomplete;
}

}  // namespace velmora

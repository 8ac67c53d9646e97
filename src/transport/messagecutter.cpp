#include "transport/messagecutter.h"

#include <algorithm>
#include <cstring>

namespace velmora {

MessageCutter::MessageCutter(const uint8_t* data, uint32_t length, uint8_t channel, uint8_t noAck,
                             const PacketOrigin& origin)
    : data_(data),
      length_(length),
      packetsLeft_(PacketCount(length)),
      channel_(channel),
      noAck_(noAck),
      origin_(origin) {}

uint32_t MessageCutter::NextFramePackets() const {
    return std::min(packetsLeft_, kMaxFramePackets);
}

uint16_t MessageCutter::WriteFrame(ZTPACKET* out, uint16_t& counter, uint32_t tick) {
    const uint32_t n = NextFramePackets();
    const uint16_t frameSeq = counter;
    for (uint32_t i = 0; i < n; ++i) {
        ZTPACKET& p = out[i];
        const uint32_t chunk =
            std::min<uint32_t>(static_cast<uint32_t>(kPacketDataSize), length_ - offset_);
        p.seq = counter;
        counter = static_cast<uint16_t>(counter + 1);
        p.framePackets = static_cast<uint8_t>(n);
        p.frameSeq = frameSeq;
        p.messageLength = static_cast<int32_t>(length_);
        p.dataLength = static_cast<uint16_t>(chunk);
        p.reserved1 = 0;
        p.reserved2 = 0;
        p.channel = channel_;
        p.connectionKey = origin_.connectionKey;
        p.ackPort.setRaw(origin_.ackPortRaw);
        p.noAck = noAck_;
        p.sendTick = tick;
        p.senderAddress.setRaw(origin_.senderAddressRaw);
        if (chunk > 0) std::memcpy(p.data, data_ + offset_, chunk);
        std::memset(p.data + chunk, 0, kPacketDataSize - chunk);
        offset_ += chunk;
    }
    packetsLeft_ -= n;
    return frameSeq;
}

}  // namespace velmora

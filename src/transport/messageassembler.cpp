#include "transport/messageassembler.h"

#include <cstring>

namespace velmora {

void MessageAssembler::Reset() {
    inMessage_ = false;
    total_ = 0;
    offset_ = 0;
}

MessageAssembler::Result MessageAssembler::Add(const ZTPACKET& packet, uint8_t* out,
                                               size_t capacity) {
    const uint32_t length = packet.dataLength.get();
    if (length > kPacketDataSize) {
        if (packet.noAck == 0) Reset();
        return kBadPacket;
    }
    if (packet.noAck != 0) return kSinglePacket;

    const int32_t announced = packet.messageLength.get();
    if (!inMessage_) {
        if (announced < 0) return kBadPacket;
        if (static_cast<uint64_t>(announced) > capacity) return kTooLong;
        inMessage_ = true;
        total_ = static_cast<uint32_t>(announced);
        offset_ = 0;
    } else if (announced < 0 || static_cast<uint32_t>(announced) != total_) {
        Reset();
        return kBadPacket;
    }
    if (length > total_ - offset_) {
        Reset();
        return kOverrun;
    }
    if (length > 0) std::memcpy(out + offset_, packet.data, length);
    offset_ += length;
    if (offset_ < total_) return kIncomplete;
    inMessage_ = false;
    return kComplete;
}

MessageAssembler::Result MessageAssembler::Add(const ZTPACKET& packet,
                                               std::vector<uint8_t>& message, uint32_t maxLength) {
    if (!inMessage_ && packet.noAck == 0 && packet.dataLength.get() <= kPacketDataSize) {
        const int32_t announced = packet.messageLength.get();
        if (announced >= 0 && static_cast<uint32_t>(announced) <= maxLength)
            message.resize(static_cast<size_t>(announced));
        else
            message.clear();
    }
    return Add(packet, message.data(), message.size());
}

}  // namespace velmora

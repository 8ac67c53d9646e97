#include "broker/messagetaker.h"

#include <cstring>

#include "platform/tick.h"

namespace velmora {

MessageTaker::MessageTaker() : buffer_(new ZTPACKET[kMaxFramePackets]()) {}

void MessageTaker::Reset() {
    buffered_ = 0;
    frameClosed_ = false;
    inMessage_ = false;
    total_ = 0;
    remaining_ = 0;
    waitingSince_ = false;
}

bool MessageTaker::Accept(const ZTSEND_RECORD& record) {
    const int32_t total = record.totalLength.get();
    const int32_t length = record.dataLength.get();
    if (!inMessage_) {
        if (total < 0 || record.channel > kControlChannel) return false;
        if (!RecordFitsMessage(total, length, total, total, kPacketDataSize)) return false;
        inMessage_ = true;
        total_ = total;
        remaining_ = static_cast<uint32_t>(total);
        channel_ = record.channel;
        noAck_ = record.noAck != 0 && total <= static_cast<int32_t>(kPacketDataSize) ? 1 : 0;
        return true;
    }
    return record.channel == channel_ &&
           RecordFitsMessage(total, length, total_, static_cast<int32_t>(remaining_),
                             kPacketDataSize);
}

void MessageTaker::AddPacket(const ZTSEND_RECORD& record) {
    const auto length = static_cast<uint32_t>(record.dataLength.get());
    ZTPACKET& p = buffer_[buffered_++];
    std::memset(&p, 0, sizeof(p));
    p.messageLength = total_;
    p.dataLength = static_cast<uint16_t>(length);
    p.channel = channel_;
    p.noAck = noAck_;
    std::memcpy(p.data, record.data, length);
    remaining_ -= length;
}

bool MessageTaker::FlushFrame(FrameSender& sender, uint32_t now, uint32_t* framesQueued) {
    if (!frameClosed_) return true;
    const int32_t r = sender.QueueFrame(channel_, buffer_.get(), buffered_, now);
    if (r == FrameSender::kRefused) return false;
    // kInvalidMessage cannot happen: channel and count were checked here.
    buffered_ = 0;
    frameClosed_ = false;
    ++*framesQueued;
    return true;
}

int32_t MessageTaker::Take(SendQueue& queue, FrameSender& sender, uint32_t now,
                           const Limits& limits, uint32_t* framesQueued) {
    *framesQueued = 0;
    // A frame the sender refused last time goes first.
    if (!FlushFrame(sender, now, framesQueued)) return kNothing;
    ZTSEND_RECORD record;
    for (;;) {
        const int32_t got = queue.Take(record);
        if (got == velmora::kQueueDamaged) return kDamagedQueue;
        if (got == kQueueNone) {
            if (!inMessage_) return kNothing;
            if (!waitingSince_) {
                waitingSince_ = true;
                emptySince_ = now;
            } else if (TickDiff(now, emptySince_) > limits.stallMs) {
                return kStalled;
            }
            return kNothing;
        }
        waitingSince_ = false;
        if (!Accept(record)) return kBadRecord;
        AddPacket(record);
        const bool messageDone = remaining_ == 0;
        if (messageDone || buffered_ == kMaxFramePackets) {
            if (messageDone) inMessage_ = false;
            frameClosed_ = true;
            if (!FlushFrame(sender, now, framesQueued)) return kNothing;
            if (messageDone) {
                const int32_t left = queue.Count();
                if (left < 0) return kDamagedQueue;
                return left > 0 ? kMore : kNothing;
            }
            if (sender.InFlight() > limits.maxInFlight) return kNothing;
        }
    }
}

}  // namespace velmora

#include "transport/framesender.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

// Sequence distance covered from a frame's start to the counter.
uint32_t Distance(uint16_t from, uint16_t to) {
    return static_cast<uint16_t>(to - from);
}

}  // namespace

FrameSender::FrameSender(const SenderParams& params, SenderEvents* events)
    : params_(params), events_(events != nullptr ? events : &noEvents_) {}

FrameSender::~FrameSender() = default;

void FrameSender::SetOrigin(const PacketOrigin& origin) {
    CsGuard guard(pendingLock_);
    origin_ = origin;
}

void FrameSender::Reset() {
    CsGuard guard(pendingLock_);
    frames_.clear();
    inFlight_.store(0);
    counters_[0] = counters_[1] = kFirstSeq;
    idle_.store(true);
    paused_.store(false);
}

uint16_t FrameSender::Counter(uint8_t channel) {
    CsGuard guard(pendingLock_);
    return counters_[channel & 1];
}

uint32_t FrameSender::OutstandingSpan(uint8_t channel) const {
    uint32_t span = 0;
    for (const ZTPacketFrame& f : frames_) {
        const ZTPACKET& first = f.Packet(0);
        if (first.channel == channel)
            span = std::max(span, Distance(first.frameSeq.get(), counters_[channel]));
    }
    return span;
}

int32_t FrameSender::Queue(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                           uint32_t now, uint16_t* lastFrameSeq) {
    bool queued = false;
    uint16_t last = 0;
    const int32_t result = QueueMessage(channel, noAck, data, length, now, queued, last);
    if (queued && lastFrameSeq != nullptr) *lastFrameSeq = last;
    return result;
}

int32_t FrameSender::QueueMessage(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                                  uint32_t now, bool& queued, uint16_t& lastFrameSeq) {
    if (channel > kControlChannel || length > kMaxMessageLength ||
        (length > 0 && data == nullptr) || (noAck != 0 && length > kPacketDataSize))
        return kInvalidMessage;
    CsGuard guard(pendingLock_);
    if (channel == kDataChannel && params_.dataInFlightLimit != 0 &&
        inFlight_.load() > params_.dataInFlightLimit)
        return kRefused;
    // Frames spread over more than half the sequence space would look old to
    // the receiver and be answered FRAME_OLD, that is, lost.
    if (OutstandingSpan(channel) + MessageCutter::PacketCount(length) > kMaxMessagePackets)
        return kRefused;

    MessageCutter cutter(static_cast<const uint8_t*>(data), length, channel, noAck ? 1 : 0,
                         origin_);
    while (const uint32_t n = cutter.NextFramePackets()) {
        ZTPacketFrame& frame = frames_.emplace_back(n);
        lastFrameSeq = cutter.WriteFrame(frame.Packets(), counters_[channel], now);
        frame.status = StatusFromPacket(frame.Packet(0));
        frame.status.state = FRAME_PARTIAL;
        inFlight_.fetch_add(1);
    }
    queued = true;
    return static_cast<int32_t>(length);
}

int32_t FrameSender::QueueFrame(uint8_t channel, ZTPACKET* packets, uint32_t count, uint32_t now,
                                uint16_t* frameSeq) {
    if (channel > kControlChannel || packets == nullptr || count < 1 || count > kMaxFramePackets)
        return kInvalidMessage;
    for (uint32_t i = 0; i < count; ++i)
        if (packets[i].channel != channel) return kInvalidMessage;
    CsGuard guard(pendingLock_);
    if (channel == kDataChannel && params_.dataInFlightLimit != 0 &&
        inFlight_.load() > params_.dataInFlightLimit)
        return kRefused;
    if (OutstandingSpan(channel) + count > kMaxMessagePackets) return kRefused;

    uint16_t& counter = counters_[channel];
    const uint16_t first = counter;
    ZTPacketFrame& frame = frames_.emplace_back(count);
    for (uint32_t i = 0; i < count; ++i) {
        ZTPACKET& p = frame.Packet(i);
        std::memcpy(&p, &packets[i], sizeof(ZTPACKET));
        p.seq = counter;
        counter = static_cast<uint16_t>(counter + 1);
        p.framePackets = static_cast<uint8_t>(count);
        p.frameSeq = first;
        p.reserved1 = 0;
        p.reserved2 = 0;
        p.connectionKey = origin_.connectionKey;
        p.ackPort.setRaw(origin_.ackPortRaw);
        p.sendTick = now;
        p.senderAddress.setRaw(origin_.senderAddressRaw);
    }
    frame.status = StatusFromPacket(frame.Packet(0));
    frame.status.state = FRAME_PARTIAL;
    inFlight_.fetch_add(1);
    if (frameSeq != nullptr) *frameSeq = first;
    return static_cast<int32_t>(count);
}

void FrameSender::AddRoundTripSample(uint32_t ms) {
    CsGuard guard(pendingLock_);
    estimator_.AddSample(ms);
    estimator_.Compute(100);
}

int32_t FrameSender::Send(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                          uint32_t waitMs, const Clock& clock,
                          const std::function<bool()>& stillOpen) {
    bool queued = false;
    uint16_t lastFrameSeq = 0;
    const int32_t result =
        QueueMessage(channel, noAck, data, length, clock.Now(), queued, lastFrameSeq);
    if (!queued || waitMs == 0 || noAck != 0) return result;
    const uint32_t begin = clock.Now();
    for (;;) {
        if (!IsFramePending(channel, lastFrameSeq)) return result;
        if (stillOpen && !stillOpen()) return kClosed;
        if (TickDiff(clock.Now(), begin) > waitMs) {
            waitTimeouts_.fetch_add(1);
            return params_.waitTimeoutResult;
        }
        SleepMs(params_.waitPollMs);
    }
}

bool FrameSender::IsFramePending(uint8_t channel, uint16_t frameSeq) {
    CsGuard guard(pendingLock_);
    for (const ZTPacketFrame& f : frames_) {
        const ZTPACKET& first = f.Packet(0);
        if (first.frameSeq.get() == frameSeq && first.channel == channel) return true;
    }
    return false;
}

void FrameSender::Transmit(ZTPacketFrame& frame, uint32_t now, DatagramSink& sink) {
    frame.status.sendTick = now;
    const uint32_t count = frame.PacketCount();
    for (uint32_t i = 0; i < count; ++i) {
        if (!sink.Active()) return;
        if (ReceivedBit(frame.status, i)) continue;
        ZTPACKET& packet = frame.Packet(i);
        packet.sendTick = now;
        // Send errors are not looked at: the time-out covers them.
        (void)sink.Send(&packet, sizeof(ZTPACKET));
    }
}

void FrameSender::Remove(FrameList::iterator frame) {
    frames_.erase(frame);
    inFlight_.fetch_sub(1);
}

void FrameSender::MoveToFront(FrameList::iterator frame) {
    if (frame != frames_.begin()) frames_.splice(frames_.begin(), frames_, frame);
}

void FrameSender::SenderPass(uint32_t now, DatagramSink& sink) {
    if (!sink.Active()) return;
    CsGuard guard(pendingLock_);
    if (frames_.empty()) {
        idle_.store(true);
        return;
    }
    if (paused_.load()) return;

    auto next = std::find_if(frames_.begin(), frames_.end(),
                             [](const ZTPacketFrame& f) { return f.sent == 0; });
    if (next != frames_.end()) {
        next->sent = 1;
        ++next->sendCount;
        Transmit(*next, now, sink);
        events_->FrameSent(*next);
        if (next->Packet(0).noAck != 0) {
            const uint32_t bytes = next->PacketCount() * static_cast<uint32_t>(kPacketDataSize);
            bytesDone_.fetch_add(bytes);
            events_->FrameDone(bytes);
            Remove(next);
        }
    }

    const uint32_t timeout = RetransmitTimeout(estimator_.Average(), params_.timeoutCapMs);
    auto late = std::find_if(frames_.begin(), frames_.end(), [&](const ZTPacketFrame& f) {
        return f.sent == 1 && TickDiff(now, f.status.sendTick.get()) > timeout;
    });
    if (late != frames_.end()) {
        late->sent = 0;
        MoveToFront(late);
        idle_.store(false);
        events_->FrameTimedOut();
        if (estimator_.Average() < 1000) {
            estimator_.AddSample(estimator_.Average() + 10);
            estimator_.Compute(100);
        }
    }
}

FrameSender::FrameList::iterator FrameSender::FindFrame(uint8_t channel, uint16_t frameSeq,
                                                        uint16_t connectionKey) {
    return std::find_if(frames_.begin(), frames_.end(), [&](const ZTPacketFrame& f) {
        const ZTPACKET& first = f.Packet(0);
        return first.frameSeq.get() == frameSeq && first.connectionKey.get() == connectionKey &&
               first.channel == channel;
    });
}

void FrameSender::ApplyAcknowledgements(uint8_t channel, ZTACKS_LIST& acks, uint32_t now) {
    if (acks.Count() == 0) return;
    CsGuard guard(pendingLock_);
    while (const auto record = acks.Get()) {
        const auto frame = FindFrame(channel, record->frameSeq.get(), record->connectionKey.get());
        if (frame == frames_.end()) continue;  // already done, or never ours
        const int32_t state = record->state.get();
        if (FrameStateIsDone(state)) {
            const uint32_t bytes =
                frame->Packet(0).framePackets * static_cast<uint32_t>(kPacketDataSize);
            bytesDone_.fetch_add(bytes);
            const bool sentOnce = frame->sendCount <= 1;
            Remove(frame);
            // The record carries the tick of the first packet the receiver
            // got, which for a frame sent more than once may belong to any of
            // its transmissions: such a sample would count the repair time as
            // round trip, and each longer time-out would lengthen the next
            // sample until the estimate reaches its cap. Only frames sent
            // once give a sample.
            if (sentOnce) {
                uint32_t sample = TickDiff(now, record->sendTick.get());
                if (sample == 0) sample = 10;
                estimator_.AddSample(sample);
                events_->RoundTrip(estimator_.Compute(100));
            }
            events_->FrameDone(bytes);
        } else if (state == FRAME_PARTIAL || state == FRAME_BUSY) {
            // The record's bitmap says which packets the receiver holds; only
            // the others go out again. The frame's slots stay the bound of
            // what a transmission covers, whatever framePackets it announces.
            frame->status = *record;
            if (state == FRAME_BUSY) {
                frame->status.state = FRAME_PARTIAL;
                frame->status.sendTick = now;
                events_->AckBusy();
                frame->sent = params_.busyResendsAtOnce ? 0 : 1;
            } else {
                frame->sent = 0;
            }
            MoveToFront(frame);
            idle_.store(false);
        }
    }
}

void FrameSender::StartEstimate(uint32_t ms, uint32_t percent) {
    CsGuard guard(pendingLock_);
    estimator_.Fill(ms);
    estimator_.Compute(percent);
}

uint32_t FrameSender::Average() {
    CsGuard guard(pendingLock_);
    return estimator_.Average();
}

uint32_t FrameSender::Timeout() {
    CsGuard guard(pendingLock_);
    return RetransmitTimeout(estimator_.Average(), params_.timeoutCapMs);
}

}  // namespace velmora

#include "transport/ztpacket_inlist.h"

#include <cstring>
#include <memory>
#include <utility>

namespace velmora {

void ZTPACKET_INLIST::Reset() {
    CsGuard guard(lock_);
    frames_.clear();
    frameCount_.store(0, std::memory_order_relaxed);
    expectedSeq_ = kFirstSeq;
    busySeq_ = 0x7FFF;
    busyReplied_.store(false, std::memory_order_relaxed);
    lastPartial_ = PACKETRETURN{};
    lastPartial_.connectionKey = 0xFFFF;
    lastDelivered_ = PACKETRETURN{};
    haveDelivered_ = false;
}

PACKETRETURN ZTPACKET_INLIST::ReplyFor(const ZTPACKET& packet, int32_t state) const {
    PACKETRETURN reply = StatusFromPacket(packet);
    reply.state = state;
    return reply;
}

std::optional<PACKETRETURN> ZTPACKET_INLIST::AddPacket(const ZTPACKET& packet,
                                                       ZTPACKET_COMPLETELIST& completeList) {
    CsGuard guard(lock_);
    const uint16_t frameSeq = packet.frameSeq.get();
    const uint16_t hi = frames_.empty() ? expectedSeq_ : frames_.back().status.frameSeq.get();
    const SeqClass cls = ClassifySeq(frameSeq, expectedSeq_, hi);

    if (packet.noAck != 0) {
        // Single-packet messages skip frames, order and acknowledgement.
        if (completeList.Count() > kBusyLimit) return std::nullopt;
        auto copy = std::make_unique<ZTPACKET>();
        std::memcpy(copy.get(), &packet, sizeof(ZTPACKET));
        completeList.Add(std::move(copy));
        return std::nullopt;
    }
    if (haveDelivered_ && frameSeq == lastDelivered_.frameSeq.get()) {
        lastDelivered_.state = FRAME_DUPLICATE;
        return lastDelivered_;
    }
    if (cls == SEQ_OLD) return ReplyFor(packet, FRAME_OLD);

    auto frame = frames_.begin();
    while (frame != frames_.end() && !frame->Matches(packet)) ++frame;

    if (frame == frames_.end() &&
        (completeList.Count() > kBusyLimit || FrameCount() > kBusyLimit) &&
        (FrameCount() == 0 || cls == SEQ_AHEAD)) {
        if (frameSeq == busySeq_) return std::nullopt;  // this frame was refused already
        busyReplied_.store(true, std::memory_order_relaxed);
        busySeq_ = frameSeq;
        return ReplyFor(packet, FRAME_BUSY);
    }
    busyReplied_.store(false, std::memory_order_relaxed);

    int32_t r;
    if (frame != frames_.end()) {
        r = frame->AddPacket(packet);
    } else {
        // A packet that cannot start a frame is dropped before a frame is made
        // for it: its framePackets may be anything.
        if (packet.framePackets < 1 || packet.framePackets > kMaxFramePackets) return std::nullopt;
        ZTPacketFrame created(packet.framePackets);
        r = created.AddPacket(packet);
        if (r == ZTPacketFrame::kRejected) return std::nullopt;
        frame = InsertFrame(std::move(created), cls);
    }
    if (r == ZTPacketFrame::kRejected) return std::nullopt;

    if (r == ZTPacketFrame::kComplete) {
        if (frameSeq == expectedSeq_ && frame == frames_.begin()) return HandOnFirst(completeList);
        return frame->status;
    }
    if (lastPartial_.connectionKey.get() == 0xFFFF) {
        lastPartial_ = frame->status;
        return std::nullopt;
    }
    if (frame->status.frameSeq.get() != lastPartial_.frameSeq.get()) {
        lastPartial_ = frame->status;
        return lastPartial_;
    }
    return std::nullopt;
}

std::list<ZTPacketFrame>::iterator ZTPACKET_INLIST::InsertFrame(ZTPacketFrame&& frame,
                                                                SeqClass cls) {
    auto at = frames_.end();
    if (!frames_.empty() && cls != SEQ_AHEAD) {
        const uint16_t seq = frame.status.frameSeq.get();
        at = frames_.begin();
        while (at != frames_.end() && !SeqPrecedes(seq, at->status.frameSeq.get())) ++at;
    }
    frameCount_.fetch_add(1, std::memory_order_relaxed);
    return frames_.insert(at, std::move(frame));
}

PACKETRETURN ZTPACKET_INLIST::HandOnFirst(ZTPACKET_COMPLETELIST& completeList) {
    ZTPacketFrame& frame = frames_.front();
    expectedSeq_ = static_cast<uint16_t>(frame.status.frameSeq.get() + frame.status.framePackets);
    lastDelivered_ = frame.status;
    lastDelivered_.state = FRAME_DELIVERED;
    haveDelivered_ = true;
    for (uint32_t i = 0; i < frame.receivedCount; ++i) {
        auto copy = std::make_unique<ZTPACKET>();
        std::memcpy(copy.get(), &frame.Packet(i), sizeof(ZTPACKET));
        completeList.Add(std::move(copy));
    }
    frames_.pop_front();
    frameCount_.fetch_sub(1, std::memory_order_relaxed);
    return lastDelivered_;
}

std::optional<PACKETRETURN> ZTPACKET_INLIST::DeliverNext(ZTPACKET_COMPLETELIST& completeList) {
    CsGuard guard(lock_);
    if (frames_.empty()) return std::nullopt;
    const ZTPacketFrame& first = frames_.front();
    if (first.status.state.get() != FRAME_COMPLETE ||
        first.Packet(0).frameSeq.get() != expectedSeq_)
        return std::nullopt;
    return HandOnFirst(completeList);
}

}  // namespace velmora

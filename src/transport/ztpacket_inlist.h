// The receiving side of one channel of one connection: collects the packets
// of each frame, keeps incomplete frames in sequence order, decides which
// acknowledgement answers each packet, and hands complete frames on strictly
// in frameSeq order by moving their packets into a ZTPACKET_COMPLETELIST.
//
// The window runs from expectedSeq (the next frame to hand on, 0xFFFF after
// Reset, matching the sender's counters) to the last frame held. A frame
// before the window is answered FRAME_OLD; a packet of the frame handed on
// last is answered FRAME_DUPLICATE. With more than 500 packets waiting in the
// complete list or more than 500 frames held, a new frame beyond the last one
// held is refused once with FRAME_BUSY; frames inside the window are always
// taken, so the frame that unblocks delivery is never refused.
//
// Limit: frames inside the window are taken without a bound of their own; a
// sender that fills every gap between the expected frame and a far frame
// ahead makes the list hold up to half the sequence space.
//
// Lock: lock_ guards every field; every operation takes it for its whole run.
// Order: in-list lock, then the complete list's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <optional>

#include "platform/ztcritical_section.h"
#include "transport/seqorder.h"
#include "transport/ztpacket.h"
#include "transport/ztpacket_completelist.h"
#include "transport/ztpacketframe.h"

namespace velmora {

class ZTPACKET_INLIST {
  public:
    // More than this many packets in the complete list, or frames held,
    // and new frames ahead are refused.
    static constexpr uint32_t kBusyLimit = 500;

    ZTPACKET_INLIST() { Reset(); }
    ~ZTPACKET_INLIST() { Reset(); }
    ZTPACKET_INLIST(const ZTPACKET_INLIST&) = delete;
    ZTPACKET_INLIST& operator=(const ZTPACKET_INLIST&) = delete;

    // Drops every frame and restarts the window at 0xFFFF.
    void Reset();

    // Takes one received packet of this channel. Answers the acknowledgement
    // to send back (pendingFrames still 0), or nothing.
    std::optional<PACKETRETURN> AddPacket(const ZTPACKET& packet,
                                          ZTPACKET_COMPLETELIST& completeList);

    // Hands on the first frame when it is complete and expected. Answers its
    // FRAME_DELIVERED record, or nothing; callers repeat until nothing.
    std::optional<PACKETRETURN> DeliverNext(ZTPACKET_COMPLETELIST& completeList);

    uint32_t FrameCount() const { return frameCount_.load(std::memory_order_relaxed); }
    bool BusyReplied() const { return busyReplied_.load(std::memory_order_relaxed); }
    uint16_t ExpectedSeq() const { return expectedSeq_; }

  private:
    PACKETRETURN ReplyFor(const ZTPACKET& packet, int32_t state) const;
    // Moves the first frame's packets to the complete list and records it as
    // delivered; answers its FRAME_DELIVERED record.
    PACKETRETURN HandOnFirst(ZTPACKET_COMPLETELIST& completeList);
    std::list<ZTPacketFrame>::iterator InsertFrame(ZTPacketFrame&& frame, SeqClass cls);

    ZTCRITICAL_SECTION lock_;
    PACKETRETURN lastPartial_{};  // connectionKey 0xFFFF: none yet
    uint16_t expectedSeq_ = kFirstSeq;
    uint16_t busySeq_ = 0x7FFF;
    std::atomic<bool> busyReplied_{false};  // read by the owner without the lock
    std::list<ZTPacketFrame> frames_;       // sorted by frameSeq in sequence order
    PACKETRETURN lastDelivered_{};
    bool haveDelivered_ = false;           // lastDelivered_ is empty until a hand-on
    std::atomic<uint32_t> frameCount_{0};  // read by the owner without the lock
};

}  // namespace velmora

// The sending side of one connection, shared by both engines: the pending
// list of frames queued and not yet acknowledged, the sender pass that sends
// one new frame and resends one timed-out frame per call, and the step that
// applies the acknowledgements an acknowledgement receiver collected.
//
// The logic owns no socket and no clock: passes take the current tick and send
// through a DatagramSink; the send-and-wait takes a Clock. What differs between
// the server and the broker is a SenderParams record.
//
// Lock: pendingLock_ guards frames_, the counters, the estimator and the flags'
// changes; datagrams are sent with it held. Order: the engine's connection
// lock, then pendingLock_, then a ZTACKS_LIST's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>

#include "platform/tick.h"
#include "platform/ztcritical_section.h"
#include "transport/datagramsink.h"
#include "transport/messagecutter.h"
#include "transport/ztacks_list.h"
#include "transport/ztnetwork_txrq_time.h"
#include "transport/ztpacketframe.h"

namespace velmora {

struct SenderParams {
    uint32_t timeoutCapMs;       // upper bound of the retransmission time-out
    bool busyResendsAtOnce;      // a FRAME_BUSY frame is sent again on the next pass
                                 // (server), or only after a full time-out (broker)
    uint32_t waitPollMs;         // how often a send-and-wait looks for its acknowledgement
    uint32_t dataInFlightLimit;  // data-channel messages are refused while more frames
                                 // are in flight; 0 = never refused
    int32_t waitTimeoutResult;   // what a send-and-wait that ran out of time answers
};

inline constexpr SenderParams kServerSenderParams{5000, true, 2, 100, 0};
inline constexpr SenderParams kBrokerSenderParams{20000, false, 5, 0, -1};

// Statistics hooks of an engine; every one may be left as it is.
class SenderEvents {
  public:
    virtual ~SenderEvents() = default;
    virtual void FrameSent(const ZTPacketFrame& /*frame*/) {}  // a transmission from the queue
    virtual void FrameTimedOut() {}                            // a frame queued again
    virtual void AckBusy() {}                                  // a FRAME_BUSY answer
    virtual void FrameDone(uint32_t /*bytes*/) {}    // acknowledged done, or sent with noAck
    virtual void RoundTrip(uint32_t /*average*/) {}  // the estimate after a new sample
};

class FrameSender {
  public:
    static constexpr int32_t kRefused = 0;          // not queued; try again later
    static constexpr int32_t kClosed = -1;          // the connection closed during the wait
    static constexpr int32_t kInvalidMessage = -4;  // channel not 0/1, too long, or a noAck
                                                    // message of more than one packet

    explicit FrameSender(const SenderParams& params, SenderEvents* events = nullptr);
    ~FrameSender();
    FrameSender(const FrameSender&) = delete;
    FrameSender& operator=(const FrameSender&) = delete;

    const SenderParams& Params() const { return params_; }
    void SetOrigin(const PacketOrigin& origin);

    // Destroys every pending frame and restarts both channel counters at
    // 0xFFFF, for a connection that is set up (again).
    void Reset();

    // Cuts a message into frames and appends them. Answers the length, or
    // kRefused when the data channel has too many frames in flight or the
    // message would stretch the channel's unacknowledged frames over more than
    // half the sequence space, or kInvalidMessage. lastFrameSeq receives the
    // frameSeq of the message's last frame.
    [[nodiscard]] int32_t Queue(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                                uint32_t now, uint16_t* lastFrameSeq = nullptr);

    // Queue, then (unless waitMs is 0 or noAck is 1) wait until the message's
    // last frame has left the pending list: the length, kClosed as soon as
    // stillOpen answers false, or params.waitTimeoutResult after waitMs (the
    // frames stay queued).
    [[nodiscard]] int32_t Send(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                               uint32_t waitMs, const Clock& clock,
                               const std::function<bool()>& stillOpen);

    // Appends one frame of count (1..64) packets that the caller built one
    // by one, for a message that arrives piece by piece (the broker takes an
    // application's message record by record). The caller fills each packet's
    // messageLength, dataLength, data (zeros after dataLength), channel and
    // noAck; seq, frameSeq and framePackets come from the channel's counter
    // here, the origin fields and sendTick as Queue sets them. Answers
    // count, kRefused (nothing queued: the channel's unacknowledged frames
    // would span more than half the sequence space, or the data channel has
    // too many in flight), or kInvalidMessage (bad channel or count, or a
    // packet whose channel differs). frameSeq receives the frame's frameSeq.
    [[nodiscard]] int32_t QueueFrame(uint8_t channel, ZTPACKET* packets, uint32_t count,
                                     uint32_t now, uint16_t* frameSeq = nullptr);

    // Adds one round-trip sample and recomputes the estimate over all
    // samples (the broker backs off with average + 10 when it asks its peer
    // to pause).
    void AddRoundTripSample(uint32_t ms);

    // True while a frame of the channel with this frameSeq is pending.
    bool IsFramePending(uint8_t channel, uint16_t frameSeq);

    // One pass: transmits the first frame not yet sent, then requeues at the
    // front the first sent frame older than the time-out.
    void SenderPass(uint32_t now, DatagramSink& sink);

    // Applies every record waiting in the channel's acknowledgement list.
    void ApplyAcknowledgements(uint8_t channel, ZTACKS_LIST& acks, uint32_t now);

    // Starts the estimate: Fill(ms), then Compute(percent).
    void StartEstimate(uint32_t ms, uint32_t percent);
    uint32_t Average();
    uint32_t Timeout();

    uint32_t InFlight() const { return inFlight_.load(); }
    bool Idle() const { return idle_.load(); }
    void SetPaused(bool paused) { paused_.store(paused); }
    bool Paused() const { return paused_.load(); }
    uint64_t BytesAcknowledged() const { return bytesDone_.load(); }
    uint32_t WaitTimeouts() const { return waitTimeouts_.load(); }
    uint16_t Counter(uint8_t channel);

  private:
    using FrameList = std::list<ZTPacketFrame>;

    int32_t QueueMessage(uint8_t channel, uint8_t noAck, const void* data, uint32_t length,
                         uint32_t now, bool& queued, uint16_t& lastFrameSeq);
    void Transmit(ZTPacketFrame& frame, uint32_t now, DatagramSink& sink);
    void Remove(FrameList::iterator frame);
    void MoveToFront(FrameList::iterator frame);
    FrameList::iterator FindFrame(uint8_t channel, uint16_t frameSeq, uint16_t connectionKey);
    uint32_t OutstandingSpan(uint8_t channel) const;

    const SenderParams params_;
    SenderEvents* const events_;
    SenderEvents noEvents_;

    ZTCRITICAL_SECTION pendingLock_;
    FrameList frames_;
    uint16_t counters_[2] = {kFirstSeq, kFirstSeq};
    PacketOrigin origin_;
    ZTNETWORK_TXRQ_TIME estimator_;
    std::atomic<uint32_t> inFlight_{0};
    std::atomic<bool> idle_{true};
    std::atomic<bool> paused_{false};
    std::atomic<uint64_t> bytesDone_{0};
    std::atomic<uint32_t> waitTimeouts_{0};
};

}  // namespace velmora

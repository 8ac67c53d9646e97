// Takes an application's messages out of its send queue record by record and
// builds them into packets and frames for the connection's sender: up to 64
// packets in a frame buffer, then one frame on the pending list.
//
// A message may be far longer than the queue (500 records) and than what
// may be in flight, so taking is resumable: Take stops when a message is
// complete, when the queue runs empty in the middle of a message, or when a
// frame has been queued and the sender holds more than maxInFlight frames;
// the next call carries on with the same message. A message whose next
// record does not come within stallMs of finding the queue empty ends the
// connection.
//
// Every record comes from another process and is checked before use: a
// total below 0, a channel other than 0 or 1, a data length outside 1..997
// or beyond what the message still lacks (0 only for the one record of an
// empty message), or a record of another total or channel in the middle of
// a message ends the connection. A noAck message longer than one packet is
// sent reliably (a noAck packet travels as a message of its own, so its
// pieces would arrive as separate, broken messages).
//
// Not thread-safe: the connection thread alone uses it.
#pragma once

#include <cstdint>
#include <memory>

#include "clientif/sharedqueue.h"
#include "transport/framesender.h"
#include "transport/ztpacket.h"

namespace velmora {

class MessageTaker {
  public:
    static constexpr int32_t kMore = 1;        // records still wait
    static constexpr int32_t kNothing = 0;     // nothing (more) to take now
    static constexpr int32_t kBadRecord = -1;  // a record that cannot belong to the message
    static constexpr int32_t kStalled = -2;    // the rest of a message did not come
    static constexpr int32_t kDamagedQueue = -3;

    struct Limits {
        uint32_t maxInFlight;
        uint32_t stallMs;
    };

    MessageTaker();

    // See the class comment. framesQueued receives how many frames went to
    // the sender during this call.
    [[nodiscard]] int32_t Take(SendQueue& queue, FrameSender& sender, uint32_t now,
                               const Limits& limits, uint32_t* framesQueued);

    // Forgets a message in progress (a connection that is set up again).
    void Reset();
    bool InMessage() const { return inMessage_; }
    uint32_t Remaining() const { return remaining_; }

  private:
    bool Accept(const ZTSEND_RECORD& record);
    void AddPacket(const ZTSEND_RECORD& record);
    // Hands a closed frame to the sender: true when queued (or none was
    // waiting), false when the sender refused it for now.
    bool FlushFrame(FrameSender& sender, uint32_t now, uint32_t* framesQueued);

    std::unique_ptr<ZTPACKET[]> buffer_;  // kMaxFramePackets packets
    uint32_t buffered_ = 0;
    bool frameClosed_ = false;  // the buffered packets are a whole frame, not yet queued
    bool inMessage_ = false;
    int32_t total_ = 0;
    uint32_t remaining_ = 0;
    uint8_t channel_ = 0;
    uint8_t noAck_ = 0;
    bool waitingSince_ = false;  // the queue was found empty in the middle of a message
    uint32_t emptySince_ = 0;
};

}  // namespace velmora

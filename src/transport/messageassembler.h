// Rebuilding messages from the packets a receiver hands on in seq order.
//
// The first packet of a message gives the total (messageLength); the
// dataLength bytes of each packet are appended until the total is reached.
// A noAck packet is a whole message by itself; it may arrive between two
// frames of a longer message (such packets skip the frame order), so it is
// reported apart and leaves the message in progress untouched.
//
// Nothing trusts the peer: a packet whose dataLength exceeds 997 or what the
// message still lacks, a negative total, a total above the caller's capacity,
// or a continuation packet announcing another total is an error; after an
// error the assembler starts over with the next packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transport/ztpacket.h"

namespace velmora {

class MessageAssembler {
  public:
    enum Result : int32_t {
        kIncomplete = 0,    // packet taken; the message lacks more
        kComplete = 1,      // the message is whole: Length() bytes in the buffer
        kSinglePacket = 2,  // a noAck packet: its data is the message, nothing was copied
        kBadPacket = -1,    // dataLength above 997, negative or changing total
        kTooLong = -2,      // the announced total exceeds the capacity
        kOverrun = -3,      // more bytes than the message announced
    };

    // Feeds the next packet. out/capacity is the message buffer; it must stay
    // the same while a message is in progress.
    [[nodiscard]] Result Add(const ZTPACKET& packet, uint8_t* out, size_t capacity);

    // The same into a vector, sized to the announced total (at most maxLength)
    // on a message's first packet.
    [[nodiscard]] Result Add(const ZTPACKET& packet, std::vector<uint8_t>& message,
                             uint32_t maxLength);

    bool InMessage() const { return inMessage_; }
    // Length of the message just completed, or the total of the one in progress.
    uint32_t Length() const { return total_; }
    void Reset();

  private:
    bool inMessage_ = false;
    uint32_t total_ = 0;
    uint32_t offset_ = 0;
};

}  // namespace velmora

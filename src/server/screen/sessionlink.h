// A session's connection to its viewer, as the server engine offers it for
// one peer: the peer's address, receiving whole messages, sending on the data
// channel and disconnecting. VelClient serves it from the engine; tests use a
// scripted one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class SessionLink {
  public:
    virtual ~SessionLink() = default;
    // The peer's dotted IPv4 address.
    virtual std::string AddressText() = 0;
    // The next message into `buffer`, waiting at most waitMs for it: its
    // length (a message longer than `capacity` is consumed and answered with
    // its length, only `capacity` bytes copied), 0 when none came in time,
    // negative when the peer is gone.
    virtual int Receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) = 0;
    // Sends on the data channel and waits at most waitMs for the
    // acknowledgement: the length when acknowledged, 0 when refused (too many
    // frames in flight) or not acknowledged in time, negative when the peer
    // is gone.
    virtual int Send(const uint8_t* data, size_t length, uint32_t waitMs) = 0;
    // Tells the peer the connection ends, with a reason code.
    virtual void Disconnect(int32_t reason) = 0;
};

}  // namespace velmora

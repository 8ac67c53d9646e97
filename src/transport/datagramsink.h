// Where the transport's logic sends datagrams. The sender pass, the in-list
// answers and the acknowledgement path never own a socket: they send through
// a sink, so tests can put a recording or lossy sink in place of the network.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/ztudp.h"

namespace velmora {

class DatagramSink {
  public:
    virtual ~DatagramSink() = default;

    // Sends one datagram; answers like ZTUDP::SendTo (bytes sent or a
    // negative code). The transport does not retry: time-outs cover losses.
    virtual int32_t Send(const void* data, size_t length) = 0;

    // False once the connection stopped being active; the transmission of a
    // frame stops at the next packet.
    virtual bool Active() const { return true; }
};

// Sends to one peer address through ZTUDP::SendTo.
class UdpSink : public DatagramSink {
  public:
    UdpSink(int socket, uint32_t addressRaw, uint16_t portRaw, uint32_t waitMs)
        : socket_(socket), addressRaw_(addressRaw), portRaw_(portRaw), waitMs_(waitMs) {}

    int32_t Send(const void* data, size_t length) override {
        return udp_.SendTo(socket_, addressRaw_, portRaw_, waitMs_, data, length);
    }

    void SetPeer(uint32_t addressRaw, uint16_t portRaw) {
        addressRaw_ = addressRaw;
        portRaw_ = portRaw;
    }

  private:
    ZTUDP udp_;
    int socket_;
    uint32_t addressRaw_;
    uint16_t portRaw_;
    uint32_t waitMs_;
};

}  // namespace velmora

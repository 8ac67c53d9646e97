// Fixtures of the engine tests: opening an engine on free ports, and a raw
// peer that crafts the broker's packets one by one (with the transport's
// cutter and its own channel counters) and reads what the engine sends back,
// for tests that drive the router and the host managers step by step.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "server/engine/ztserver.h"
#include "transport/controlmessages.h"
#include "transport/ztflatqueue.h"
#include "transport/ztpacket.h"
#include "transport/ztudp.h"

namespace velmora::enginetest {

// Opens the engine on 127.0.0.1 at a free pair of ports P, P + 1; false when
// none was found.
bool OpenOnFreePorts(ZTSERVER& engine);

// Settings for step-by-step tests: no manager threads, short waits.
EngineSettings ManualSettings();

// Reads one datagram within waitMs; nothing when none came.
std::optional<std::vector<uint8_t>> ReadDatagram(int socket, uint32_t waitMs);

class RawPeer {
  public:
    explicit RawPeer(uint16_t connectionKey) : key_(connectionKey) {}
    bool Open();

    uint16_t Key() const { return key_; }
    uint16_t DataPortRaw() const { return BoundPortRaw(data_.Get()); }
    uint16_t AckPortRaw() const { return BoundPortRaw(ack_.Get()); }

    // The packets of one message on a channel, from the channel's counter.
    std::vector<ZTPACKET> Cut(uint8_t channel, const void* data, uint32_t length,
                              uint8_t noAck = 0);
    // A ccConnect message: one packet.
    ZTPACKET Connect(int32_t connectionType = ctViewerSession);
    // A control message of a few bytes: one packet.
    ZTPACKET Control(std::initializer_list<uint8_t> bytes);

    // The receive-queue entry the engine's receive thread would make of a
    // packet of this peer.
    PACKETRECEIVED Entry(const ZTPACKET& packet) const;
    // Sends bytes to 127.0.0.1 at port (network order) from the data socket.
    bool SendTo(uint16_t portRaw, const void* data, size_t length) const;

    // What the engine sends to the data socket (packets, refusals) and to
    // the acknowledgement socket.
    std::optional<std::vector<uint8_t>> ReadData(uint32_t waitMs) const {
        return ReadDatagram(data_.Get(), waitMs);
    }
    std::optional<std::vector<uint8_t>> ReadAck(uint32_t waitMs) const {
        return ReadDatagram(ack_.Get(), waitMs);
    }
    // Every data packet that arrives within waitMs of the previous one.
    std::vector<ZTPACKET> ReadPackets(uint32_t waitMs) const;

  private:
    uint16_t key_;
    uint16_t counters_[2] = {kFirstSeq, kFirstSeq};
    SocketHandle data_, ack_;
};

// A packet read off a socket (exactly 1024 bytes expected).
ZTPACKET AsPacket(const std::vector<uint8_t>& bytes);
PACKETRETURN AsAck(const std::vector<uint8_t>& bytes);

}  // namespace velmora::enginetest

#include "enginetestkit.h"

#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <random>

#include "transport/messagecutter.h"

namespace velmora::enginetest {

bool OpenOnFreePorts(ZTSERVER& engine) {
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> pick(20000, 60000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(pick(rng));
        const int32_t r = engine.Open("127.0.0.1", port, 300000, 300000);
        if (r == ZTSERVER::kOpened) return true;
        if (r != ZTSERVER::kBindFailed) return false;
    }
    return false;
}

EngineSettings ManualSettings() {
    EngineSettings s;
    s.startManagerThreads = false;
    s.disconnectWaitMs = 50;
    s.connectWithoutThreadSleepMs = 0;
    s.threadWaitMs = 5;
    return s;
}

std::optional<std::vector<uint8_t>> ReadDatagram(int socket, uint32_t waitMs) {
    pollfd pfd{socket, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(waitMs)) <= 0) return std::nullopt;
    std::vector<uint8_t> bytes(2048);
    const ssize_t n = recv(socket, bytes.data(), bytes.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
}

bool RawPeer::Open() {
    data_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
    ack_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
    return data_.Valid() && ack_.Valid() && SetReceiveBuffer(data_.Get(), 1 << 20, kPacketSize);
}

std::vector<ZTPACKET> RawPeer::Cut(uint8_t channel, const void* data, uint32_t length,
                                   uint8_t noAck) {
    PacketOrigin origin;
    origin.connectionKey = key_;
    origin.ackPortRaw = AckPortRaw();
    origin.senderAddressRaw = LoopbackAddressRaw();
    MessageCutter cutter(static_cast<const uint8_t*>(data), length, channel, noAck, origin);
    std::vector<ZTPACKET> packets;
    while (const uint32_t n = cutter.NextFramePackets()) {
        const size_t first = packets.size();
        packets.resize(first + n);
        (void)cutter.WriteFrame(&packets[first], counters_[channel & 1], 1);
    }
    return packets;
}

ZTPACKET RawPeer::Connect(int32_t connectionType) {
    uint8_t id[kPeerIdSize];
    for (size_t i = 0; i < kPeerIdSize; ++i) id[i] = static_cast<uint8_t>(key_ + i);
    const CONTROL_CONNECT connect = MakeConnect(connectionType, id);
    return Cut(kControlChannel, &connect, sizeof(connect)).front();
}

ZTPACKET RawPeer::Control(std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> message(bytes);
    return Cut(kControlChannel, message.data(), static_cast<uint32_t>(message.size())).front();
}

PACKETRECEIVED RawPeer::Entry(const ZTPACKET& packet) const {
    PACKETRECEIVED entry{};
    const uint32_t address = LoopbackAddressRaw();
    std::memcpy(entry.sourceAddressBytes, &address, sizeof(address));
    entry.sourceAddress.setRaw(address);
    entry.sourcePort.setRaw(DataPortRaw());
    entry.packet = packet;
    return entry;
}

bool RawPeer::SendTo(uint16_t portRaw, const void* data, size_t length) const {
    ZTUDP udp;
    return udp.SendTo(data_.Get(), LoopbackAddressRaw(), portRaw, 100, data, length) ==
           static_cast<int32_t>(length);
}

std::vector<ZTPACKET> RawPeer::ReadPackets(uint32_t waitMs) const {
    std::vector<ZTPACKET> packets;
    while (auto bytes = ReadData(waitMs))
        if (bytes->size() == kPacketSize) packets.push_back(AsPacket(*bytes));
    return packets;
}

ZTPACKET AsPacket(const std::vector<uint8_t>& bytes) {
    ZTPACKET packet{};
    std::memcpy(&packet, bytes.data(), std::min(bytes.size(), sizeof(packet)));
    return packet;
}

PACKETRETURN AsAck(const std::vector<uint8_t>& bytes) {
    PACKETRETURN record{};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(record)));
    return record;
}

}  // namespace velmora::enginetest

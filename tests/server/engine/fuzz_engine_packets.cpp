// Random packets of a few peers into the router of a fresh engine, mixed
// with host-manager passes and HostReceive calls with random buffer sizes,
// as the input says. The sanitizers watch every copy; the checks below catch
// a HostReceive that answers more than its buffer holds and records that end
// up in a state that does not exist.
//
// Every packet is sent back to one local socket: the source of each entry and
// the address and ackPort inside each packet are forced to it, so nothing the
// engine answers leaves the machine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztpacketrouter.h"

namespace velmora {
namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    void Bytes(void* out, size_t n) {
        auto* o = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i) o[i] = U8();
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

ZTPACKET PacketFrom(Input& in, uint32_t address, uint16_t sinkPort) {
    ZTPACKET p{};
    // A header from the input, with the key among a few peers and mostly
    // plausible sequence numbers, so that frames do get assembled.
    p.seq = static_cast<uint16_t>(0xFFFF + (in.U8() % 8));
    p.framePackets = static_cast<uint8_t>(in.U8() % 4);
    p.frameSeq = static_cast<uint16_t>(p.seq.get() - (in.U8() % 3));
    p.messageLength = static_cast<int32_t>(in.U16()) - 100;
    p.dataLength = static_cast<uint16_t>(in.U16() % 1100);
    p.channel = static_cast<uint8_t>(in.U8() % 3);
    p.connectionKey = static_cast<uint16_t>(in.U8() % 4);
    p.noAck = static_cast<uint8_t>(in.U8() % 2);
    p.ackPort.setRaw(sinkPort);
    p.senderAddress.setRaw(address);
    const size_t n = in.U8() % 24;
    in.Bytes(p.data, n);
    return p;
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    static enginetest::RawPeer sink(0);
    static const bool sinkOpen = sink.Open();
    if (!sinkOpen) return 0;

    EngineSettings settings = enginetest::ManualSettings();
    settings.disconnectWaitMs = 0;
    settings.receiveQueueCapacity = 16;  // the router is driven directly
    auto engine = std::make_unique<ZTSERVER>(2, 2, settings);
    if (!enginetest::OpenOnFreePorts(*engine)) return 0;
    const uint32_t address = LoopbackAddressRaw();
    std::vector<uint8_t> buffer;

    Input in(data, size);
    while (!in.Empty()) {
        const uint8_t op = in.U8() % 8;
        if (op < 6) {
            PACKETRECEIVED entry = sink.Entry(PacketFrom(in, address, sink.AckPortRaw()));
            engine->Router()->Route(entry);
        } else if (op == 6) {
            for (uint32_t i = 0; ZTHOSTS* m = engine->Manager(i); ++i) m->Pass(Tick());
        } else {
            const uint32_t capacity = in.U16();
            buffer.assign(capacity, 0);
            for (int32_t i = 0; i < engine->TableSize(); ++i) {
                ZTHOSTLIST& host = engine->Host(i);
                const int32_t state = host.State();
                Check(state == hsConnected || state == hsFree || state == hsDropping ||
                      state == hsConnecting);
                if (state != hsConnected) continue;
                const int32_t r = engine->HostReceive(host, buffer.data(), capacity, 0);
                Check(r <= static_cast<int32_t>(capacity));
            }
        }
    }
    // Drain what came back so the socket never fills.
    while (sink.ReadData(0)) {
    }
    while (sink.ReadAck(0)) {
    }
    return 0;
}

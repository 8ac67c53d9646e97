// Drives random datagrams into the receiving side (receive loop checks,
// in-list, delivery, message rebuilding) and the acknowledgement path
// (acknowledgement receiver, applying records to a sender with frames
// pending), mixed with sender passes, queued messages and resets.
//
// Besides the sanitizers, it checks what must hold for any input: the packets
// handed on per channel have consecutive seqs from 0xFFFF, a rebuilt message
// is never longer than announced, and every packet the sender transmits lies
// inside its frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/ackreceiver.h"
#include "transport/framesender.h"
#include "transport/messageassembler.h"
#include "transport/packetreceiver.h"
#include "transport/ztpacket_inlist.h"

namespace velmora {
namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16() | static_cast<uint32_t>(U16()) << 16); }
    // Up to n bytes of the input (fewer at its end).
    size_t Take(uint8_t* out, size_t n) {
        const size_t k = n < size_ - pos_ ? n : size_ - pos_;
        std::memcpy(out, data_ + pos_, k);
        pos_ += k;
        return k;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void Check(bool ok) {
    if (!ok) std::abort();
}

// Checks every packet a sender transmits.
class CheckingSink : public DatagramSink {
  public:
    int32_t Send(const void* data, size_t length) override {
        Check(length == kPacketSize);
        ZTPACKET p;
        std::memcpy(&p, data, sizeof(p));
        Check(p.framePackets >= 1 && p.framePackets <= kMaxFramePackets);
        Check(PacketIndex(p.seq.get(), p.frameSeq.get()) < p.framePackets);
        Check(p.dataLength.get() <= kPacketDataSize);
        return static_cast<int32_t>(length);
    }
};

struct Receiver {
    ZTPACKET_INLIST inList[2];
    ZTPACKET_COMPLETELIST complete[2];
    MessageAssembler assembler[2];
    std::vector<uint8_t> message[2];
    uint16_t nextSeq[2] = {kFirstSeq, kFirstSeq};

    void Reset() {
        for (int c = 0; c < 2; ++c) {
            inList[c].Reset();
            complete[c].Clear();
            assembler[c].Reset();
            nextSeq[c] = kFirstSeq;
        }
    }

    void Take(const ZTPACKET& p) {
        if (p.channel > kControlChannel) return;  // the router drops other channels
        const uint8_t c = p.channel;
        (void)inList[c].AddPacket(p, complete[c]);
        while (inList[c].DeliverNext(complete[c])) {
        }
        while (auto packet = complete[c].Get()) {
            if (packet->noAck == 0) {
                Check(packet->seq.get() == nextSeq[c]);
                nextSeq[c] = static_cast<uint16_t>(nextSeq[c] + 1);
            }
            const auto r = assembler[c].Add(*packet, message[c], 1 << 20);
            if (r == MessageAssembler::kComplete) Check(message[c].size() == assembler[c].Length());
        }
    }
};

// A packet near the receiver's window, from a few input bytes.
ZTPACKET CraftPacket(Input& in, const Receiver& rx) {
    ZTPACKET p{};
    const uint8_t flags = in.U8();
    p.channel = flags & 1;
    if ((flags & 0x80) != 0) p.channel = in.U8();
    p.noAck = (flags & 2) ? 1 : 0;
    const uint16_t base = rx.inList[p.channel & 1].ExpectedSeq();
    p.frameSeq = static_cast<uint16_t>(base + static_cast<int8_t>(in.U8()));
    p.framePackets = static_cast<uint8_t>(in.U8() % 70);
    p.seq = static_cast<uint16_t>(p.frameSeq.get() + in.U8() % 70);
    p.dataLength = (flags & 4) ? in.U16() : static_cast<uint16_t>(in.U16() % 998);
    p.messageLength = (flags & 8) ? static_cast<int32_t>(in.U32()) : in.U16() % 200000;
    p.connectionKey = 1;
    p.data[0] = in.U8();
    return p;
}

PACKETRETURN CraftAck(Input& in, FrameSender& sender) {
    PACKETRETURN r{};
    const uint8_t flags = in.U8();
    r.channel = flags & 1;
    r.connectionKey = (flags & 2) ? in.U16() : 1;
    const uint16_t counter = sender.Counter(r.channel);
    r.frameSeq = static_cast<uint16_t>(counter - in.U8());
    r.state = (flags & 4) ? static_cast<int32_t>(in.U32()) : in.U8() % 6;
    r.framePackets = in.U8();
    r.sendTick = in.U32();
    in.Take(r.received, sizeof(r.received));
    return r;
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    Input in(data, size);
    Receiver rx;
    ZTFLATQUEUE queue(4);
    PacketReceiver packetReceiver(-1, queue);
    FrameSender sender(in.U8() & 1 ? kServerSenderParams : kBrokerSenderParams);
    PacketOrigin origin;
    origin.connectionKey = 1;
    sender.SetOrigin(origin);
    sender.StartEstimate(in.U8(), 100);
    ZTACKS_LIST acks[2];
    AckReceiver ackReceiver(-1, [&](const PACKETRETURN& r) -> ZTACKS_LIST* {
        return r.connectionKey.get() == 1 ? &acks[r.channel & 1] : nullptr;
    });
    CheckingSink sink;
    uint32_t now = in.U32();
    static uint8_t payload[70000];

    while (!in.Empty()) {
        switch (in.U8() % 8) {
            case 0:
            case 1:
                rx.Take(CraftPacket(in, rx));
                break;
            case 2: {  // a raw datagram through the receive loop's checks
                uint8_t raw[1100] = {};
                const size_t length = in.U8() < 200 ? kPacketSize : in.U16() % sizeof(raw);
                in.Take(raw, length);
                (void)packetReceiver.HandleDatagram(raw, length, 0x0100007F, 0x3412);
                PACKETRECEIVED entry;
                while (queue.Pop(entry) > 0) rx.Take(entry.packet);
                break;
            }
            case 3: {  // a raw acknowledgement datagram of any length
                uint8_t raw[64] = {};
                const size_t length = in.U8() % sizeof(raw);
                in.Take(raw, length);
                (void)ackReceiver.HandleDatagram(raw, length);
                break;
            }
            case 4: {  // a record about a frame that may be pending
                const PACKETRETURN r = CraftAck(in, sender);
                (void)ackReceiver.HandleDatagram(reinterpret_cast<const uint8_t*>(&r), sizeof(r));
                break;
            }
            case 5: {
                const uint8_t flags = in.U8();
                const uint32_t length = (flags & 2) ? in.U8() : in.U16();
                (void)sender.Queue(flags & 1, (flags & 4) ? 1 : 0, payload, length, now);
                break;
            }
            case 6:
                now += in.U8() * 7u;
                sender.SenderPass(now, sink);
                sender.ApplyAcknowledgements(kControlChannel, acks[1], now);
                sender.ApplyAcknowledgements(kDataChannel, acks[0], now);
                break;
            case 7:
                if (in.U8() == 0x5A) rx.Reset();
                break;
        }
    }
    return 0;
}

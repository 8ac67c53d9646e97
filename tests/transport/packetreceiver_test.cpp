#include "transport/packetreceiver.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <vector>

#include "transport/ztudp.h"

namespace velmora {
namespace {

class FixedClock : public Clock {
  public:
    uint32_t Now() const override { return 777; }
};

class PacketReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
        peer_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
        ASSERT_TRUE(data_.Valid() && peer_.Valid());
    }

    void SendRaw(size_t length, uint8_t fill) {
        std::vector<uint8_t> d(length, fill);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = LoopbackAddressRaw();
        to.sin_port = BoundPortRaw(data_.Get());
        ASSERT_EQ(sendto(peer_.Get(), d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof(to)),
                  static_cast<ssize_t>(length));
    }

    // Reads until `count` datagrams were handled (loopback delivers at once;
    // the bound only keeps a broken receiver from hanging the test).
    void Drain(PacketReceiver& receiver, int count) {
        int handled = 0;
        for (int i = 0; i < 2000 && handled < count; ++i) handled += receiver.ReceiveOnce(5);
        ASSERT_EQ(handled, count);
    }

    SocketHandle data_, peer_;
    FixedClock clock_;
};

TEST_F(PacketReceiverTest, QueuesExactly1024ByteDatagramsAndCountsEveryOtherLength) {
    ZTFLATQUEUE queue(16);
    std::vector<uint8_t> seen;
    PacketReceiver::Hooks hooks;
    hooks.rawPacket = [&](const ZTPACKET& p) { seen.push_back(p.data[0]); };
    PacketReceiver receiver(data_.Get(), queue, hooks, clock_);

    SendRaw(1023, 1);
    SendRaw(1024, 2);
    SendRaw(1025, 3);  // must not pass for a packet cut to 1024 bytes
    SendRaw(0, 4);
    SendRaw(4000, 5);
    SendRaw(1024, 6);
    Drain(receiver, 6);

    EXPECT_EQ(receiver.Counters().badLength.load(), 4u);
    EXPECT_EQ(receiver.Counters().queued.load(), 2u);
    EXPECT_EQ(seen, (std::vector<uint8_t>{2, 6}));

    PACKETRECEIVED e{};
    ASSERT_EQ(queue.Pop(e), 2);
    EXPECT_EQ(e.packet.data[0], 2);
    EXPECT_EQ(e.packet.seq.get(), 0x0202);
    EXPECT_EQ(e.sourceAddress.raw(), LoopbackAddressRaw());
    EXPECT_EQ(e.sourceAddressBytes[0], 127);
    EXPECT_EQ(e.sourceAddressBytes[3], 1);
    EXPECT_EQ(e.sourcePort.raw(), BoundPortRaw(peer_.Get()));
    EXPECT_EQ(e.receiveTick.get(), 777u);
    ASSERT_EQ(queue.Pop(e), 1);
    EXPECT_EQ(e.packet.data[kPacketDataSize - 1], 6);
}

TEST_F(PacketReceiverTest, FullQueueDropsAndCountsButStillCallsTheRawHook) {
    ZTFLATQUEUE queue(1);
    int raw = 0;
    std::vector<uint32_t> overflowReports;
    PacketReceiver::Hooks hooks;
    hooks.rawPacket = [&](const ZTPACKET&) { ++raw; };
    hooks.overflow = [&](uint32_t n) { overflowReports.push_back(n); };
    PacketReceiver receiver(data_.Get(), queue, hooks, clock_);

    for (uint8_t i = 1; i <= 3; ++i) SendRaw(1024, i);
    Drain(receiver, 3);

    EXPECT_EQ(receiver.Counters().overflows.load(), 2u);
    EXPECT_EQ(overflowReports, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(raw, 3);
    PACKETRECEIVED e{};
    ASSERT_EQ(queue.Pop(e), 1);
    EXPECT_EQ(e.packet.data[0], 1) << "the queued packet is the first; later ones were dropped";
}

TEST_F(PacketReceiverTest, HookThatThrowsDoesNotEndTheLoop) {
    ZTFLATQUEUE queue(4);
    PacketReceiver::Hooks hooks;
    hooks.rawPacket = [](const ZTPACKET&) { throw 1; };
    PacketReceiver receiver(data_.Get(), queue, hooks, clock_);
    SendRaw(1024, 1);
    SendRaw(1024, 2);
    Drain(receiver, 2);
    EXPECT_EQ(queue.Count(), 2u);
}

}  // namespace
}  // namespace velmora

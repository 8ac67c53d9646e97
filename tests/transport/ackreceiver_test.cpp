#include "transport/ackreceiver.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "transport/ztudp.h"

namespace velmora {
namespace {

class AckReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ackSocket_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
        peer_ = SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), 0));
        ASSERT_TRUE(ackSocket_.Valid() && peer_.Valid());
    }

    void SendRaw(const void* data, size_t length) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = LoopbackAddressRaw();
        to.sin_port = BoundPortRaw(ackSocket_.Get());
        ASSERT_EQ(
            sendto(peer_.Get(), data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)),
            static_cast<ssize_t>(length));
    }

    // Lists of a broker-like table: the key picks the connection, the
    // channel picks its list.
    ZTACKS_LIST* Lookup(const PACKETRETURN& r) {
        if (r.connectionKey.get() != 4) return nullptr;
        return r.channel == kControlChannel ? &control_ : &data_;
    }

    SocketHandle ackSocket_, peer_;
    ZTACKS_LIST data_, control_;
};

TEST_F(AckReceiverTest, Files28ByteRecordsByConnectionAndChannelAndDropsEverythingElse) {
    int wakeups = 0;
    AckReceiver receiver(
        ackSocket_.Get(), [this](const PACKETRETURN& r) { return Lookup(r); }, [&] { ++wakeups; });

    PACKETRETURN record{};
    record.connectionKey = 4;
    record.frameSeq = 0x1234;
    record.state = FRAME_DELIVERED;
    PACKETRETURN control = record;
    control.channel = kControlChannel;
    PACKETRETURN stranger = record;
    stranger.connectionKey = 5;
    std::vector<uint8_t> junk(1024, 0xAB);

    SendRaw(junk.data(), 27);
    SendRaw(&record, sizeof(record));
    SendRaw(junk.data(), 29);  // must not pass for a record cut to 28 bytes
    SendRaw(junk.data(), 0);
    SendRaw(&stranger, sizeof(stranger));
    SendRaw(junk.data(), 1024);
    SendRaw(&control, sizeof(control));
    int handled = 0;
    for (int i = 0; i < 2000 && handled < 7; ++i) {
        const int32_t n = receiver.ReceiveOnce(5);
        ASSERT_NE(n, AckReceiver::kFatal) << "bad datagrams never end the loop";
        handled += n;
    }
    ASSERT_EQ(handled, 7);

    EXPECT_EQ(receiver.Counters().badLength.load(), 4u);
    EXPECT_EQ(receiver.Counters().unknown.load(), 1u);
    EXPECT_EQ(receiver.Counters().added.load(), 2u);
    EXPECT_EQ(wakeups, 2);
    ASSERT_EQ(data_.Count(), 1);
    ASSERT_EQ(control_.Count(), 1);
    const PACKETRETURN got = *data_.Get();
    EXPECT_EQ(std::memcmp(&got, &record, sizeof(record)), 0);
    EXPECT_EQ(control_.Get()->channel, kControlChannel);
}

TEST_F(AckReceiverTest, FullListDropsTheRecordAndCountsIt) {
    AckReceiver receiver(ackSocket_.Get(), [this](const PACKETRETURN& r) { return Lookup(r); });
    PACKETRETURN record{};
    record.connectionKey = 4;
    for (int32_t i = 0; i < ZTACKS_LIST::kLimit; ++i) ASSERT_GT(data_.Add(record), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    EXPECT_EQ(receiver.HandleDatagram(bytes, sizeof(record)), AckReceiver::kListFull);
    EXPECT_EQ(receiver.Counters().dropped.load(), 1u);
    EXPECT_EQ(data_.Count(), ZTACKS_LIST::kLimit);
    ASSERT_TRUE(data_.Get().has_value());
    EXPECT_EQ(receiver.HandleDatagram(bytes, sizeof(record)), AckReceiver::kAdded);
}

}  // namespace
}  // namespace velmora

// HostSend and HostReceive on a connected record, with the router and the
// host manager driven step by step.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztpacketrouter.h"
#include "support/messagepattern.h"

namespace velmora {
namespace {

using enginetest::RawPeer;

class HostIoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine = std::make_unique<ZTSERVER>(1, 2, enginetest::ManualSettings());
        ASSERT_TRUE(enginetest::OpenOnFreePorts(*engine));
        ASSERT_TRUE(peer.Open());
        Route(peer.Connect());
        Pass();
        host = engine->FindHost(LoopbackAddressRaw(), peer.Key());
        ASSERT_NE(host, nullptr);
        ASSERT_EQ(host->State(), hsConnected);
    }
    void Route(const ZTPACKET& packet) { engine->Router()->Route(peer.Entry(packet)); }
    void RouteAll(const std::vector<ZTPACKET>& packets, size_t from = 0, size_t to = SIZE_MAX) {
        for (size_t i = from; i < packets.size() && i < to; ++i) Route(packets[i]);
    }
    void Pass() { engine->Manager(0)->Pass(Tick()); }
    std::vector<uint8_t> Message(uint32_t index, uint32_t size) {
        std::vector<uint8_t> m;
        MessagePattern(77, size).Fill(index, m);
        m.resize(size, 0x5A);
        return m;
    }

    std::unique_ptr<ZTSERVER> engine;
    RawPeer peer{9};
    ZTHOSTLIST* host = nullptr;
};

TEST_F(HostIoTest, SendOfZeroBytesQueuesOneEmptyPacket) {
    EXPECT_EQ(engine->HostSend(*host, kDataChannel, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(host->sender->InFlight(), 1u);
    Pass();
    const auto packets = peer.ReadPackets(200);
    ASSERT_EQ(packets.size(), 1u);
    const ZTPACKET& p = packets[0];
    EXPECT_EQ(p.dataLength.get(), 0);
    EXPECT_EQ(p.messageLength.get(), 0);
    EXPECT_EQ(p.seq.get(), kFirstSeq);
    EXPECT_EQ(p.channel, kDataChannel);
    EXPECT_EQ(p.connectionKey.get(), peer.Key());
    EXPECT_EQ(p.ackPort.raw(), 0);
    EXPECT_EQ(p.senderAddress.raw(), engine->LocalAddressRaw());
}

TEST_F(HostIoTest, DataChannelIsRefusedAbove100FramesInFlightWhileControlQueues) {
    const uint8_t byte = 1;
    for (int i = 0; i < 101; ++i)
        ASSERT_EQ(engine->HostSend(*host, kDataChannel, 0, &byte, 1, 0), 1) << i;
    EXPECT_EQ(engine->HostSend(*host, kDataChannel, 0, &byte, 1, 0), 0);
    EXPECT_EQ(host->sender->InFlight(), 101u);
    const CONTROL_LIFECHECK probe = MakeLifeCheck();
    EXPECT_EQ(engine->HostSend(*host, kControlChannel, 0, &probe, 1, 0), 1);
    EXPECT_EQ(host->sender->InFlight(), 102u);
}

TEST_F(HostIoTest, ReceiveRebuildsAMessageAndCounts997PerPacket) {
    const auto message = Message(0, 2000);
    const auto packets = peer.Cut(kDataChannel, message.data(), 2000);
    ASSERT_EQ(packets.size(), 3u);
    RouteAll(packets);
    std::vector<uint8_t> buffer(4096);
    ASSERT_EQ(engine->HostReceive(*host, buffer.data(), 4096, 0), 2000);
    EXPECT_EQ(std::memcmp(buffer.data(), message.data(), 2000), 0);
    EXPECT_EQ(host->bytesReceived.load(), 3u * 997u);
}

TEST_F(HostIoTest, MessageLongerThanTheBufferIsDrainedWholeAndNeverWrittenPastIt) {
    const auto big = Message(1, 3000);
    const auto small = Message(2, 10);
    RouteAll(peer.Cut(kDataChannel, big.data(), 3000));
    RouteAll(peer.Cut(kDataChannel, small.data(), 10));
    // The guard bytes after the capacity must come through untouched (the
    // address sanitizer watches the end of the vector as well).
    std::vector<uint8_t> buffer(1000 + 16, 0xEE);
    EXPECT_EQ(engine->HostReceive(*host, buffer.data(), 1000, 0), ZTSERVER::kMessageTooLong);
    for (size_t i = 1000; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
    ASSERT_EQ(engine->HostReceive(*host, buffer.data(), 1000, 0), 10);
    EXPECT_EQ(std::memcmp(buffer.data(), small.data(), 10), 0);
}

TEST_F(HostIoTest, LengthsThatDoNotAddUpAreRefusedAndTheHostIsDisconnected) {
    const auto message = Message(3, 5);
    auto packets = peer.Cut(kDataChannel, message.data(), 5);
    packets[0].dataLength = 900;  // more than the 5 bytes announced
    RouteAll(packets);
    std::vector<uint8_t> buffer(5);
    EXPECT_EQ(engine->HostReceive(*host, buffer.data(), 5, 0), ZTSERVER::kLengthMismatch);
    Pass();
    bool disconnectSent = false;
    for (const ZTPACKET& p : peer.ReadPackets(200)) {
        ControlMessage m;
        if (p.channel == kControlChannel && ReadControlPacket(p, m) == cmOk &&
            m.code == ccDisconnect)
            disconnectSent = m.reason == drLengthMismatch;
    }
    EXPECT_TRUE(disconnectSent);
}

TEST_F(HostIoTest, MessageInterruptedByATimeOutOrANoAckPacketGoesOnInTheNextCall) {
    const uint32_t size = 64 * 997 + 10;  // two frames
    const auto message = Message(4, size);
    const auto packets = peer.Cut(kDataChannel, message.data(), size);
    ASSERT_EQ(packets.size(), 65u);
    RouteAll(packets, 0, 64);

    std::vector<uint8_t> first(size), second(size);
    EXPECT_EQ(engine->HostReceive(*host, first.data(), size, 20), 0);  // the gap ran out

    const uint8_t urgent[] = {0xAB, 0xCD};
    Route(peer.Cut(kDataChannel, urgent, 2, 1).front());
    ASSERT_EQ(engine->HostReceive(*host, second.data(), size, 0), 2);
    EXPECT_EQ(second[0], 0xAB);

    RouteAll(packets, 64);
    ASSERT_EQ(engine->HostReceive(*host, second.data(), size, 0), static_cast<int32_t>(size));
    EXPECT_EQ(second, message);
}

TEST_F(HostIoTest, ReceiveAnswersHostGoneWhenTheHostIsDroppedWhileWaiting) {
    auto waiting = std::async(std::launch::async, [&] {
        uint8_t buffer[16];
        return engine->HostReceive(*host, buffer, sizeof(buffer), 60000);
    });
    Route(peer.Control({ccDisconnect, 0, 0, 0, 0}));
    EXPECT_EQ(waiting.get(), ZTSERVER::kHostGone);
    EXPECT_EQ(engine->HostSend(*host, kDataChannel, 0, "x", 1, 0), ZTSERVER::kHostGone);
}

}  // namespace
}  // namespace velmora

// The router, driven entry by entry on an engine whose host managers run
// only when the test calls their pass, so every state in between is seen.
#include "server/engine/ztpacketrouter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/zthosts.h"

namespace velmora {
namespace {

using enginetest::AsAck;
using enginetest::AsPacket;
using enginetest::RawPeer;

class RouterTest : public ::testing::Test {
  protected:
    void MakeEngine(int32_t managers, int32_t perManager) {
        engine = std::make_unique<ZTSERVER>(managers, perManager, enginetest::ManualSettings());
        engine->callbacks.OnPacketDropped = [this](uint32_t n) { dropped += n; };
        engine->callbacks.OnHostConnect = [this](ZTHOSTLIST&) { ++connects; };
        engine->callbacks.OnHostDisconnect = [this](ZTHOSTLIST&) { ++disconnects; };
        ASSERT_TRUE(enginetest::OpenOnFreePorts(*engine));
    }
    void SetUp() override {
        MakeEngine(2, 2);
        ASSERT_TRUE(peer.Open());
    }

    void Route(const RawPeer& from, const ZTPACKET& packet) {
        engine->Router()->Route(from.Entry(packet));
    }
    void PassAll() {
        for (uint32_t i = 0; ZTHOSTS* m = engine->Manager(i); ++i) m->Pass(Tick());
    }
    ZTHOSTLIST* Find(const RawPeer& p) { return engine->FindHost(LoopbackAddressRaw(), p.Key()); }
    int InUse() {
        int n = 0;
        for (int32_t i = 0; i < engine->TableSize(); ++i) n += engine->Host(i).State() != hsFree;
        return n;
    }
    // Sends are synchronous on loopback; the short wait only guards against
    // a slow scheduler.
    bool NothingOn(const std::optional<std::vector<uint8_t>>& d) { return !d.has_value(); }

    std::unique_ptr<ZTSERVER> engine;
    RawPeer peer{5};
    int dropped = 0, connects = 0, disconnects = 0;
};

TEST_F(RouterTest, ConnectTakesARecordAndAManagerAndCompletesOnTheManagersPass) {
    Route(peer, peer.Connect(ctViewerSession));
    ZTHOSTLIST* host = Find(peer);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->State(), hsConnecting);
    EXPECT_EQ(engine->ManagerCount(), 1u);
    EXPECT_EQ(engine->Manager(0)->Count(), 1u);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(host->port, peer.DataPortRaw());
    EXPECT_EQ(host->ackPort, peer.AckPortRaw());

    const auto ack = peer.ReadAck(1000);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(AsAck(*ack).state.get(), FRAME_DELIVERED);
    EXPECT_EQ(AsAck(*ack).frameSeq.get(), kFirstSeq);

    PassAll();
    EXPECT_EQ(host->State(), hsConnected);
    EXPECT_EQ(host->connectionType, ctViewerSession);
    EXPECT_EQ(host->peerId[0], peer.Key());
}

TEST_F(RouterTest, SecondCopyOfAConnectWhileConnectingIsDroppedWithoutAnswer) {
    const ZTPACKET connect = peer.Connect();
    Route(peer, connect);
    ASSERT_TRUE(peer.ReadAck(1000).has_value());
    Route(peer, connect);
    EXPECT_TRUE(NothingOn(peer.ReadAck(50)));
    EXPECT_TRUE(NothingOn(peer.ReadData(0)));
    EXPECT_EQ(InUse(), 1);
    EXPECT_EQ(connects, 1);
}

TEST_F(RouterTest, ConnectCopyAfterCompletionReplacesTheRecord) {
    const ZTPACKET connect = peer.Connect();
    Route(peer, connect);
    PassAll();
    ZTHOSTLIST* old = Find(peer);
    ASSERT_EQ(old->State(), hsConnected);

    Route(peer, connect);
    EXPECT_EQ(old->State(), hsDropping);
    EXPECT_EQ(InUse(), 2);
    PassAll();  // releases the old record, completes the new one
    EXPECT_EQ(old->State(), hsFree);
    EXPECT_EQ(disconnects, 1);
    ZTHOSTLIST* fresh = Find(peer);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->State(), hsConnected);
}

TEST_F(RouterTest, DisconnectMarksTheRecordOnceAndItsManagerReleasesIt) {
    Route(peer, peer.Connect());
    PassAll();
    ZTHOSTLIST* host = Find(peer);
    ASSERT_TRUE(peer.ReadAck(1000).has_value());

    const ZTPACKET disconnect = peer.Control({ccDisconnect, 0, 0, 0, 0});
    Route(peer, disconnect);
    EXPECT_EQ(host->State(), hsDropping);
    EXPECT_TRUE(peer.ReadAck(1000).has_value());
    Route(peer, disconnect);  // a copy for a record being dropped: no answer
    EXPECT_TRUE(NothingOn(peer.ReadAck(50)));

    PassAll();
    EXPECT_EQ(host->State(), hsFree);
    EXPECT_EQ(host->Allocation(), haKept);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(engine->Manager(0)->Count(), 0u);
    EXPECT_EQ(engine->ManagerCount(), 1u);  // managers stay until shut-down
}

TEST_F(RouterTest, EveryManagerFullRefusesTheConnectWithItsOwnPacket) {
    MakeEngine(1, 1);
    Route(peer, peer.Connect());
    RawPeer other(6);
    ASSERT_TRUE(other.Open());
    const ZTPACKET connect = other.Connect();
    Route(other, connect);

    const auto reply = other.ReadData(1000);
    ASSERT_TRUE(reply.has_value());
    ZTPACKET expected = connect;
    expected.channel = kControlChannel;
    expected.noAck = 1;
    expected.data[0] = ccRefused;
    ASSERT_EQ(reply->size(), kPacketSize);
    EXPECT_EQ(std::memcmp(reply->data(), &expected, kPacketSize), 0);
    EXPECT_EQ(Find(other), nullptr);
    EXPECT_EQ(engine->ManagerCount(), 1u);
}

TEST_F(RouterTest, DataForAConnectingRecordIsCountedAsDroppedAndNotAnswered) {
    Route(peer, peer.Connect());
    ASSERT_TRUE(peer.ReadAck(1000).has_value());
    int seen = 0;
    engine->callbacks.OnPacket = [&](ZTHOSTLIST&, const ZTPACKET&) { ++seen; };
    const uint8_t data[] = {1, 2, 3};
    Route(peer, peer.Cut(kDataChannel, data, sizeof(data)).front());
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(dropped, 1);
    EXPECT_TRUE(NothingOn(peer.ReadAck(50)));
    EXPECT_EQ(Find(peer)->dataCompleteList->Count(), 0u);
}

TEST_F(RouterTest, PacketsOfUnknownPeersAreRefusedOnceEachAndChangeNothing) {
    const uint8_t data[] = {9, 9};
    ZTPACKET otherChannel = peer.Cut(kDataChannel, data, sizeof(data)).front();
    otherChannel.channel = 2;
    struct Case {
        const char* what;
        ZTPACKET packet;
    };
    const Case cases[] = {
        {"data", peer.Cut(kDataChannel, data, sizeof(data)).front()},
        {"echo", peer.Control({ccEcho, 1, 2})},
        {"disconnect", peer.Control({ccDisconnect, 0, 0, 0, 0})},
        {"connect shorter than its payload", peer.Control({ccConnect, 4, 0})},
        {"channel 2", otherChannel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Route(peer, c.packet);
        const auto reply = peer.ReadData(1000);
        ASSERT_TRUE(reply.has_value());
        EXPECT_TRUE(IsRefusal(AsPacket(*reply)));
        EXPECT_TRUE(NothingOn(peer.ReadData(0)));
    }
    EXPECT_EQ(InUse(), 0);
    EXPECT_EQ(engine->ManagerCount(), 0u);
    EXPECT_TRUE(NothingOn(peer.ReadAck(0)));
}

TEST_F(RouterTest, OtherChannelOfAKnownConnectionIsCountedAsDropped) {
    Route(peer, peer.Connect());
    PassAll();
    const uint8_t data[] = {1};
    ZTPACKET packet = peer.Cut(kDataChannel, data, sizeof(data)).front();
    packet.channel = 2;
    Route(peer, packet);
    EXPECT_EQ(dropped, 1);
    EXPECT_TRUE(NothingOn(peer.ReadData(50)));
}

TEST_F(RouterTest, ConnectStormBeyondTheTableIsRefusedWithoutHarm) {
    MakeEngine(100, 4);
    int refused = 0;
    for (uint16_t key = 1; key <= 450; ++key) {
        RawPeer one(key);
        ASSERT_TRUE(one.Open());
        Route(one, one.Connect());
        if (const auto reply = one.ReadData(key > 400 ? 1000 : 0))
            refused += IsRefusal(AsPacket(*reply)) ? 1 : 0;
    }
    EXPECT_EQ(refused, 50);
    EXPECT_EQ(InUse(), 400);
    EXPECT_EQ(engine->ManagerCount(), 100u);
    PassAll();
    for (int32_t i = 0; i < engine->TableSize(); ++i)
        ASSERT_EQ(engine->Host(i).State(), hsConnected) << i;
    EXPECT_EQ(engine->FindHost(LoopbackAddressRaw(), 401), nullptr);
}

}  // namespace
}  // namespace velmora

// The host manager's per-record work: control messages, flow control and the
// life check.
#include "server/engine/zthosts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/ztpacketrouter.h"
#include "support/brokerpeer.h"

namespace velmora {
namespace {

using enginetest::AsAck;
using enginetest::RawPeer;

class ManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine = std::make_unique<ZTSERVER>(1, 1, enginetest::ManualSettings());
        ASSERT_TRUE(enginetest::OpenOnFreePorts(*engine));
        ASSERT_TRUE(peer.Open());
        Route(peer.Connect());
        Pass();
        host = engine->FindHost(LoopbackAddressRaw(), peer.Key());
        ASSERT_NE(host, nullptr);
        ASSERT_EQ(host->State(), hsConnected);
    }
    void Route(const ZTPACKET& packet) { engine->Router()->Route(peer.Entry(packet)); }
    void Pass() { engine->Manager(0)->Pass(Tick()); }
    // The control messages the engine sent since the last call, one per
    // frame (nobody acknowledges them here, so a frame sent again after its
    // time-out counts once, whenever it comes).
    std::vector<std::vector<uint8_t>> ControlMessagesSent() {
        std::vector<std::vector<uint8_t>> messages;
        for (const ZTPACKET& p : peer.ReadPackets(100)) {
            if (p.channel != kControlChannel || !framesSeen.insert(p.frameSeq.get()).second)
                continue;
            messages.emplace_back(p.data, p.data + PacketPayloadLength(p));
        }
        return messages;
    }

    std::unique_ptr<ZTSERVER> engine;
    RawPeer peer{4};
    ZTHOSTLIST* host = nullptr;
    std::set<uint16_t> framesSeen;
};

TEST_F(ManagerTest, EchoRequestIsAnsweredWithItsBytesAndTheServersTick) {
    Route(peer.Control({ccEcho, 0x11, 0x22, 0x33, 0x44}));
    const uint32_t before = Tick();
    Pass();
    const uint32_t after = Tick();
    const auto packets = peer.ReadPackets(100);
    ASSERT_EQ(packets.size(), 1u);
    const ZTPACKET& reply = packets[0];
    EXPECT_EQ(reply.channel, kControlChannel);
    EXPECT_EQ(reply.noAck, 1);
    ASSERT_EQ(reply.dataLength.get(), 9);
    EXPECT_EQ(std::vector<uint8_t>(reply.data, reply.data + 5),
              (std::vector<uint8_t>{ccEcho, 0x11, 0x22, 0x33, 0x44}));
    const uint32_t tick = LoadLe<uint32_t>(reply.data + 5);
    EXPECT_LE(TickDiff(tick, before), TickDiff(after, before));
    EXPECT_EQ(host->sender->InFlight(), 0u);  // a noAck reply is gone once sent
}

TEST_F(ManagerTest, PauseAndResumeAreSentOnceEachAroundTheThreshold) {
    // 501 one-packet messages fill the complete list past the in-list's busy
    // limit; the next new frame is refused busy.
    const uint8_t byte = 7;
    for (int i = 0; i < 502; ++i) Route(peer.Cut(kDataChannel, &byte, 1).front());
    ASSERT_TRUE(host->dataInList->BusyReplied());
    Pass();
    Pass();
    std::vector<uint8_t> buffer(16);
    while (host->dataCompleteList->Count() > 250)
        ASSERT_EQ(engine->HostReceive(*host, buffer.data(), 16, 0), 1);
    Pass();  // exactly 250 waiting: no resume yet
    auto sent = ControlMessagesSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<uint8_t>{ccFlow, kFlowPause}));

    ASSERT_EQ(engine->HostReceive(*host, buffer.data(), 16, 0), 1);
    Pass();
    Pass();
    sent = ControlMessagesSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<uint8_t>{ccFlow, kFlowResume}));
}

TEST_F(ManagerTest, PeersPauseStopsTransmissionUntilItResumes) {
    Route(peer.Control({ccFlow, kFlowPause}));
    Pass();
    ASSERT_EQ(engine->HostSend(*host, kDataChannel, 0, "abc", 3, 0), 3);
    Pass();
    Pass();
    EXPECT_TRUE(peer.ReadPackets(50).empty());
    Route(peer.Control({ccFlow, kFlowResume}));
    Pass();
    const auto packets = peer.ReadPackets(100);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].dataLength.get(), 3);
}

TEST_F(ManagerTest, ShortOrUnknownControlMessagesAreIgnored) {
    Route(peer.Control({ccFlow}));      // no flow byte
    Route(peer.Control({4, 1, 2, 3}));  // a code no message uses
    Route(peer.Control({ccEcho, 1}));   // still answered: requests may be short
    for (int i = 0; i < 3; ++i) Pass();
    EXPECT_FALSE(host->sender->Paused());
    EXPECT_EQ(host->State(), hsConnected);
    const auto packets = peer.ReadPackets(100);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].data[0], ccEcho);
}

// The life check with its constants shortened: a peer that never answers is
// probed and dropped; a peer that acknowledges the probes stays.
TEST(LifeCheck, SilentPeerIsProbedAndDroppedWhileAnAnsweringOneStays) {
    EngineSettings settings;
    settings.lifeCheckIntervalMs = 100;
    settings.lifeCheckWaitMs = 1000;  // ample for the answering peer on a busy machine
    settings.threadWaitMs = 5;
    ZTSERVER engine(2, 1, settings);
    std::atomic<int> disconnects{0};
    engine.callbacks.OnHostDisconnect = [&](ZTHOSTLIST&) { ++disconnects; };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);

    RawPeer silent(1);
    ASSERT_TRUE(silent.Open());
    const ZTPACKET connect = silent.Connect();
    ASSERT_TRUE(silent.SendTo(engine.ReceivePortRaw(), &connect, sizeof(connect)));
    ASSERT_TRUE(silent.ReadAck(2000).has_value());

    BrokerPeer alive(2);
    ASSERT_TRUE(alive.Open());
    alive.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
    ASSERT_TRUE(alive.Start());
    ASSERT_EQ(alive.Connect(ctViewerSession, 2000), static_cast<int32_t>(sizeof(CONTROL_CONNECT)));

    bool probed = false;
    while (auto bytes = silent.ReadData(3000)) {
        const ZTPACKET p = enginetest::AsPacket(*bytes);
        if (p.channel == kControlChannel && p.data[0] == ccLifeCheck) {
            probed = true;
            break;
        }
    }
    EXPECT_TRUE(probed);
    // Bounded only so that a broken engine fails instead of hanging.
    for (int i = 0; i < 1000 && engine.FindHost(LoopbackAddressRaw(), 1) != nullptr; ++i)
        SleepMs(5);
    EXPECT_EQ(engine.FindHost(LoopbackAddressRaw(), 1), nullptr);
    EXPECT_EQ(disconnects.load(), 1);

    ASSERT_TRUE(alive.WaitControl(ccLifeCheck, nullptr, 3000));
    ASSERT_TRUE(alive.WaitControl(ccLifeCheck, nullptr, 3000));
    ZTHOSTLIST* kept = engine.FindHost(LoopbackAddressRaw(), 2);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->State(), hsConnected);
    alive.Stop();
    engine.Shutdown();
}

}  // namespace
}  // namespace velmora

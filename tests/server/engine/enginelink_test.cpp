// Ten broker-like peers at once, each through its own links of a relay that
// drops 5 % of everything (data packets and acknowledgements, both ways),
// duplicates and reorders some: every peer's messages come back from its
// echoing connection thread byte-exact and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/ztserverclient_thread.h"
#include "support/brokerpeer.h"
#include "support/lossyrelay.h"
#include "support/messagepattern.h"

namespace velmora {
namespace {

constexpr int kPeers = 10;
constexpr uint32_t kMessages = 150;
constexpr uint32_t kMaxSize = 30000;

// Message i of a stream; never empty, since an empty message and a
// receive time-out both answer 0.
std::vector<uint8_t> MessageOf(const MessagePattern& pattern, uint32_t i) {
    std::vector<uint8_t> m;
    pattern.Fill(i, m);
    if (m.empty()) m.push_back(static_cast<uint8_t>(i));
    return m;
}

class EchoThread : public ZTSERVERCLIENT_THREAD {
  public:
    void Execute() override {
        std::vector<uint8_t> buffer(kMaxSize);
        while (!StopRequested()) {
            const int32_t n = Engine()->HostReceive(*Host(), buffer.data(), kMaxSize, 100);
            if (n < 0) return;
            if (n == 0) continue;
            for (;;) {  // refused while 100 frames are in flight: try again
                const int32_t r = Engine()->HostSend(*Host(), kDataChannel, 0, buffer.data(),
                                                     static_cast<uint32_t>(n), 0);
                if (r == n) break;
                if (r < 0 || StopRequested()) return;
                SleepMs(1);
            }
        }
    }
};

struct EchoCheck {
    explicit EchoCheck(uint64_t stream) : pattern(stream, kMaxSize) {}
    void Take(const uint8_t* data, size_t size) {
        const uint32_t i = received.load();
        const auto want = MessageOf(pattern, i);
        if (i >= kMessages || size != want.size() || !std::equal(want.begin(), want.end(), data))
            if (firstBad.load() < 0) firstBad.store(i);
        received.store(i + 1);
    }
    MessagePattern pattern;
    std::atomic<uint32_t> received{0};
    std::atomic<int64_t> firstBad{-1};
};

TEST(EngineLink, TenPeersEchoByteExactInOrderThroughAFivePercentLossyLink) {
    EngineSettings settings;
    settings.threadWaitMs = 5;
    ZTSERVER engine(100, 4, settings);
    engine.mode = emClientThread;
    engine.callbacks.OnCreateClientThread = [](ZTHOSTLIST&, int32_t) {
        return std::make_unique<EchoThread>();
    };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);

    Impairment lossy;
    lossy.drop = 0.05;
    lossy.duplicate = 0.01;
    lossy.reorder = 0.02;
    LossyRelay relay(20240);
    const uint32_t lo = LoopbackAddressRaw();
    PeerConfig config;
    config.maxMessage = kMaxSize;
    config.initialRttMs = 20;
    std::vector<std::unique_ptr<BrokerPeer>> peers;
    std::vector<std::unique_ptr<EchoCheck>> checks;
    for (int i = 0; i < kPeers; ++i) {
        const auto key = static_cast<uint16_t>(100 + i);
        auto peer = std::make_unique<BrokerPeer>(key, config);
        ASSERT_TRUE(peer->Open());
        // Data both ways, the peer's acknowledgements to P + 1, and the
        // server's acknowledgements to the peer all cross the relay.
        const uint16_t data = relay.AddLink(lo, engine.ReceivePortRaw(), lossy, lossy);
        const uint16_t acksToServer = relay.AddLink(lo, engine.SendPortRaw(), lossy);
        const uint16_t acksToPeer = relay.AddLink(lo, peer->AckPortRaw(), lossy);
        ASSERT_TRUE(data && acksToServer && acksToPeer);
        peer->SetServer(lo, data, acksToServer);
        peer->AdvertiseAckPort(acksToPeer);
        auto check = std::make_unique<EchoCheck>(key);
        EchoCheck* c = check.get();
        peer->SetOnData([c](const uint8_t* d, size_t n) { c->Take(d, n); });
        peers.push_back(std::move(peer));
        checks.push_back(std::move(check));
    }
    ASSERT_TRUE(relay.Start());
    for (auto& peer : peers) {
        ASSERT_TRUE(peer->Start());
        ASSERT_GT(peer->Connect(ctViewerSession, 30000), 0);
    }

    std::vector<std::thread> feeders;
    for (int i = 0; i < kPeers; ++i) {
        feeders.emplace_back([&, i] {
            for (uint32_t m = 0; m < kMessages; ++m) {
                const auto message = MessageOf(checks[i]->pattern, m);
                if (peers[i]->Send(message.data(), static_cast<uint32_t>(message.size())) <= 0)
                    return;
            }
        });
    }
    for (auto& f : feeders) f.join();

    // Only a broken engine stalls; the bound keeps such a run from hanging
    // until the suite's time-out.
    const uint32_t begin = Tick();
    auto done = [&] {
        for (const auto& c : checks)
            if (c->received.load() < kMessages) return false;
        return true;
    };
    while (!done() && TickSince(begin) < 180000) SleepMs(20);

    for (int i = 0; i < kPeers; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(checks[i]->received.load(), kMessages);
        EXPECT_EQ(checks[i]->firstBad.load(), -1);
    }
    const RelayStats stats = relay.Stats();
    EXPECT_GT(stats.dropped, 0u);
    for (auto& peer : peers) peer->Stop();
    relay.Stop();
    engine.Shutdown();
}

}  // namespace
}  // namespace velmora

// Two transport peers exchange messages through a relay that drops,
// duplicates and reorders data packets and acknowledgements alike.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/tick.h"
#include "support/lossyrelay.h"
#include "support/messagepattern.h"
#include "support/transportpeer.h"

namespace velmora {
namespace {

constexpr uint32_t kMessages = 2000;
constexpr uint32_t kMaxSize = 200000;

// Checks that the messages of one stream arrive whole, in order, once.
struct StreamCheck {
    explicit StreamCheck(uint64_t stream) : pattern(stream, kMaxSize) {}
    void Take(uint8_t channel, const uint8_t* data, size_t size) {
        const uint32_t index = received.load();
        if (channel != kDataChannel || index >= kMessages || !pattern.Matches(index, data, size)) {
            if (firstBad.load() < 0) firstBad.store(static_cast<int64_t>(index));
        }
        received.store(index + 1);
    }
    MessagePattern pattern;
    std::atomic<uint32_t> received{0};
    std::atomic<int64_t> firstBad{-1};
};

class LossyLinkTest : public ::testing::TestWithParam<double> {};

TEST_P(LossyLinkTest, EveryMessageArrivesByteExactInOrderExactlyOnceInBothDirections) {
    const double loss = GetParam();
    PeerConfig config;
    config.connectionKey = 7;
    config.maxMessage = kMaxSize;
    config.initialRttMs = 20;
    TransportPeer a(config), b(config);
    ASSERT_TRUE(a.Open() && b.Open());

    Impairment link;
    link.drop = loss;
    link.duplicate = 0.02;
    link.reorder = 0.05;
    LossyRelay relay(static_cast<uint64_t>(loss * 1000) + 11);
    const uint32_t lo = LoopbackAddressRaw();
    const uint16_t toBData = relay.AddLink(lo, b.DataPortRaw(), link);
    const uint16_t toBAck = relay.AddLink(lo, b.AckPortRaw(), link);
    const uint16_t toAData = relay.AddLink(lo, a.DataPortRaw(), link);
    const uint16_t toAAck = relay.AddLink(lo, a.AckPortRaw(), link);
    ASSERT_TRUE(toBData && toBAck && toAData && toAAck);
    a.SetRemote(lo, toBData, toBAck);
    b.SetRemote(lo, toAData, toAAck);

    StreamCheck aToB(1), bToA(2);
    b.SetOnMessage([&](uint8_t c, const uint8_t* d, size_t n) { aToB.Take(c, d, n); });
    a.SetOnMessage([&](uint8_t c, const uint8_t* d, size_t n) { bToA.Take(c, d, n); });
    ASSERT_TRUE(relay.Start() && a.Start() && b.Start());

    auto feed = [](TransportPeer& peer, const MessagePattern& pattern) {
        std::vector<uint8_t> message;
        for (uint32_t i = 0; i < kMessages; ++i) {
            pattern.Fill(i, message);
            if (peer.Send(kDataChannel, message.data(), static_cast<uint32_t>(message.size())) !=
                static_cast<int32_t>(message.size()))
                return;
        }
    };
    std::thread feedA(feed, std::ref(a), std::cref(aToB.pattern));
    std::thread feedB(feed, std::ref(b), std::cref(bToA.pattern));
    feedA.join();
    feedB.join();

    // Only a broken transport stalls; the bound keeps such a run from
    // hanging until the suite's time-out.
    const uint32_t begin = Tick();
    while ((aToB.received.load() < kMessages || bToA.received.load() < kMessages) &&
           TickSince(begin) < 240000)
        SleepMs(10);
    // Late duplicates of the last frames must not make another message.
    SleepMs(100);
    a.Stop();
    b.Stop();
    relay.Stop();

    const RelayStats stats = relay.Stats();
    const PeerStats sa = a.Stats(), sb = b.Stats();
    RecordProperty("dropped", static_cast<int>(stats.dropped));
    EXPECT_EQ(aToB.received.load(), kMessages);
    EXPECT_EQ(bToA.received.load(), kMessages);
    EXPECT_EQ(aToB.firstBad.load(), -1) << "first bad message of A to B";
    EXPECT_EQ(bToA.firstBad.load(), -1) << "first bad message of B to A";
    EXPECT_EQ(sa.assemblyErrors + sb.assemblyErrors, 0u);
    if (loss > 0) {
        EXPECT_GT(stats.dropped, 0u) << "the link did lose datagrams";
    }
    std::printf(
        "loss %.0f%%: relay %llu received, %llu dropped, %llu duplicated, %llu reordered; "
        "A frames %llu timeouts %llu; B frames %llu timeouts %llu; "
        "rtt A %u B %u; %u ms\n",
        loss * 100, static_cast<unsigned long long>(stats.received),
        static_cast<unsigned long long>(stats.dropped),
        static_cast<unsigned long long>(stats.duplicated),
        static_cast<unsigned long long>(stats.reordered),
        static_cast<unsigned long long>(sa.framesSent),
        static_cast<unsigned long long>(sa.timeouts),
        static_cast<unsigned long long>(sb.framesSent),
        static_cast<unsigned long long>(sb.timeouts), a.RoundTripAverage(), b.RoundTripAverage(),
        TickSince(begin));
}

std::string LossName(const ::testing::TestParamInfo<double>& param) {
    return "Percent" + std::to_string(static_cast<int>(param.param * 100));
}

INSTANTIATE_TEST_SUITE_P(Loss, LossyLinkTest, ::testing::Values(0.0, 0.05, 0.20), LossName);

}  // namespace
}  // namespace velmora

#include "transport/framesender.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "transport/ztnetwork_txrq_time.h"

namespace velmora {
namespace {

// Remembers the seq of every packet sent.
class RecordingSink : public DatagramSink {
  public:
    int32_t Send(const void* data, size_t length) override {
        EXPECT_EQ(length, kPacketSize);
        ZTPACKET p;
        std::memcpy(&p, data, sizeof(p));
        seqs.push_back(p.seq.get());
        packets.push_back(p);
        return static_cast<int32_t>(length);
    }
    std::vector<uint16_t> Take() {
        auto out = seqs;
        seqs.clear();
        packets.clear();
        return out;
    }
    std::vector<uint16_t> seqs;
    std::vector<ZTPACKET> packets;
};

// A clock that moves 1 ms per look and can run a step at a given look.
class SteppingClock : public Clock {
  public:
    uint32_t Now() const override {
        ++looks;
        if (onLook) onLook(looks);
        return now += 1;
    }
    mutable uint32_t now = 1000;
    mutable int looks = 0;
    std::function<void(int)> onLook;
};

std::vector<uint16_t> Range(uint16_t from, uint32_t count) {
    std::vector<uint16_t> v;
    for (uint32_t i = 0; i < count; ++i) v.push_back(static_cast<uint16_t>(from + i));
    return v;
}

PACKETRETURN Ack(uint16_t frameSeq, int32_t state, uint32_t sendTick, uint8_t channel = 0) {
    PACKETRETURN r{};
    r.channel = channel;
    r.frameSeq = frameSeq;
    r.connectionKey = 9;
    r.state = state;
    r.sendTick = sendTick;
    return r;
}

class FrameSenderTest : public ::testing::Test {
  protected:
    FrameSenderTest() : sender(kServerSenderParams) {
        PacketOrigin origin;
        origin.connectionKey = 9;
        sender.SetOrigin(origin);
    }
    std::vector<uint8_t> message = std::vector<uint8_t>(200000, 0x11);
    FrameSender sender;
    RecordingSink sink;
    ZTACKS_LIST acks;
};

TEST(RoundTripEstimate, ComputesTheMeanOfTheSmallestSamples) {
    ZTNETWORK_TXRQ_TIME rtt;
    EXPECT_EQ(rtt.Compute(100), 0u) << "a new estimator estimates 0";
    rtt.Fill(90);
    EXPECT_EQ(rtt.Compute(90), 90u);
    for (uint32_t v = 64; v >= 1; --v) rtt.AddSample(v);  // order does not matter
    EXPECT_EQ(rtt.Compute(100), 32u) << "2080 / 64 = 32.5, truncated";
    EXPECT_EQ(rtt.Compute(90), 29u) << "the 58 smallest: 1711 / 58";
    EXPECT_EQ(rtt.Compute(0), 1u) << "at least one sample counts";
}

TEST(RoundTripEstimate, TimeoutIsTwiceTheAverageCappedPerEngine) {
    struct Case {
        uint32_t average, cap, timeout;
    };
    const Case cases[] = {
        {0, kServerSenderParams.timeoutCapMs, 100},
        {0, kBrokerSenderParams.timeoutCapMs, 100},
        {45, kServerSenderParams.timeoutCapMs, 90},
        {3000, kServerSenderParams.timeoutCapMs, 5000},
        {3000, kBrokerSenderParams.timeoutCapMs, 6000},
        {12000, kBrokerSenderParams.timeoutCapMs, 20000},
        {0xFFFFFFFF, kBrokerSenderParams.timeoutCapMs, 20000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RetransmitTimeout(c.average, c.cap), c.timeout) << c.average << " cap " << c.cap;
}

TEST_F(FrameSenderTest, PartialAcknowledgementResendsOnlyTheMissingPackets) {
    ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 63808, 1000), 63808);
    sender.SenderPass(1000, sink);
    EXPECT_EQ(sink.Take(), Range(0xFFFF, 64));

    PACKETRETURN partial = Ack(0xFFFF, FRAME_PARTIAL, 1000);
    partial.framePackets = 64;
    partial.received[0] = 0xFF;  // packets 0..9
    partial.received[1] = 0xC0;
    acks.Add(partial);
    sender.ApplyAcknowledgements(kDataChannel, acks, 1005);
    EXPECT_FALSE(sender.Idle());
    sender.SenderPass(1006, sink);
    EXPECT_EQ(sink.Take(), Range(0x0009, 54));
    EXPECT_EQ(sink.packets.size(), 0u);
}

TEST_F(FrameSenderTest, EveryDoneStateRemovesTheFrameAndSamplesTheRoundTrip) {
    for (int32_t state : {FRAME_COMPLETE, FRAME_DELIVERED, FRAME_DUPLICATE, FRAME_OLD}) {
        SCOPED_TRACE(state);
        sender.Reset();
        sender.StartEstimate(100, 100);
        uint16_t frameSeq = 0;
        ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 10, 2000, &frameSeq), 10);
        sender.SenderPass(2000, sink);
        const uint64_t before = sender.BytesAcknowledged();
        acks.Add(Ack(frameSeq, state, 2000));
        sender.ApplyAcknowledgements(kDataChannel, acks, 2040);
        EXPECT_EQ(sender.InFlight(), 0u);
        EXPECT_EQ(sender.BytesAcknowledged() - before, kPacketDataSize);
        EXPECT_EQ(sender.Average(), 99u) << "(63 * 100 + 40) / 64";
    }
}

TEST_F(FrameSenderTest, RoundTripSampleOfZeroCountsAsTen) {
    sender.StartEstimate(10, 100);
    ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 10, 500), 10);
    sender.SenderPass(500, sink);
    acks.Add(Ack(0xFFFF, FRAME_DELIVERED, 500));
    sender.ApplyAcknowledgements(kDataChannel, acks, 500);
    EXPECT_EQ(sender.Average(), 10u) << "all 64 samples are 10";
}

TEST_F(FrameSenderTest, FrameSentMoreThanOnceGivesNoRoundTripSample) {
    // Its acknowledgement may carry the tick of any transmission: counting
    // it would turn the repair time into round trip and feed on itself.
    sender.StartEstimate(50, 100);  // time-out 100 ms
    ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 10, 0), 10);
    sender.SenderPass(0, sink);
    sender.SenderPass(101, sink);  // timed out, queued again
    sender.SenderPass(102, sink);  // second transmission
    ASSERT_EQ(sink.Take().size(), 2u);
    const uint32_t before = sender.Average();
    acks.Add(Ack(0xFFFF, FRAME_DELIVERED, 0));
    sender.ApplyAcknowledgements(kDataChannel, acks, 3000);
    EXPECT_EQ(sender.InFlight(), 0u);
    EXPECT_EQ(sender.Average(), before);
}

TEST_F(FrameSenderTest, AcknowledgementsOfOtherFramesChannelsOrKeysAreDiscarded) {
    ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 10, 0), 10);
    sender.SenderPass(0, sink);
    PACKETRETURN wrongKey = Ack(0xFFFF, FRAME_DELIVERED, 0);
    wrongKey.connectionKey = 10;
    for (const PACKETRETURN& r : {Ack(0x0000, FRAME_DELIVERED, 0), wrongKey}) acks.Add(r);
    sender.ApplyAcknowledgements(kDataChannel, acks, 5);
    acks.Add(Ack(0xFFFF, FRAME_DELIVERED, 0, kControlChannel));
    sender.ApplyAcknowledgements(kControlChannel, acks, 5);
    EXPECT_EQ(sender.InFlight(), 1u);
    EXPECT_EQ(acks.Count(), 0);
}

TEST_F(FrameSenderTest, NoAckMessageLeavesTheListAfterItsOneTransmission) {
    ASSERT_EQ(sender.Queue(kControlChannel, 1, message.data(), 9, 0), 9);
    EXPECT_EQ(sender.InFlight(), 1u);
    sender.SenderPass(0, sink);
    ASSERT_EQ(sink.packets.size(), 1u);
    EXPECT_EQ(sink.packets[0].noAck, 1);
    EXPECT_EQ(sender.InFlight(), 0u);
    EXPECT_EQ(sender.BytesAcknowledged(), kPacketDataSize);
    sender.SenderPass(5000, sink);
    EXPECT_EQ(sink.packets.size(), 1u) << "never sent again";
}

TEST_F(FrameSenderTest, TimedOutFrameGoesOutBeforeFramesNeverSent) {
    sender.StartEstimate(0, 100);  // time-out 100 ms
    for (int i = 0; i < 3; ++i) ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 1, 0), 1);
    const uint16_t A = 0xFFFF, B = 0x0000, C = 0x0001;

    sender.SenderPass(0, sink);
    EXPECT_EQ(sink.Take(), std::vector<uint16_t>{A});
    sender.SenderPass(101, sink);  // sends B, then finds A timed out
    EXPECT_EQ(sink.Take(), std::vector<uint16_t>{B});
    EXPECT_FALSE(sender.Idle());
    sender.SenderPass(102, sink);
    EXPECT_EQ(sink.Take(), std::vector<uint16_t>{A});
    sender.SenderPass(103, sink);
    EXPECT_EQ(sink.Take(), std::vector<uint16_t>{C});
}

TEST_F(FrameSenderTest, BusyAnswerResendsAtOnceOnTheServerAndAfterATimeoutOnTheBroker) {
    struct Case {
        SenderParams params;
        std::vector<uint16_t> nextPass;
        std::vector<uint16_t> afterTimeout;
    };
    const Case cases[] = {{kServerSenderParams, {0xFFFF}, {}}, {kBrokerSenderParams, {}, {0xFFFF}}};
    for (const Case& c : cases) {
        FrameSender s(c.params);
        PacketOrigin origin;
        origin.connectionKey = 9;
        s.SetOrigin(origin);
        s.StartEstimate(50, 100);
        ASSERT_EQ(s.Queue(kDataChannel, 0, message.data(), 1, 0), 1);
        s.SenderPass(0, sink);
        sink.Take();
        PACKETRETURN busy = Ack(0xFFFF, FRAME_BUSY, 0);
        busy.framePackets = 1;
        acks.Add(busy);
        s.ApplyAcknowledgements(kDataChannel, acks, 80);
        s.SenderPass(81, sink);
        EXPECT_EQ(sink.Take(), c.nextPass);
        s.SenderPass(181, sink);  // the broker's time-out (100 ms) counts from the answer
        s.SenderPass(182, sink);
        EXPECT_EQ(sink.Take(), c.afterTimeout);
    }
}

TEST_F(FrameSenderTest, ServerRefusesDataAbove100FramesInFlightButNeverControl) {
    for (int i = 0; i < 101; ++i) ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 1, 0), 1);
    EXPECT_EQ(sender.Queue(kDataChannel, 0, message.data(), 1, 0), FrameSender::kRefused);
    EXPECT_EQ(sender.Queue(kControlChannel, 0, message.data(), 5, 0), 5);
    EXPECT_EQ(sender.InFlight(), 102u);

    FrameSender broker(kBrokerSenderParams);
    for (int i = 0; i < 150; ++i) ASSERT_EQ(broker.Queue(kDataChannel, 0, message.data(), 1, 0), 1);
}

TEST_F(FrameSenderTest, RefusesMessagesThatCannotBeCarriedSafely) {
    std::vector<uint8_t> big(kMaxMessageLength + 1);
    EXPECT_EQ(sender.Queue(2, 0, message.data(), 1, 0), FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.Queue(kDataChannel, 1, message.data(), 998, 0),
              FrameSender::kInvalidMessage);  // noAck messages are one packet
    EXPECT_EQ(sender.Queue(kDataChannel, 0, big.data(), kMaxMessageLength + 1, 0),
              FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.Queue(kDataChannel, 0, nullptr, 5, 0), FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.InFlight(), 0u);

    // Unacknowledged frames may span at most half the sequence space: beyond
    // it the receiver would take them for old frames.
    FrameSender broker(kBrokerSenderParams);
    ASSERT_EQ(broker.Queue(kDataChannel, 0, big.data(), kMaxMessageLength - 997, 0),
              static_cast<int32_t>(kMaxMessageLength - 997));
    EXPECT_EQ(broker.Queue(kDataChannel, 0, big.data(), 998, 0), FrameSender::kRefused);
    EXPECT_EQ(broker.Queue(kDataChannel, 0, big.data(), 997, 0), 997);
    EXPECT_EQ(broker.Queue(kControlChannel, 0, big.data(), 998, 0), 998) << "per channel";
}

TEST_F(FrameSenderTest, FramesBuiltPieceByPieceContinueTheChannelCounter) {
    // A message of 65 packets arriving in two pieces: its frames must carry
    // the same seqs as if it had been cut at once, after an earlier message.
    ASSERT_EQ(sender.Queue(kDataChannel, 0, message.data(), 2000, 0), 2000);  // 0xFFFF..0x0001
    std::vector<ZTPACKET> built(64);
    for (ZTPACKET& p : built) {
        std::memset(&p, 0, sizeof(p));
        p.channel = kDataChannel;
        p.messageLength = 65 * 997;
        p.dataLength = 997;
    }
    uint16_t first = 0;
    ASSERT_EQ(sender.QueueFrame(kDataChannel, built.data(), 64, 5, &first), 64);
    EXPECT_EQ(first, 0x0002);
    ASSERT_EQ(sender.QueueFrame(kDataChannel, built.data(), 1, 5, &first), 1);
    EXPECT_EQ(first, 0x0042);
    EXPECT_EQ(sender.Counter(kDataChannel), 0x0043);

    for (int pass = 0; pass < 3; ++pass) sender.SenderPass(7, sink);
    ASSERT_EQ(sink.packets.size(), 3u + 64u + 1u);
    const ZTPACKET& last = sink.packets[3 + 63];
    EXPECT_EQ(last.seq.get(), 0x0041);
    EXPECT_EQ(last.frameSeq.get(), 0x0002);
    EXPECT_EQ(last.framePackets, 64);
    EXPECT_EQ(last.connectionKey.get(), 9) << "origin fields come from the sender";
    EXPECT_EQ(last.messageLength.get(), 65 * 997) << "the caller's fields stay";
    EXPECT_EQ(sink.packets.back().framePackets, 1);

    built[1].channel = kControlChannel;
    EXPECT_EQ(sender.QueueFrame(kDataChannel, built.data(), 2, 5), FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.QueueFrame(kDataChannel, built.data(), 0, 5), FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.QueueFrame(kDataChannel, built.data(), 65, 5), FrameSender::kInvalidMessage);
    EXPECT_EQ(sender.InFlight(), 3u);
}

TEST_F(FrameSenderTest, SendAndWaitEndsOnTheAcknowledgementTheTimeOrAClosedConnection) {
    SteppingClock clock;
    // Acknowledged: the acknowledgement arrives while the sender waits.
    clock.onLook = [&](int look) {
        if (look != 5) return;
        sender.SenderPass(clock.now, sink);
        acks.Add(Ack(0x003F, FRAME_DELIVERED, clock.now));  // the second of two frames
        sender.ApplyAcknowledgements(kDataChannel, acks, clock.now);
    };
    EXPECT_EQ(sender.Send(kDataChannel, 0, message.data(), 63809, 50, clock, nullptr), 63809);
    EXPECT_EQ(sender.InFlight(), 1u) << "the first frame is still pending";

    clock.onLook = nullptr;
    EXPECT_EQ(sender.Send(kDataChannel, 0, message.data(), 10, 20, clock, nullptr), 0)
        << "server: 0 after the wait";
    EXPECT_EQ(sender.WaitTimeouts(), 1u);
    EXPECT_EQ(sender.InFlight(), 2u) << "the frames stay queued";

    FrameSender broker(kBrokerSenderParams);
    EXPECT_EQ(broker.Send(kDataChannel, 0, message.data(), 10, 20, clock, nullptr), -1);
    int looks = 0;
    EXPECT_EQ(
        broker.Send(kDataChannel, 0, message.data(), 10, 5000, clock, [&] { return ++looks < 3; }),
        FrameSender::kClosed);

    EXPECT_EQ(sender.Send(kDataChannel, 1, message.data(), 10, 5000, clock, nullptr), 10)
        << "noAck never waits";
}

}  // namespace
}  // namespace velmora

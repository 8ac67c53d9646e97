#include "transport/ztpacket_inlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {
namespace {

// Packet `index` of the frame that starts at frameSeq and has n packets; its
// first data byte tells the frame and index apart.
ZTPACKET P(uint16_t frameSeq, uint32_t n, uint32_t index, uint8_t noAck = 0) {
    ZTPACKET p{};
    p.seq = static_cast<uint16_t>(frameSeq + index);
    p.frameSeq = frameSeq;
    p.framePackets = static_cast<uint8_t>(n);
    p.messageLength = static_cast<int32_t>(n * kPacketDataSize);
    p.dataLength = static_cast<uint16_t>(kPacketDataSize);
    p.connectionKey = 3;
    p.noAck = noAck;
    p.sendTick = 100u + frameSeq;
    p.data[0] = static_cast<uint8_t>(frameSeq);
    p.data[1] = static_cast<uint8_t>(index);
    return p;
}

class InListTest : public ::testing::Test {
  protected:
    std::optional<PACKETRETURN> Add(const ZTPACKET& p) { return inList.AddPacket(p, complete); }

    // Adds every packet of a frame but the ones listed; answers the last answer.
    std::optional<PACKETRETURN> AddFrame(uint16_t frameSeq, uint32_t n,
                                         std::vector<uint32_t> skip = {}) {
        std::optional<PACKETRETURN> last;
        for (uint32_t i = 0; i < n; ++i)
            if (std::find(skip.begin(), skip.end(), i) == skip.end()) last = Add(P(frameSeq, n, i));
        return last;
    }

    // The (frameSeq, index) of every packet in the complete list, in order.
    std::vector<std::pair<uint8_t, uint8_t>> Drain() {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        while (auto p = complete.Get()) out.emplace_back(p->data[0], p->data[1]);
        return out;
    }

    ZTPACKET_INLIST inList;
    ZTPACKET_COMPLETELIST complete;
};

void ExpectAnswer(const std::optional<PACKETRETURN>& a, int32_t state, uint16_t frameSeq) {
    ASSERT_TRUE(a.has_value()) << "expected state " << state;
    EXPECT_EQ(a->state.get(), state);
    EXPECT_EQ(a->frameSeq.get(), frameSeq);
    EXPECT_EQ(a->connectionKey.get(), 3);
}

TEST_F(InListTest, AnswersEveryStateAlongOneConnection) {
    // The first frame after Reset draws no partial answer; it completes at
    // the expected seq and is handed on at once.
    EXPECT_FALSE(Add(P(0xFFFF, 2, 0)).has_value());
    ExpectAnswer(Add(P(0xFFFF, 2, 1)), FRAME_DELIVERED, 0xFFFF);
    EXPECT_EQ(complete.Count(), 2u);

    // A packet of the frame delivered last.
    ExpectAnswer(Add(P(0xFFFF, 2, 0)), FRAME_DUPLICATE, 0xFFFF);

    // 0x0001 is expected now; frame 0x0003 arrives first. Its first packet
    // draws a partial answer with its bitmap.
    auto a = Add(P(0x0003, 2, 1));
    ExpectAnswer(a, FRAME_PARTIAL, 0x0003);
    EXPECT_EQ(a->received[0], 0x40);
    ExpectAnswer(Add(P(0x0003, 2, 0)), FRAME_COMPLETE, 0x0003);  // waits for 0x0001

    // A frame before the window.
    a = Add(P(0xFFF0, 4, 2));
    ExpectAnswer(a, FRAME_OLD, 0xFFF0);
    EXPECT_EQ(a->framePackets, 4);
    EXPECT_EQ(a->received[0], 0);

    // Frame 0x0001 fills the gap; 0x0003 follows with DeliverNext.
    ExpectAnswer(AddFrame(0x0001, 2), FRAME_DELIVERED, 0x0001);
    ExpectAnswer(inList.DeliverNext(complete), FRAME_DELIVERED, 0x0003);
    EXPECT_FALSE(inList.DeliverNext(complete).has_value());
    EXPECT_EQ(inList.ExpectedSeq(), 0x0005);
    EXPECT_EQ(inList.FrameCount(), 0u);
}

TEST_F(InListTest, FramesBAndCCompletingBeforeAAreHandedOnInOrder) {
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);  // window now at 0x0000 (A)
    ExpectAnswer(AddFrame(0x0003, 3), FRAME_COMPLETE, 0x0003);   // B
    ExpectAnswer(AddFrame(0x0006, 2), FRAME_COMPLETE, 0x0006);   // C
    EXPECT_FALSE(inList.DeliverNext(complete).has_value()) << "A is still missing";
    ExpectAnswer(AddFrame(0x0000, 3), FRAME_DELIVERED, 0x0000);  // A
    ExpectAnswer(inList.DeliverNext(complete), FRAME_DELIVERED, 0x0003);
    ExpectAnswer(inList.DeliverNext(complete), FRAME_DELIVERED, 0x0006);
    EXPECT_FALSE(inList.DeliverNext(complete).has_value());

    const std::vector<std::pair<uint8_t, uint8_t>> want = {{0xFF, 0}, {0x00, 0}, {0x00, 1},
                                                           {0x00, 2}, {0x03, 0}, {0x03, 1},
                                                           {0x03, 2}, {0x06, 0}, {0x06, 1}};
    EXPECT_EQ(Drain(), want);
}

TEST_F(InListTest, FrameStraddlingTheWrapAssemblesWhicheverPacketComesFirst) {
    // The first frame of a connection starts at 0xFFFF; three packets take
    // seqs 0xFFFF, 0x0000 and 0x0001.
    uint32_t order[3] = {0, 1, 2};
    do {
        inList.Reset();
        complete.Clear();
        std::optional<PACKETRETURN> last;
        for (uint32_t i : order) last = Add(P(0xFFFF, 3, i));
        ExpectAnswer(last, FRAME_DELIVERED, 0xFFFF);
        const std::vector<std::pair<uint8_t, uint8_t>> want = {{0xFF, 0}, {0xFF, 1}, {0xFF, 2}};
        EXPECT_EQ(Drain(), want);
        EXPECT_EQ(inList.ExpectedSeq(), 0x0002);
    } while (std::next_permutation(order, order + 3));
}

TEST_F(InListTest, AfterResetFrameZeroIsHeldUntilFrameFFFFAndIsNoDuplicate) {
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);
    ExpectAnswer(AddFrame(0x0000, 1), FRAME_DELIVERED, 0x0000);
    inList.Reset();
    complete.Clear();

    // 0x0000 was delivered last before the reset; now it must be taken and held.
    ExpectAnswer(AddFrame(0x0000, 2), FRAME_COMPLETE, 0x0000);
    EXPECT_EQ(inList.FrameCount(), 1u);
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);
    ExpectAnswer(inList.DeliverNext(complete), FRAME_DELIVERED, 0x0000);
    EXPECT_EQ(complete.Count(), 3u);
}

TEST_F(InListTest, PartialAnswerComesOncePerNewFrameAndAgainAfterAnotherFrameInterleaves) {
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);
    // First partial after a reset is silent; it only records the frame.
    EXPECT_FALSE(Add(P(0x0000, 4, 0)).has_value());
    EXPECT_FALSE(Add(P(0x0000, 4, 0)).has_value()) << "a duplicate changes nothing";
    EXPECT_FALSE(Add(P(0x0000, 4, 1)).has_value());
    ExpectAnswer(Add(P(0x0004, 4, 0)), FRAME_PARTIAL, 0x0004);
    auto a = Add(P(0x0000, 4, 2));  // another frame came in between
    ExpectAnswer(a, FRAME_PARTIAL, 0x0000);
    EXPECT_EQ(a->received[0], 0xE0);
    EXPECT_FALSE(Add(P(0x0000, 4, 2)).has_value());
}

TEST_F(InListTest, PacketsThatDoNotFitTheirFrameAreDroppedWithoutAnAnswer) {
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);
    ZTPACKET indexTooHigh = P(0x0000, 2, 0);
    indexTooHigh.seq = 0x0002;
    ZTPACKET zeroPackets = P(0x0000, 1, 0);
    zeroPackets.framePackets = 0;
    ZTPACKET tooManyPackets = P(0x0000, 1, 0);
    tooManyPackets.framePackets = 65;
    for (const ZTPACKET& p : {indexTooHigh, zeroPackets, tooManyPackets}) {
        EXPECT_FALSE(Add(p).has_value());
        EXPECT_EQ(inList.FrameCount(), 0u);
    }
    // A frame in assembly ignores packets of another frameSeq that claim its
    // seqs, and packets past its own framePackets.
    EXPECT_FALSE(Add(P(0x0000, 3, 0)).has_value());
    ZTPACKET otherFrame = P(0x0000, 3, 1);
    otherFrame.frameSeq = 0x0001;
    otherFrame.seq = 0x0001;
    (void)Add(otherFrame);  // starts a frame of its own at 0x0001 in the window
    ZTPACKET pastEnd = P(0x0000, 3, 0);
    pastEnd.seq = 0x0003;
    pastEnd.framePackets = 8;
    EXPECT_FALSE(Add(pastEnd).has_value());
    ExpectAnswer(AddFrame(0x0000, 3, {0}), FRAME_DELIVERED, 0x0000);
    EXPECT_EQ(complete.Count(), 4u);
}

TEST_F(InListTest, BusyRefusesNewFramesAheadOncePerFrameButTakesFramesInTheWindow) {
    // 501 packets wait in the complete list: 0xFFFF..0x01F3 as one-packet frames.
    for (uint16_t s = 0xFFFF; s != 0x01F4; ++s) (void)AddFrame(s, 1);
    ASSERT_EQ(complete.Count(), 501u);
    const uint16_t next = 0x01F4;

    // Nothing held: any new frame is refused, once.
    auto a = Add(P(next, 2, 0));
    ExpectAnswer(a, FRAME_BUSY, next);
    EXPECT_EQ(a->received[0], 0);
    EXPECT_TRUE(inList.BusyReplied());
    EXPECT_FALSE(Add(P(next, 2, 1)).has_value()) << "the same frame is refused only once";
    ExpectAnswer(Add(P(next + 2, 1, 0)), FRAME_BUSY, next + 2);

    // noAck packets are dropped silently meanwhile.
    EXPECT_FALSE(Add(P(0x7000, 1, 0, 1)).has_value());
    EXPECT_EQ(complete.Count(), 501u);

    // Make room, hold a frame ahead, fill the list again: a frame inside the
    // window (between expected and the last held) is still taken.
    complete.Clear();
    EXPECT_FALSE(Add(P(next + 4, 2, 0)).has_value());  // held ahead; the window reaches it
    for (int i = 0; i < 501; ++i) complete.Add(std::make_unique<ZTPACKET>());
    ExpectAnswer(Add(P(next + 6, 1, 0)), FRAME_BUSY, next + 6);  // ahead of the last held
    ExpectAnswer(Add(P(next, 2, 0)), FRAME_PARTIAL, next);       // in the window: taken
    EXPECT_FALSE(inList.BusyReplied());
    EXPECT_EQ(inList.FrameCount(), 2u);
    ExpectAnswer(Add(P(next, 2, 1)), FRAME_DELIVERED, next);
}

TEST_F(InListTest, BusyAlsoRefusesWhenMoreThan500FramesAreHeld) {
    ExpectAnswer(AddFrame(0xFFFF, 1), FRAME_DELIVERED, 0xFFFF);
    // 0x0000 stays missing; 501 incomplete two-packet frames are held after it.
    for (uint32_t k = 0; k < 501; ++k) (void)Add(P(static_cast<uint16_t>(1 + 2 * k), 2, 0));
    ASSERT_EQ(inList.FrameCount(), 501u);
    const uint16_t beyond = static_cast<uint16_t>(1 + 2 * 501);
    ExpectAnswer(Add(P(beyond, 2, 0)), FRAME_BUSY, beyond);
    EXPECT_EQ(inList.FrameCount(), 501u);
    // The missing frame at the window's start is taken and unblocks delivery.
    ExpectAnswer(AddFrame(0x0000, 1), FRAME_DELIVERED, 0x0000);
}

}  // namespace
}  // namespace velmora

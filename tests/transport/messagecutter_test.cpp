#include "transport/messagecutter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "transport/messageassembler.h"

namespace velmora {
namespace {

struct CutFrame {
    uint16_t frameSeq;
    std::vector<ZTPACKET> packets;
};

std::vector<CutFrame> Cut(const std::vector<uint8_t>& message, uint16_t& counter,
                          uint8_t channel = kDataChannel, uint8_t noAck = 0) {
    PacketOrigin origin;
    origin.connectionKey = 17;
    origin.ackPortRaw = 0x3412;
    origin.senderAddressRaw = 0x0100007F;
    MessageCutter cutter(message.data(), static_cast<uint32_t>(message.size()), channel, noAck,
                         origin);
    std::vector<CutFrame> frames;
    while (const uint32_t n = cutter.NextFramePackets()) {
        CutFrame f;
        f.packets.resize(n);
        std::memset(f.packets.data(), 0xEE, n * sizeof(ZTPACKET));  // every byte must be written
        f.frameSeq = cutter.WriteFrame(f.packets.data(), counter, 555);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

TEST(MessageCutter, CutsIntoPacketsOf997AndFramesOf64) {
    struct Case {
        uint32_t length;
        std::vector<uint32_t> framePackets;
        uint32_t lastDataLength;
    };
    const Case cases[] = {
        {0, {1}, 0},        {997, {1}, 997},     {998, {2}, 1},
        {63808, {64}, 997}, {63809, {64, 1}, 1}, {200000, {64, 64, 64, 9}, 200000 - 200 * 997},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        uint16_t counter = kFirstSeq;
        const auto frames = Cut(Pattern(c.length, 1), counter);
        ASSERT_EQ(frames.size(), c.framePackets.size());
        EXPECT_EQ(MessageCutter::FrameCount(c.length), c.framePackets.size());
        uint16_t expectSeq = kFirstSeq;
        for (size_t f = 0; f < frames.size(); ++f) {
            ASSERT_EQ(frames[f].packets.size(), c.framePackets[f]);
            EXPECT_EQ(frames[f].frameSeq, expectSeq);
            for (size_t i = 0; i < frames[f].packets.size(); ++i) {
                const ZTPACKET& p = frames[f].packets[i];
                EXPECT_EQ(p.seq.get(), static_cast<uint16_t>(expectSeq + i));
                EXPECT_EQ(p.frameSeq.get(), expectSeq);
                EXPECT_EQ(p.framePackets, c.framePackets[f]);
                EXPECT_EQ(p.messageLength.get(), static_cast<int32_t>(c.length));
                EXPECT_EQ(p.reserved1 | p.reserved2, 0);
                EXPECT_EQ(p.connectionKey.get(), 17);
                EXPECT_EQ(p.ackPort.raw(), 0x3412);
                EXPECT_EQ(p.senderAddress.raw(), 0x0100007Fu);
                EXPECT_EQ(p.sendTick.get(), 555u);
            }
            expectSeq = static_cast<uint16_t>(expectSeq + frames[f].packets.size());
        }
        const ZTPACKET& last = frames.back().packets.back();
        EXPECT_EQ(last.dataLength.get(), c.lastDataLength);
        for (size_t i = last.dataLength.get(); i < kPacketDataSize; ++i)
            ASSERT_EQ(last.data[i], 0) << "unused data byte " << i;
        EXPECT_EQ(counter, expectSeq);
    }
}

TEST(MessageCutter, FrameStraddlingTheWrapKeepsSeqEqualFrameSeqPlusIndex) {
    uint16_t counter = 0xFFFE;
    const auto frames = Cut(Pattern(3 * 997, 2), counter);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frameSeq, 0xFFFE);
    const uint16_t seqs[] = {0xFFFE, 0xFFFF, 0x0000};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[0].packets[i].seq.get(), seqs[i]);
        EXPECT_EQ(PacketIndex(frames[0].packets[i].seq.get(), 0xFFFE), static_cast<uint32_t>(i));
    }
    EXPECT_EQ(counter, 0x0001) << "the next frame starts at 0x0001";
}

// Feeds every packet of the frames in order into an assembler.
std::vector<std::vector<uint8_t>> Rebuild(const std::vector<CutFrame>& frames) {
    MessageAssembler assembler;
    std::vector<std::vector<uint8_t>> messages;
    std::vector<uint8_t> current;
    for (const CutFrame& f : frames) {
        for (const ZTPACKET& p : f.packets) {
            const auto r = assembler.Add(p, current, kMaxMessageLength);
            EXPECT_GE(r, 0);
            if (r == MessageAssembler::kComplete) messages.push_back(current);
        }
    }
    EXPECT_FALSE(assembler.InMessage());
    return messages;
}

TEST(MessageAssembler, RebuildsConsecutiveMessagesByteExact) {
    std::mt19937 rng(3);
    std::vector<std::vector<uint8_t>> sent;
    std::vector<CutFrame> all;
    uint16_t counter = 0xFF00;  // the run crosses the wrap
    for (uint32_t length : {0u, 1u, 997u, 998u, 63808u, 63809u, 150000u, 0u, 5u}) {
        sent.push_back(Pattern(length, rng()));
        auto frames = Cut(sent.back(), counter);
        all.insert(all.end(), frames.begin(), frames.end());
    }
    EXPECT_EQ(Rebuild(all), sent);
}

ZTPACKET Packet(int32_t messageLength, uint16_t dataLength, uint8_t noAck = 0, uint8_t fill = 0) {
    ZTPACKET p{};
    p.messageLength = messageLength;
    p.dataLength = dataLength;
    p.noAck = noAck;
    std::memset(p.data, fill, kPacketDataSize);
    return p;
}

TEST(MessageAssembler, RefusesPacketsThatDoNotAddUpAndStartsOver) {
    struct Case {
        const char* what;
        std::vector<ZTPACKET> packets;
        MessageAssembler::Result last;
    };
    const Case cases[] = {
        {"dataLength above 997", {Packet(2000, 998)}, MessageAssembler::kBadPacket},
        {"negative total", {Packet(-1, 0)}, MessageAssembler::kBadPacket},
        {"total above the capacity", {Packet(4097, 997)}, MessageAssembler::kTooLong},
        {"more bytes than announced",
         {Packet(1000, 997), Packet(1000, 4)},
         MessageAssembler::kOverrun},
        {"one packet longer than its total", {Packet(3, 4)}, MessageAssembler::kOverrun},
        {"a continuation with another total",
         {Packet(2000, 997), Packet(3000, 997)},
         MessageAssembler::kBadPacket},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MessageAssembler assembler;
        uint8_t buffer[4096];
        MessageAssembler::Result r = MessageAssembler::kIncomplete;
        for (const ZTPACKET& p : c.packets) r = assembler.Add(p, buffer, sizeof(buffer));
        EXPECT_EQ(r, c.last);
        EXPECT_FALSE(assembler.InMessage());
        // The next message is taken whole.
        EXPECT_EQ(assembler.Add(Packet(5, 5), buffer, sizeof(buffer)), MessageAssembler::kComplete);
        EXPECT_EQ(assembler.Length(), 5u);
    }
}

TEST(MessageAssembler, NoAckPacketBetweenTwoFramesLeavesTheMessageInProgressIntact) {
    MessageAssembler assembler;
    std::vector<uint8_t> message;
    EXPECT_EQ(assembler.Add(Packet(1500, 997, 0, 0xAA), message, 4096),
              MessageAssembler::kIncomplete);
    EXPECT_EQ(assembler.Add(Packet(9, 9, 1, 0x55), message, 4096), MessageAssembler::kSinglePacket);
    ASSERT_EQ(assembler.Add(Packet(1500, 503, 0, 0xBB), message, 4096),
              MessageAssembler::kComplete);
    ASSERT_EQ(message.size(), 1500u);
    EXPECT_EQ(message[996], 0xAA);
    EXPECT_EQ(message[997], 0xBB);
    EXPECT_EQ(message[1499], 0xBB);
}

}  // namespace
}  // namespace velmora

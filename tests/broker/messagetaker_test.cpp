#include "broker/messagetaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/messagepattern.h"

namespace velmora {
namespace {

// Every packet the sender transmits, in order.
class PacketLog : public DatagramSink {
  public:
    int32_t Send(const void* data, size_t length) override {
        ZTPACKET p;
        std::memcpy(&p, data, sizeof(p));
        packets.push_back(p);
        return static_cast<int32_t>(length);
    }
    std::vector<ZTPACKET> packets;
};

class MessageTakerTest : public ::testing::Test {
  protected:
    MessageTakerTest()
        : memory(kSendQueueSize),
          queue(memory.data(), memory.size(), nullptr),
          sender(kBrokerSenderParams) {
        queue.Initialise();
    }

    // Writes a message as the library does: records of up to 997 bytes.
    void Write(const std::vector<uint8_t>& message, uint8_t noAck = 0) {
        const auto total = static_cast<int32_t>(message.size());
        size_t offset = 0;
        do {
            const size_t n = std::min<size_t>(997, message.size() - offset);
            ASSERT_EQ(
                queue.Put(Record(total, static_cast<int32_t>(n), message.data() + offset, noAck)),
                kQueueDone);
            offset += n;
        } while (offset < message.size());
    }

    static ZTSEND_RECORD Record(int32_t total, int32_t length, const uint8_t* data = nullptr,
                                uint8_t noAck = 0, uint8_t channel = 0) {
        ZTSEND_RECORD r;
        std::memset(&r, 0, sizeof(r));
        r.totalLength = total;
        r.dataLength = length;
        r.channel = channel;
        r.noAck = noAck;
        if (data != nullptr && length > 0)
            std::memcpy(r.data, data,
                        std::min<size_t>(static_cast<size_t>(length), sizeof(r.data)));
        return r;
    }

    int32_t Take(uint32_t now = 1000, uint32_t maxInFlight = 500) {
        uint32_t frames = 0;
        return taker.Take(queue, sender, now, {maxInFlight, 10000}, &frames);
    }

    std::vector<uint8_t> memory;
    SendQueue queue;
    FrameSender sender;
    MessageTaker taker;
};

// The frame sizes of the packets sent, frame by frame.
std::vector<uint32_t> FrameSizes(const std::vector<ZTPACKET>& packets) {
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < packets.size(); i += packets[i].framePackets)
        sizes.push_back(packets[i].framePackets);
    return sizes;
}

TEST_F(MessageTakerTest, MessagesBecomeFramesOfAtMost64PacketsWithTheirBytesInOrder) {
    struct Case {
        uint32_t size;
        std::vector<uint32_t> frames;
    };
    const Case cases[] = {
        {0, {1}}, {1, {1}}, {997, {1}}, {998, {2}}, {63808, {64}}, {63809, {64, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        MessagePattern pattern(c.size, c.size);
        std::vector<uint8_t> message;
        pattern.Fill(0, message);
        message.resize(c.size);
        sender.Reset();
        Write(message);
        EXPECT_EQ(Take(), MessageTaker::kNothing);
        EXPECT_FALSE(taker.InMessage());
        PacketLog log;
        for (size_t f = 0; f < c.frames.size(); ++f) sender.SenderPass(1000, log);
        EXPECT_EQ(FrameSizes(log.packets), c.frames);
        std::vector<uint8_t> rebuilt;
        for (const ZTPACKET& p : log.packets) {
            EXPECT_EQ(p.messageLength.get(), static_cast<int32_t>(c.size));
            rebuilt.insert(rebuilt.end(), p.data, p.data + p.dataLength.get());
        }
        EXPECT_EQ(rebuilt, message);
    }
}

TEST_F(MessageTakerTest, OneCallTakesOneMessageAndSaysWhetherMoreWait) {
    const std::vector<uint8_t> a(10, 1), b(20, 2);
    Write(a);
    Write(b);
    EXPECT_EQ(Take(), MessageTaker::kMore);
    EXPECT_EQ(sender.InFlight(), 1u);
    EXPECT_EQ(Take(), MessageTaker::kNothing);
    EXPECT_EQ(sender.InFlight(), 2u);
}

TEST_F(MessageTakerTest, ALongMessageIsTakenInStepsWhileTooManyFramesAreInFlight) {
    // 1 000 000 bytes are 16 frames; with at most 3 in flight the taker hands
    // them over as the sender makes room, and the application keeps writing
    // as the queue empties (it holds 500 records, the message 1004).
    MessagePattern pattern(7, 1000000);
    std::vector<uint8_t> message;
    pattern.Fill(0, message);
    message.resize(1000000);
    const auto total = static_cast<int32_t>(message.size());
    size_t written = 0;
    PacketLog log;
    for (int round = 0; round < 5000 && (written < message.size() || taker.InMessage()); ++round) {
        while (written < message.size()) {
            const size_t n = std::min<size_t>(997, message.size() - written);
            if (queue.Put(Record(total, static_cast<int32_t>(n), &message[written])) != kQueueDone)
                break;
            written += n;
        }
        // As the connection thread does: taking only while at most 3 are out.
        if (sender.InFlight() <= 3) (void)Take(1000, 3);
        EXPECT_LE(sender.InFlight(), 4u);
        sender.SenderPass(1000, log);
        // The receiver acknowledges every frame sent so far.
        ZTACKS_LIST acks;
        for (const ZTPACKET& p : log.packets) {
            if (p.seq.get() != p.frameSeq.get()) continue;
            PACKETRETURN r = StatusFromPacket(p);
            r.state = FRAME_DELIVERED;
            (void)acks.Add(r);
        }
        sender.ApplyAcknowledgements(kDataChannel, acks, 1001);
    }
    ASSERT_FALSE(taker.InMessage());
    for (int pass = 0; pass < 20; ++pass) sender.SenderPass(1000, log);  // the last frames
    std::vector<uint8_t> rebuilt;
    for (const ZTPACKET& p : log.packets)
        rebuilt.insert(rebuilt.end(), p.data, p.data + p.dataLength.get());
    EXPECT_EQ(rebuilt, message);
}

TEST_F(MessageTakerTest, ImpossibleRecordsEndTheConnection) {
    const uint8_t data[997] = {};
    struct Case {
        const char* what;
        std::vector<ZTSEND_RECORD> records;
    };
    const Case cases[] = {
        {"negative total", {Record(-5, 5, data)}},
        {"channel 2", {Record(5, 5, data, 0, 2)}},
        {"no data in a message of 5", {Record(5, 0, data)}},
        {"more data than 997", {Record(2000, 998, data)}},
        {"more data than the message", {Record(5, 6, data)}},
        {"data in an empty message", {Record(0, 1, data)}},
        {"second record of another total", {Record(1000, 997, data), Record(999, 3, data)}},
        {"second record beyond the total", {Record(1000, 997, data), Record(1000, 4, data)}},
        {"second record on the other channel",
         {Record(1000, 997, data), Record(1000, 3, data, 0, 1)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        queue.Initialise();
        taker.Reset();
        sender.Reset();
        for (const ZTSEND_RECORD& r : c.records) ASSERT_EQ(queue.Put(r), kQueueDone);
        EXPECT_EQ(Take(), MessageTaker::kBadRecord);
    }
}

TEST_F(MessageTakerTest, AMessageWhoseRestDoesNotComeStallsAfterTheLimit) {
    const uint8_t data[997] = {};
    ASSERT_EQ(queue.Put(Record(1500, 997, data)), kQueueDone);
    EXPECT_EQ(Take(1000), MessageTaker::kNothing);
    EXPECT_TRUE(taker.InMessage());
    EXPECT_EQ(Take(11000), MessageTaker::kNothing) << "the wait began at the first empty look";
    EXPECT_EQ(Take(11001), MessageTaker::kStalled);

    // The rest arriving in time completes the message instead.
    taker.Reset();
    sender.Reset();
    ASSERT_EQ(queue.Put(Record(1500, 997, data)), kQueueDone);
    EXPECT_EQ(Take(1000), MessageTaker::kNothing);
    EXPECT_EQ(Take(9000), MessageTaker::kNothing);
    ASSERT_EQ(queue.Put(Record(1500, 503, data)), kQueueDone);
    EXPECT_EQ(Take(20000), MessageTaker::kNothing);
    EXPECT_FALSE(taker.InMessage());
    EXPECT_EQ(sender.InFlight(), 1u);
}

TEST_F(MessageTakerTest, NoAckTravelsOnlyWithSinglePacketMessages) {
    Write(std::vector<uint8_t>(997, 3), 1);
    Write(std::vector<uint8_t>(998, 4), 1);
    EXPECT_EQ(Take(), MessageTaker::kMore);
    EXPECT_EQ(Take(), MessageTaker::kNothing);
    PacketLog log;
    sender.SenderPass(1000, log);
    sender.SenderPass(1000, log);
    ASSERT_EQ(log.packets.size(), 3u);
    EXPECT_EQ(log.packets[0].noAck, 1);
    EXPECT_EQ(log.packets[1].noAck, 0) << "a longer message is sent reliably";
    EXPECT_EQ(log.packets[2].noAck, 0);
    EXPECT_EQ(sender.InFlight(), 1u) << "the noAck frame is gone, the reliable one waits";
}

TEST_F(MessageTakerTest, ADamagedQueueHeaderIsReported) {
    StoreLe<uint16_t>(memory.data() + 6, 600);  // a count beyond the capacity
    EXPECT_EQ(Take(), MessageTaker::kDamagedQueue);
}

}  // namespace
}  // namespace velmora

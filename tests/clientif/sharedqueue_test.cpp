#include "clientif/sharedqueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace velmora {
namespace {

// A queue in plain memory of exactly the designed size, so the sanitizer
// reports any byte touched beyond it.
class SharedQueueTest : public ::testing::Test {
  protected:
    SharedQueueTest()
        : memory_(kReceiveQueueSize), queue_(memory_.data(), memory_.size(), nullptr) {
        queue_.Initialise();
    }

    static ZTRECV_RECORD Numbered(uint32_t n) {
        ZTRECV_RECORD record{};
        record.totalLength = static_cast<int32_t>(n);
        record.dataLength = 4;
        std::memcpy(record.data, &n, sizeof(n));
        std::memset(record.data + 4, static_cast<int>(n & 0xFF), sizeof(record.data) - 4);
        return record;
    }

    void SetHeader(uint16_t capacity, uint16_t head, uint16_t tail, uint16_t count) {
        auto& header = *reinterpret_cast<ZTSHARED_QUEUE*>(memory_.data());
        header.capacity = capacity;
        header.head = head;
        header.tail = tail;
        header.count = count;
    }

    std::vector<uint8_t> memory_;
    ReceiveQueue queue_;
};

TEST_F(SharedQueueTest, KeepsOrderAcrossTheWrapAndRefusesWhenFull) {
    EXPECT_EQ(queue_.Capacity(), 500);
    uint32_t next = 0;
    uint32_t expected = 0;
    ZTRECV_RECORD taken;
    // Three rounds around the ring, with the queue full at each turn.
    for (int round = 0; round < 3; ++round) {
        while (queue_.Put(Numbered(next)) == kQueueDone) ++next;
        EXPECT_EQ(queue_.Count(), 500);
        EXPECT_EQ(queue_.Put(Numbered(next)), kQueueNone);
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(queue_.Take(taken), kQueueDone);
            const ZTRECV_RECORD want = Numbered(expected);
            ASSERT_EQ(std::memcmp(&taken, &want, sizeof(taken)), 0) << "record " << expected;
            ++expected;
        }
    }
    while (queue_.Take(taken) == kQueueDone) {
        ASSERT_EQ(taken.totalLength.get(), static_cast<int32_t>(expected++));
    }
    EXPECT_EQ(expected, next);
    EXPECT_EQ(queue_.Count(), 0);
    EXPECT_EQ(queue_.PeekHead(taken), kQueueNone);
}

TEST_F(SharedQueueTest, PeekShowsTheHeadWithoutTakingIt) {
    ASSERT_EQ(queue_.Put(Numbered(7)), kQueueDone);
    ASSERT_EQ(queue_.Put(Numbered(8)), kQueueDone);
    ZTRECV_RECORD record;
    ASSERT_EQ(queue_.PeekHead(record), kQueueDone);
    EXPECT_EQ(record.totalLength.get(), 7);
    ASSERT_EQ(queue_.Take(record), kQueueDone);
    EXPECT_EQ(record.totalLength.get(), 7);
    ASSERT_EQ(queue_.PeekHead(record), kQueueDone);
    EXPECT_EQ(record.totalLength.get(), 8);
}

// A header written by a faulty or hostile peer never makes an operation read
// or write outside the mapping; a damaged queue is reported as such.
TEST_F(SharedQueueTest, ADamagedHeaderIsReportedNeverFollowed) {
    struct Case {
        const char* what;
        uint16_t capacity, head, tail, count;
        bool boundsOnly;  // only the locked operations can see it
    };
    const Case cases[] = {
        {"no capacity", 0, 0, 0, 0, false},
        {"capacity beyond the mapping", 501, 0, 0, 0, false},
        {"capacity far beyond the mapping", 65535, 65000, 65000, 10, false},
        {"head beyond capacity", 500, 500, 0, 0, false},
        {"tail beyond capacity", 500, 0, 500, 0, false},
        {"count beyond capacity", 500, 0, 0, 501, false},
        {"count that disagrees with head and tail", 500, 10, 20, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetHeader(c.capacity, c.head, c.tail, c.count);
        ZTRECV_RECORD record = Numbered(1);
        EXPECT_EQ(queue_.Put(record), kQueueDamaged);
        EXPECT_EQ(queue_.Take(record), kQueueDamaged);
        if (c.boundsOnly) {
            EXPECT_EQ(queue_.Count(), c.count);
            EXPECT_EQ(queue_.PeekHead(record), kQueueDone);
        } else {
            EXPECT_EQ(queue_.Count(), kQueueDamaged);
            EXPECT_EQ(queue_.PeekHead(record), kQueueDamaged);
        }
    }
}

TEST(SharedQueue, AMappingTooSmallForItsRecordsHoldsOnlyWhatFits) {
    std::vector<uint8_t> small(kQueueHeaderSize + 3 * sizeof(ZTSEND_RECORD) + 5);
    SendQueue queue(small.data(), small.size(), nullptr);
    queue.Initialise();
    EXPECT_EQ(queue.Capacity(), 3);
    const ZTSEND_RECORD record{};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(queue.Put(record), kQueueDone);
    EXPECT_EQ(queue.Put(record), kQueueNone);

    std::vector<uint8_t> headerOnly(kQueueHeaderSize - 1);
    SendQueue truncated(headerOnly.data(), headerOnly.size(), nullptr);
    truncated.Initialise();
    EXPECT_EQ(truncated.Count(), kQueueDamaged);
    EXPECT_EQ(truncated.Put(record), kQueueDamaged);
}

TEST(RecordFitsMessage, AcceptsOnlyRecordsThatContinueTheirMessage) {
    struct Case {
        const char* what;
        int32_t recordTotal, recordLength, messageTotal, remaining;
        bool fits;
    };
    const Case cases[] = {
        {"first of two", 998, 997, 998, 998, true},
        {"last byte", 998, 1, 998, 1, true},
        {"the one record of an empty message", 0, 0, 0, 0, true},
        {"longer than the message lacks", 998, 2, 998, 1, false},
        {"longer than a record holds", 5000, 998, 5000, 5000, false},
        {"empty inside a message", 998, 0, 998, 1, false},
        {"negative length", 998, -1, 998, 998, false},
        {"another message's total", 999, 1, 998, 1, false},
        {"negative total", -4, 0, -4, -4, false},
        {"data in an empty message", 0, 1, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RecordFitsMessage(c.recordTotal, c.recordLength, c.messageTotal, c.remaining,
                                    kRecordDataMax),
                  c.fits)
            << c.what;
    }
}

}  // namespace
}  // namespace velmora

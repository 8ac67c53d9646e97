#include "transport/ztflatqueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

PACKETRECEIVED Entry(uint16_t seq) {
    PACKETRECEIVED e{};
    e.packet.seq = seq;
    e.receiveTick = 1000u + seq;
    e.packet.data[kPacketDataSize - 1] = static_cast<uint8_t>(seq);
    return e;
}

TEST(ZtFlatQueue, CapacityThreeFillsRefusesTheFourthAndDropsTheNewEntry) {
    ZTFLATQUEUE q(3);
    EXPECT_EQ(q.Push(Entry(1)), 1);
    EXPECT_EQ(q.Push(Entry(2)), 2);
    EXPECT_EQ(q.Push(Entry(3)), 3);
    EXPECT_EQ(q.Push(Entry(4)), ZTFLATQUEUE::kFull);

    PACKETRECEIVED out{};
    EXPECT_EQ(q.Pop(out), 3);
    EXPECT_EQ(out.packet.seq.get(), 1) << "the oldest entry comes out; nothing was overwritten";
    EXPECT_EQ(q.Push(Entry(5)), 3);
    for (uint16_t want : {2, 3, 5}) {
        ASSERT_GT(q.Pop(out), 0);
        EXPECT_EQ(out.packet.seq.get(), want);
        EXPECT_EQ(out.receiveTick.get(), 1000u + want);
        EXPECT_EQ(out.packet.data[kPacketDataSize - 1], static_cast<uint8_t>(want));
    }
    EXPECT_EQ(q.Pop(out), 0);
}

TEST(ZtFlatQueue, IndexesWrapAndKeepTheOrderOverManyRounds) {
    ZTFLATQUEUE q(4);
    PACKETRECEIVED out{};
    uint16_t next = 0, expect = 0;
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 1 + round % 4; ++i) ASSERT_GT(q.Push(Entry(next++)), 0);
        while (q.Pop(out) > 0) EXPECT_EQ(out.packet.seq.get(), expect++);
    }
    EXPECT_EQ(expect, next);
}

TEST(ZtFlatQueue, WithoutABufferPushFailsAndPopIsEmpty) {
    for (int32_t capacity : {0, -5}) {
        ZTFLATQUEUE q(capacity);
        PACKETRECEIVED out{};
        EXPECT_FALSE(q.HasBuffer());
        EXPECT_EQ(q.Push(Entry(1)), ZTFLATQUEUE::kNoBuffer);
        EXPECT_EQ(q.Pop(out), 0);
    }
}

TEST(ZtFlatQueue, ConsumerBlockedInWaitForEntryWakesOnPush) {
    ZTFLATQUEUE q(8);
    EXPECT_FALSE(q.WaitForEntry(0));
    std::thread producer([&] { (void)q.Push(Entry(9)); });
    bool woke = false;
    // A generous bound: the push wakes the waiter long before it.
    for (int i = 0; i < 100 && !woke; ++i) woke = q.WaitForEntry(100);
    producer.join();
    EXPECT_TRUE(woke);
    PACKETRECEIVED out{};
    EXPECT_EQ(q.Pop(out), 1);
}

}  // namespace
}  // namespace velmora

// The library against a broker stand-in in this process (FakeBroker), which
// answers connect requests and echoes the send queue into the receive queue.
#include "clientif/ztclientif.h"

#include <arpa/inet.h>

#include <thread>
#include <vector>

#include "clientif/clientif_fixture.h"
#include "clientif/fake_broker.h"
#include "clientif/instancelist.h"

namespace velmora::test {
namespace {

constexpr uint32_t kWaitMs = 10000;  // generous bound of the waits that succeed

class ZtifTest : public ClientIfFixture {
  protected:
    void SetUp() override {
        ClientIfFixture::SetUp();
        ZtifSettings settings;
        // Nothing here may start a broker program: a start would fail loudly.
        settings.brokerProgram = "/nonexistent/broker";
        settings.connectGraceMs = 50;
        settings.keepAliveMs = 10;
        settings.stopPollMs = 10;
        settings.stopLimitMs = kWaitMs;  // a fault fails the test rather than hang it
        ZtifSetSettings(settings);
    }
    void TearDown() override {
        for (ZTIF_CONNECTION* c : open_) (void)ZtifDisconnect(c);
        broker_.reset();
        ClientIfFixture::TearDown();
    }

    FakeBroker& StartBroker(FakeBroker::Behaviour behaviour = {}) {
        broker_ = std::make_unique<FakeBroker>(name_, behaviour);
        std::string why;
        EXPECT_TRUE(broker_->Start(&why)) << why;
        return *broker_;
    }

    ZTIF_CONNECTION* Connect(uint32_t timeoutMs = kWaitMs) {
        ZTIF_CONNECTION* c = ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, timeoutMs);
        if (c != nullptr) open_.push_back(c);
        return c;
    }
    void Disconnect(ZTIF_CONNECTION* c) {
        std::erase(open_, c);
        EXPECT_EQ(ZtifDisconnect(c), 1);
    }

    static std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 997);
        return bytes;
    }

    // Waits for a message and takes it whole.
    static std::vector<uint8_t> ReceiveOne(ZTIF_CONNECTION* c) {
        int32_t size = 0;
        EXPECT_TRUE(Eventually([&] { return (size = ZtifPeek(c)) != 0; }));
        std::vector<uint8_t> buffer(static_cast<size_t>(size > 0 ? size : 0));
        EXPECT_EQ(ZtifReceive(c, buffer.data(), size, kWaitMs), size);
        EXPECT_EQ(ZtifConnectionError(c), nleOk);
        return buffer;
    }

    std::unique_ptr<FakeBroker> broker_;
    std::vector<ZTIF_CONNECTION*> open_;
};

TEST_F(ZtifTest, MessagesOfEverySizeComeBackWhole) {
    StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    for (const size_t size : {1u, 996u, 997u, 998u, 1994u, 63808u, 63809u, 200000u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> message = Pattern(size, static_cast<uint8_t>(size));
        ASSERT_EQ(ZtifSend(c, message.data(), static_cast<int32_t>(size), 0, kWaitMs),
                  static_cast<int32_t>(size));
        EXPECT_EQ(ZtifConnectionError(c), nleOk);
        EXPECT_EQ(ReceiveOne(c), message);
    }
    EXPECT_EQ(ZtifPeek(c), 0);
    EXPECT_EQ(ZtifConnectionError(c), nleOk);
}

// More than the send and receive queues hold together: the sender waits for
// room while a reader on another thread empties the receive queue.
TEST_F(ZtifTest, AMessageLargerThanBothQueuesFlowsWhileItIsRead) {
    StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const std::vector<uint8_t> message = Pattern(1000000, 3);
    std::vector<uint8_t> received;
    std::thread reader([&] { received = ReceiveOne(c); });
    EXPECT_EQ(ZtifSend(c, message.data(), static_cast<int32_t>(message.size()), 0, kWaitMs),
              static_cast<int32_t>(message.size()));
    reader.join();
    EXPECT_EQ(received, message);
}

TEST_F(ZtifTest, MessagesAreCutIntoRecordsOf997Bytes) {
    FakeBroker& broker = StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    SendQueue& queue = *broker.BrokerSendQueue(c->slotIndex);
    struct Case {
        int32_t size;
        std::vector<int32_t> records;
    };
    const Case cases[] = {{0, {}}, {1, {1}}, {997, {997}}, {998, {997, 1}}, {1995, {997, 997, 1}}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.size);
        const std::vector<uint8_t> message = Pattern(static_cast<size_t>(k.size), 9);
        ASSERT_EQ(ZtifSend(c, message.data(), k.size, 1, 0), k.size);
        std::vector<int32_t> lengths;
        std::vector<uint8_t> data;
        ZTSEND_RECORD record;
        while (queue.Take(record) == kQueueDone) {
            EXPECT_EQ(record.totalLength.get(), k.size);
            EXPECT_EQ(record.connectionKey.get(), c->slotIndex);
            EXPECT_EQ(record.channel, 0);
            EXPECT_EQ(record.noAck, 1);
            lengths.push_back(record.dataLength.get());
            data.insert(data.end(), record.data, record.data + record.dataLength.get());
        }
        EXPECT_EQ(lengths, k.records);
        EXPECT_EQ(data, message);
    }
}

// The broker passes on a message of 0 bytes as one empty record. A receive
// takes it as an empty message; a peek drops it, so a reader that peeks first
// is never held up by it.
TEST_F(ZtifTest, AnEmptyMessageFromTheServerNeverHoldsUpTheQueue) {
    FakeBroker& broker = StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ReceiveQueue& queue = *broker.BrokerReceiveQueue(c->slotIndex);
    const ZTRECV_RECORD empty{};
    ZTRECV_RECORD one{};
    one.totalLength = 1;
    one.dataLength = 1;
    one.data[0] = 0x5A;
    for (const bool peekFirst : {false, true}) {
        SCOPED_TRACE(peekFirst ? "peek first" : "receive at once");
        ASSERT_EQ(queue.Put(empty), kQueueDone);
        ASSERT_EQ(queue.Put(empty), kQueueDone);
        ASSERT_EQ(queue.Put(one), kQueueDone);
        uint8_t byte = 0;
        if (peekFirst) {
            EXPECT_EQ(ZtifPeek(c), 1);
        } else {
            for (int i = 0; i < 2; ++i) {
                EXPECT_EQ(ZtifReceive(c, &byte, 1, kWaitMs), 0);
                EXPECT_EQ(ZtifConnectionError(c), nleOk);
            }
        }
        EXPECT_EQ(ZtifReceive(c, &byte, 1, kWaitMs), 1);
        EXPECT_EQ(byte, 0x5A);
        EXPECT_EQ(ZtifPeek(c), 0);
        EXPECT_EQ(ZtifReceive(c, &byte, 1, 0), 0);
        EXPECT_EQ(ZtifConnectionError(c), nleTimeout);
    }
}

TEST_F(ZtifTest, ConnectWritesTheRequestIntoAFreeSlotPreferringKeptResources) {
    FakeBroker& broker = StartBroker();
    broker.Slot(3).cacheState = kCacheKept;
    ZTIF_CONNECTION* kept = ZtifConnect(Name(), "10.1.2.3", 8888, 4, 0, 1234);
    ASSERT_NE(kept, nullptr) << ZtifLastErrorText();
    open_.push_back(kept);
    EXPECT_EQ(kept->slotIndex, 3);
    EXPECT_EQ(kept->connectionKey, 3);
    EXPECT_STREQ(kept->brokerName, Name());

    const ZTINSTANCE_SLOT& slot = broker.Slot(3);
    const auto* raw = reinterpret_cast<const uint8_t*>(&slot);
    EXPECT_EQ(slot.connectionType.get(), 4u);
    EXPECT_EQ(slot.connectTimeoutMs.get(), 1234u);
    EXPECT_EQ(slot.serverAddress.raw(), inet_addr("10.1.2.3"));
    // P and P + 1 in network order in the low 16 bits, the upper 16 bits 0.
    const uint8_t ports[] = {0x22, 0xB8, 0, 0, 0x22, 0xB9, 0, 0};
    EXPECT_EQ(std::memcmp(raw + 80, ports, sizeof(ports)), 0);
    EXPECT_STREQ(slot.serverAddressText, "10.1.2.3");
    EXPECT_EQ(slot.serverPortHost.get(), 8888u);
    const uint8_t zeroGuid[16] = {};
    EXPECT_NE(std::memcmp(slot.applicationGuid, zeroGuid, 16), 0);

    // The next connect takes the first free slot; its queues are its own.
    ZTIF_CONNECTION* other = Connect();
    ASSERT_NE(other, nullptr) << ZtifLastErrorText();
    EXPECT_EQ(other->slotIndex, 0);
    EXPECT_EQ(std::memcmp(broker.Slot(0).applicationGuid, slot.applicationGuid, 16), 0);
    const std::vector<uint8_t> a = Pattern(3000, 1);
    const std::vector<uint8_t> b = Pattern(1500, 2);
    ASSERT_EQ(ZtifSend(kept, a.data(), 3000, 0, kWaitMs), 3000);
    ASSERT_EQ(ZtifSend(other, b.data(), 1500, 0, kWaitMs), 1500);
    EXPECT_EQ(ReceiveOne(other), b);
    EXPECT_EQ(ReceiveOne(kept), a);
}

TEST_F(ZtifTest, FailedConnectsSayWhy) {
    struct Case {
        const char* what;
        FakeBroker::Behaviour behaviour;
        std::string brokerName;  // empty: the test's
        const char* address;
        uint16_t port;
        int32_t expected;
        const char* text;
    };
    const Case cases[] = {
        {"broker refuses",
         {.answer = FakeBroker::Answer::kRefuse},
         "",
         "127.0.0.1",
         8888,
         nleServerConnectFail,
         "nleServerConnectFail"},
        {"broker passes on its set-up failure",
         {.answer = FakeBroker::Answer::kRefuse, .refuseError = nleSetUpFailed},
         "",
         "127.0.0.1",
         8888,
         nleSetUpFailed,
         "?\?\?--18"},
        {"broker never decides",
         {.answer = FakeBroker::Answer::kIgnore},
         "",
         "127.0.0.1",
         8888,
         nleTimeout,
         "did not answer"},
        {"name too long",
         {},
         std::string(30, 'L'),
         "127.0.0.1",
         8888,
         nleInvalidConnect,
         "at most 29"},
        {"address not dotted IPv4",
         {},
         "",
         "server.example",
         8888,
         nleInvalidConnect,
         "not a dotted IPv4"},
        {"no room for P + 1", {}, "", "127.0.0.1", 65535, nleInvalidConnect, "1 to 65534"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartBroker(c.behaviour);
        const std::string name = c.brokerName.empty() ? name_ : c.brokerName;
        EXPECT_EQ(ZtifConnect(name.c_str(), c.address, c.port, 4, 0, 20), nullptr);
        EXPECT_EQ(ZtifLastError(), c.expected);
        EXPECT_NE(ZtifLastErrorText().find(c.text), std::string::npos) << ZtifLastErrorText();
        // A refused request gives its slot back; an undecided one keeps it.
        const int32_t state = SlotState(broker_->Slot(0));
        EXPECT_EQ(state, c.expected == nleTimeout ? nsNewConnection : nsNotUse);
        broker_.reset();
    }
}

TEST_F(ZtifTest, AllSlotsTakenIsMinus3) {
    FakeBroker& broker = StartBroker({.answer = FakeBroker::Answer::kIgnore});
    for (int32_t i = 0; i < kInstanceSlots; ++i) SetSlotState(broker.Slot(i), nsNewConnection);
    EXPECT_EQ(Connect(), nullptr);
    EXPECT_EQ(ZtifLastError(), nleServerConnectFull);
    EXPECT_NE(ZtifLastErrorText().find("all 500"), std::string::npos) << ZtifLastErrorText();
}

TEST_F(ZtifTest, ADroppedSlotAnswersMinus5NotConnected) {
    FakeBroker& broker = StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    SetSlotState(broker.Slot(c->slotIndex), nsError);
    uint8_t byte = 1;
    EXPECT_EQ(ZtifPeek(c), -5);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    c->lastError = nleOk;
    EXPECT_EQ(ZtifSend(c, &byte, 1, 0, kWaitMs), -5);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    c->lastError = nleOk;
    EXPECT_EQ(ZtifReceive(c, &byte, 1, kWaitMs), -5);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
}

// A slot that leaves the connected state while a call is under way ends that
// call: a send waiting for room (-6), a receive waiting for the rest of its
// message (-1).
TEST_F(ZtifTest, ASlotDroppedDuringACallEndsIt) {
    FakeBroker& broker = StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ZTINSTANCE_SLOT& slot = broker.Slot(c->slotIndex);
    SendQueue& sendQueue = *broker.BrokerSendQueue(c->slotIndex);
    std::thread dropper([&] {
        EXPECT_TRUE(Eventually([&] { return sendQueue.Count() == kQueueCapacity; }));
        SetSlotState(slot, nsError);
    });
    const std::vector<uint8_t> big = Pattern(600 * kRecordDataMax, 4);
    EXPECT_EQ(ZtifSend(c, big.data(), static_cast<int32_t>(big.size()), 0, kWaitMs), -6);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    dropper.join();

    SetSlotState(slot, nsConnected);
    ReceiveQueue& receiveQueue = *broker.BrokerReceiveQueue(c->slotIndex);
    ZTRECV_RECORD first{};
    first.totalLength = 1000;
    first.dataLength = 997;
    ASSERT_EQ(receiveQueue.Put(first), kQueueDone);
    std::thread midway([&] {
        EXPECT_TRUE(Eventually([&] { return receiveQueue.Count() == 0; }));
        SetSlotState(slot, nsError);
    });
    std::vector<uint8_t> buffer(1000);
    EXPECT_EQ(ZtifReceive(c, buffer.data(), 1000, kWaitMs), -1);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    midway.join();
}

TEST_F(ZtifTest, AFullSendQueueGivesBackWhatWasQueuedAfterTheTimeOut) {
    StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const std::vector<uint8_t> big = Pattern(600 * kRecordDataMax, 5);
    for (const uint32_t timeoutMs : {0u, 20u}) {
        SCOPED_TRACE(timeoutMs);
        // The first round fills the queue; the second finds it full at once.
        const int32_t expected = timeoutMs == 0 ? kQueueCapacity * kRecordDataMax : 0;
        EXPECT_EQ(ZtifSend(c, big.data(), static_cast<int32_t>(big.size()), 0, timeoutMs),
                  expected);
        EXPECT_EQ(ZtifConnectionError(c), nleTimeout);
    }
}

TEST_F(ZtifTest, ReceiveTimesOutWithZeroAndPeekFindsNothing) {
    StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    EXPECT_EQ(ZtifPeek(c), 0);
    EXPECT_EQ(ZtifConnectionError(c), nleOk);
    uint8_t byte;
    EXPECT_EQ(ZtifReceive(c, &byte, 1, 20), 0);
    EXPECT_EQ(ZtifConnectionError(c), nleTimeout);
}

TEST_F(ZtifTest, AMessageLongerThanTheBufferStaysForALargerOne) {
    StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const std::vector<uint8_t> message = Pattern(2500, 6);
    ASSERT_EQ(ZtifSend(c, message.data(), 2500, 0, kWaitMs), 2500);
    ASSERT_TRUE(Eventually([&] { return ZtifPeek(c) == 2500; }));
    std::vector<uint8_t> buffer(2499, 0xEE);
    EXPECT_EQ(ZtifReceive(c, buffer.data(), 2499, kWaitMs), -3);
    EXPECT_EQ(ZtifConnectionError(c), nlePacketRcvBufferOverFlow);
    EXPECT_EQ(buffer, std::vector<uint8_t>(2499, 0xEE));
    EXPECT_EQ(ReceiveOne(c), message);
}

// Records another process wrote into the receive queue are checked before a
// byte is copied: one that does not fit its message, or a damaged header,
// ends the connection with nleInvalidPacket and never writes past the
// message's length.
TEST_F(ZtifTest, ImpossibleRecordsEndTheConnection) {
    struct Case {
        const char* what;
        std::vector<std::pair<int32_t, int32_t>> records;  // total, length
        uint16_t capacity;                                 // written into the header
        bool peekFails;
    };
    const Case cases[] = {
        {"a record longer than its message", {{10, 20}}, 500, false},
        {"a record longer than a record holds", {{5000, 999}}, 500, false},
        {"a record of another message", {{1500, 997}, {1600, 503}}, 500, false},
        {"an empty record inside a message", {{1500, 997}, {1500, 0}}, 500, false},
        {"a negative total", {{-1, 0}}, 500, true},
        {"a capacity beyond the queue", {{10, 10}}, 501, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        FakeBroker& broker = StartBroker({.echo = false});
        ZTIF_CONNECTION* c = Connect();
        ASSERT_NE(c, nullptr) << ZtifLastErrorText();
        ReceiveQueue& queue = *broker.BrokerReceiveQueue(c->slotIndex);
        for (const auto& [total, length] : k.records) {
            ZTRECV_RECORD record{};
            record.totalLength = total;
            record.dataLength = length;
            std::memset(record.data, 0x11, sizeof(record.data));
            ASSERT_EQ(queue.Put(record), kQueueDone);
        }
        auto* header = reinterpret_cast<ZTSHARED_QUEUE*>(c->receiveMemory->View());
        header->capacity = k.capacity;

        std::vector<uint8_t> buffer(6000, 0xEE);
        const int32_t total = k.records.front().first;
        if (k.peekFails) {
            EXPECT_EQ(ZtifPeek(c), -2);
        } else {
            EXPECT_EQ(ZtifPeek(c), total);
            EXPECT_EQ(ZtifReceive(c, buffer.data(), static_cast<int32_t>(buffer.size()), kWaitMs),
                      -2);
            for (size_t i = static_cast<size_t>(total); i < buffer.size(); ++i) {
                ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " beyond the message";
            }
        }
        EXPECT_EQ(ZtifConnectionError(c), nleInvalidPacket);
        EXPECT_NE(SlotState(broker.Slot(c->slotIndex)), nsConnected);
        std::erase(open_, c);
        (void)ZtifDisconnect(c);
        broker_.reset();
    }
}

TEST_F(ZtifTest, ADamagedSendQueueEndsTheConnection) {
    FakeBroker& broker = StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    reinterpret_cast<ZTSHARED_QUEUE*>(c->sendMemory->View())->tail = 9999;
    uint8_t byte = 0;
    EXPECT_EQ(ZtifSend(c, &byte, 1, 0, kWaitMs), -2);
    EXPECT_EQ(ZtifConnectionError(c), nleInvalidPacket);
    EXPECT_NE(SlotState(broker.Slot(c->slotIndex)), nsConnected);
}

TEST_F(ZtifTest, ReceiveThatLosesTheRestOfItsMessageEndsTheConnection) {
    FakeBroker& broker = StartBroker({.echo = false});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ZTRECV_RECORD first{};
    first.totalLength = 1500;
    first.dataLength = 997;
    ASSERT_EQ(broker.BrokerReceiveQueue(c->slotIndex)->Put(first), kQueueDone);
    std::vector<uint8_t> buffer(1500);
    EXPECT_EQ(ZtifReceive(c, buffer.data(), 1500, 20), -1);
    EXPECT_EQ(ZtifConnectionError(c), nleTimeout);
    EXPECT_NE(SlotState(broker.Slot(c->slotIndex)), nsConnected);
}

// A connection belongs to the broker it was made with: once that broker has
// gone, a new broker of the same name does not take it over.
TEST_F(ZtifTest, AConnectionEndsWithItsBrokerEvenWhenANewOneTakesTheName) {
    StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    broker_.reset();
    FakeBroker& successor = StartBroker();
    const int32_t index = c->slotIndex;
    SetSlotState(successor.Slot(index), nsConnected);
    uint8_t byte = 1;
    EXPECT_EQ(ZtifSend(c, &byte, 1, 0, kWaitMs), -1);
    EXPECT_EQ(ZtifPeek(c), -1);
    EXPECT_EQ(ZtifReceive(c, &byte, 1, kWaitMs), -1);
    EXPECT_EQ(ZtifConnectionError(c), nleInvalidConnect);
    std::erase(open_, c);
    EXPECT_EQ(ZtifDisconnect(c), 0);
    // The new broker's slot of the same index is left alone.
    EXPECT_EQ(SlotState(successor.Slot(index)), nsConnected);
}

TEST_F(ZtifTest, DisconnectAsksTheBrokerToCloseAndFreesTheSlot) {
    FakeBroker& broker = StartBroker();
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const int32_t index = c->slotIndex;
    Disconnect(c);
    EXPECT_TRUE(Eventually([&] { return SlotState(broker.Slot(index)) == nsNotUse; }));
    EXPECT_EQ(ZtifDisconnect(nullptr), 0);
}

// The keep-alive thread clears the silence counter of every connected slot of
// the broker, and stops doing so once this process has no connection left.
TEST_F(ZtifTest, KeepAliveClearsSilenceCountersWhileAConnectionLasts) {
    FakeBroker& broker = StartBroker();
    ZTIF_CONNECTION* first = Connect();
    ZTIF_CONNECTION* second = Connect();
    ASSERT_NE(first, nullptr) << ZtifLastErrorText();
    ASSERT_NE(second, nullptr) << ZtifLastErrorText();
    ZTINSTANCE_SLOT& another = broker.Slot(200);  // another application's connection
    SetSlotState(another, nsConnected);
    for (ZTINSTANCE_SLOT* slot : {&broker.Slot(first->slotIndex), &another}) {
        StoreShared(slot->silenceCounter, int8_t{5});
    }
    EXPECT_TRUE(Eventually([&] {
        return LoadShared(broker.Slot(first->slotIndex).silenceCounter) == 0 &&
               LoadShared(another.silenceCounter) == 0;
    }));

    Disconnect(first);
    StoreShared(another.silenceCounter, int8_t{5});
    EXPECT_TRUE(Eventually([&] { return LoadShared(another.silenceCounter) == 0; }));

    SetSlotState(another, nsNotUse);
    Disconnect(second);
    SetSlotState(another, nsConnected);
    StoreShared(another.silenceCounter, int8_t{5});
    SleepMs(100);  // ten rounds, had the thread gone on
    EXPECT_EQ(LoadShared(another.silenceCounter), 5);

    // The next connect starts the thread again.
    ASSERT_NE(Connect(), nullptr) << ZtifLastErrorText();
    EXPECT_TRUE(Eventually([&] { return LoadShared(another.silenceCounter) == 0; }));
}

TEST_F(ZtifTest, StopBrokerWaitsForTheListToGoThenRefusesConnects) {
    FakeBroker& broker = StartBroker({.exitDelayMs = 100});
    ZTIF_CONNECTION* c = Connect();
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    // A failure before the stop, whose code must survive it.
    EXPECT_EQ(ZtifConnect(Name(), "bad", 8888, 4, 0, 10), nullptr);
    ASSERT_EQ(ZtifLastError(), nleInvalidConnect);
    const std::string text = ZtifLastErrorText();

    ZtifStopBroker(Name());
    EXPECT_TRUE(broker.Exited());
    EXPECT_FALSE(InstanceList(name_, {}).IsOpen());
    EXPECT_EQ(ZtifSend(c, "x", 1, 0, 10), -1);

    EXPECT_EQ(ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, 10), nullptr);
    EXPECT_EQ(ZtifLastError(), nleInvalidConnect);
    EXPECT_EQ(ZtifLastErrorText(), text);
}

// A broker that was closing slot 0 when the exit request came writes the slot
// free over it; the request is made again rather than lost.
TEST_F(ZtifTest, StopBrokerRepeatsARequestTheBrokerOverwrote) {
    BrokerLock broker;
    ASSERT_EQ(broker.Acquire(Name()), BrokerLock::kAcquired) << broker.LastError();
    std::thread closing([&] {
        ASSERT_TRUE(Eventually([&] { return SlotState(broker.Slot(0)) == nsBrokerExit; }));
        SetSlotState(broker.Slot(0), nsNotUse);
        ASSERT_TRUE(Eventually([&] { return SlotState(broker.Slot(0)) == nsBrokerExit; }));
        broker.Release();
    });
    ZtifStopBroker(Name());
    closing.join();
    EXPECT_FALSE(InstanceList(name_, {}).IsOpen());
}

}  // namespace
}  // namespace velmora::test

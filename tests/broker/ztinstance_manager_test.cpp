// The instance manager with the engine, a fake server per slot, and
// applications that are either the client-interface library (in this
// process: it finds the instance list and uses it) or a slot written by hand.
#include "broker/ztinstance_manager.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "broker/broker_fixture.h"
#include "clientif/brokernames.h"
#include "clientif/ztif_codes.h"
#include "support/messagepattern.h"
#include "transport/controlmessages.h"

namespace velmora::test {
namespace {

using InstanceManager = BrokerFixture;

ZTIF_CONNECTION* Connect(const std::string& name, const FakeServer& server,
                         uint32_t timeoutMs = 5000) {
    return ZtifConnect(name.c_str(), "127.0.0.1", server.Port(), 4, 0, timeoutMs);
}

TEST_F(InstanceManager, MessagesTravelBothWaysAndADisconnectKeepsTheSlotsObjects) {
    StartBroker();
    FakeServer& server = AddServer(0);
    server.SetEcho(true);
    ZTIF_CONNECTION* c = Connect(name_, server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    EXPECT_TRUE(server.SawControl(ccConnect));
    for (uint32_t size : {1u, 63809u, 1000000u}) {
        SCOPED_TRACE(size);
        MessagePattern pattern(size, size);
        std::vector<uint8_t> sent, got(size);
        pattern.Fill(0, sent);
        sent.resize(size);
        ASSERT_EQ(ZtifSend(c, sent.data(), static_cast<int32_t>(size), 0, 10000),
                  static_cast<int32_t>(size));
        ASSERT_EQ(ZtifReceive(c, got.data(), static_cast<int32_t>(size), 10000),
                  static_cast<int32_t>(size));
        EXPECT_EQ(got, sent);
    }
    EXPECT_EQ(ZtifDisconnect(c), 1);
    ASSERT_TRUE(StateBecomes(0, nsNotUse));
    EXPECT_TRUE(Eventually([&] { return server.SawControl(ccDisconnect); }));
    EXPECT_EQ(LoadShared(Slot(0).cacheState), kCacheKept);
    EXPECT_EQ(Slot(0).connectionKey.get(), -1);
    EXPECT_EQ(Slot(0).errorCode.get(), nleInvalidConnect);
    ZTSHARED_MEMORY queue(ReceiveQueueName(name_, 0).c_str(), 0, false);
    EXPECT_NE(queue.View(), nullptr) << "a kept slot keeps its queues";
}

TEST_F(InstanceManager, FiveClosedSlotsKeepTheirObjectsAndAReuseIsACacheHit) {
    StartBroker();
    for (uint16_t i = 0; i < 6; ++i) {
        Request(i, AddServer(i).Port(), 5000);
        ASSERT_TRUE(StateBecomes(i, nsConnected));
    }
    for (int32_t i = 0; i < 6; ++i) SetSlotState(Slot(i), nsDisConnected);
    for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(StateBecomes(i, nsNotUse));
    int kept = 0, freed = 0;
    for (int32_t i = 0; i < 6; ++i) {
        const int32_t cache = LoadShared(Slot(i).cacheState);
        kept += cache == kCacheKept;
        freed += cache == kCacheNone;
    }
    EXPECT_EQ(kept, 5);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(engine_->KeptSlots(), 5);

    int32_t reuse = 0;
    while (LoadShared(Slot(reuse).cacheState) != kCacheKept) ++reuse;
    Request(reuse, servers_[static_cast<size_t>(reuse)]->Port(), 5000);
    ASSERT_TRUE(StateBecomes(reuse, nsConnected));
    EXPECT_EQ(engine_->Statistics().cacheHits, 1u);
    EXPECT_EQ(engine_->KeptSlots(), 4);
    EXPECT_EQ(LoadShared(Slot(reuse).cacheState), kCacheInUse);
}

TEST_F(InstanceManager, SetUpsRunFiveAtATimeAndUnansweredRequestsFail) {
    StartBroker();
    // A port that takes datagrams and never answers.
    SocketHandle silent(OpenUdpSocket(LoopbackAddressRaw(), 0));
    ASSERT_TRUE(silent.Valid());
    const uint16_t port = ntohs(BoundPortRaw(silent.Get()));
    for (int32_t i = 0; i < 8; ++i) Request(i, port, 300);
    for (int32_t i = 0; i < 8; ++i) {
        ASSERT_TRUE(StateBecomes(i, nsError));
        EXPECT_EQ(Slot(i).errorCode.get(), nleServerConnectFail);
        EXPECT_EQ(LoadShared(Slot(i).cacheState), kCacheNone);
    }
    EXPECT_EQ(manager_->MaxSetupThreadsSeen(), 5);
    EXPECT_TRUE(LogHas("!ZTBROKER:서버에 로그온 하지 못했습니다. 응답이 없습니다."));
}

TEST_F(InstanceManager, ConnectionsOfABrokerWithoutALiveApplicationAreDropped) {
    settings_.lifeCheckIntervalMs = 100;
    settings_.applicationSilenceMs = 150;
    StartBroker();
    ZtifSettings library = ZtifGetSettings();
    library.keepAliveMs = 20;
    ZtifSetSettings(library);

    // Nobody clears this connection's silence counter.
    FakeServer& server = AddServer(0);
    Request(0, server.Port(), 5000);
    ASSERT_TRUE(StateBecomes(0, nsConnected));
    // A failed request that no application collects.
    Slot(2).lastApplicationSendTick = Tick() - 1000;
    SetSlotState(Slot(2), nsError);
    ASSERT_TRUE(StateBecomes(0, nsNotUse));
    EXPECT_TRUE(LogHas("0 의 APPLICATION이 오랫동안 응답이 없어 연결을 해제합니다"));
    ASSERT_TRUE(StateBecomes(2, nsNotUse));

    // A live application's keep-alive thread clears the counters.
    ZTIF_CONNECTION* live = Connect(name_, server);
    ASSERT_NE(live, nullptr) << ZtifLastErrorText();
    const uint32_t begin = Tick();
    ASSERT_TRUE(Eventually([&] { return TickSince(begin) > 700; }));
    EXPECT_EQ(SlotState(Slot(live->slotIndex)), nsConnected);
    EXPECT_EQ(ZtifDisconnect(live), 1);
}

// The server life check with its echo check answering as given.
struct LifeCase {
    const char* what;
    bool icmp;         // an ICMP socket can be opened
    bool hostAnswers;  // echo replies come
    bool serverAlive;  // the server acknowledges ccLifeCheck
    bool dropped;
    const char* line;
};

class AnsweringEchoSocket : public EchoSocket {
  public:
    explicit AnsweringEchoSocket(bool answers) : answers_(answers) {}
    bool Send(const void* data, size_t length, uint32_t) override {
        reply_.assign(static_cast<const uint8_t*>(data),
                      static_cast<const uint8_t*>(data) + length);
        reply_[0] = kIcmpEchoReply;
        return true;
    }
    int WaitReadable(uint32_t) override { return answers_ && !reply_.empty() ? 1 : 0; }
    ssize_t Receive(uint8_t* buffer, size_t capacity) override {
        const size_t n = std::min(capacity, reply_.size());
        std::memcpy(buffer, reply_.data(), n);
        reply_.clear();
        return static_cast<ssize_t>(n);
    }
    int Close() override { return 0; }
    bool CarriesIpHeader() const override { return false; }
    bool KernelSetsIdentifier() const override { return true; }

  private:
    bool answers_;
    std::vector<uint8_t> reply_;
};

class ServerLifeCheckTest : public BrokerFixture, public ::testing::WithParamInterface<LifeCase> {};

TEST_P(ServerLifeCheckTest, SilentServersAreCheckedAndDroppedAsTheAnswersSay) {
    const LifeCase& c = GetParam();
    settings_.lifeCheckIntervalMs = 100;
    settings_.serverSilenceMs = 150;
    StartBroker(true, [&c]() -> std::unique_ptr<EchoSocket> {
        if (!c.icmp) return nullptr;
        return std::make_unique<AnsweringEchoSocket>(c.hostAnswers);
    });
    FakeServer& server = AddServer(0);
    Request(0, server.Port(), 5000);
    ASSERT_TRUE(StateBecomes(0, nsConnected));
    if (!c.serverAlive) server.Silence();
    if (c.dropped) {
        ASSERT_TRUE(StateBecomes(0, nsNotUse));
        EXPECT_TRUE(LogHas(c.line));
    } else {
        ASSERT_TRUE(Eventually([&] {
            const std::vector<uint8_t> seen = server.Controls();
            return std::count(seen.begin(), seen.end(), ccLifeCheck) >= 2;
        }));
        EXPECT_EQ(SlotState(Slot(0)), nsConnected);
    }
}

std::string LifeCaseName(const ::testing::TestParamInfo<LifeCase>& info) {
    std::string name = info.param.what;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerLifeCheckTest,
    ::testing::Values(LifeCase{"no echo reply", true, false, true, true,
                               "0 와 연결된 네트웍이 응답이없습니다"},
                      LifeCase{"echo reply, server answers", true, true, true, false, ""},
                      LifeCase{"no ICMP socket, server answers", false, false, true, false, ""},
                      LifeCase{"no ICMP socket, server silent", false, false, false, true,
                               "0 의 서버 연결이 오랫동안 응답이 없어 연결을 해제합니다"}),
    LifeCaseName);

TEST_F(InstanceManager, TheServersDisconnectOrRefusalClosesTheConnection) {
    StartBroker();
    FakeServer& first = AddServer(0);
    Request(0, first.Port(), 5000);
    ASSERT_TRUE(StateBecomes(0, nsConnected));
    const CONTROL_DISCONNECT bye = MakeDisconnect(-1);
    ASSERT_EQ(first.Send(kControlChannel, &bye, sizeof(bye)), static_cast<int32_t>(sizeof(bye)));
    ASSERT_TRUE(StateBecomes(0, nsNotUse));
    EXPECT_TRUE(LogHas("서버에서 연결을 종료했습니다.(ErrorCode = -1)"));

    // A refusal: the server returns one of our packets as it came, marked.
    FakeServer& second = AddServer(1);
    Request(1, second.Port(), 5000);
    ASSERT_TRUE(StateBecomes(1, nsConnected));
    ZTPACKET refused{};
    refused.seq = 0x1234;
    refused.frameSeq = 0x1230;
    refused.framePackets = 5;
    refused.connectionKey = 1;
    MakeRefusal(refused);
    SocketHandle sender(OpenUdpSocket(LoopbackAddressRaw(), 0));
    ZTUDP udp;
    ASSERT_EQ(udp.SendTo(sender.Get(), LoopbackAddressRaw(), engine_->DataPortRaw(), 1000, &refused,
                         sizeof(refused)),
              static_cast<int32_t>(sizeof(refused)));
    ASSERT_TRUE(StateBecomes(1, nsNotUse));
    EXPECT_TRUE(
        LogHas("!서버에서 연결을 종료했습니다. 등록되지 않은 사용자의 패킷을 받았음."
               "(PGT=4656,PG=5,PID=4660)"));
}

TEST_F(InstanceManager, APauseFromTheServerHoldsTheSendingAndAnEchoReplyIsRecorded) {
    StartBroker();
    FakeServer& server = AddServer(0);
    ZTIF_CONNECTION* c = Connect(name_, server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();

    const uint8_t echo[9] = {ccEcho, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
    ASSERT_EQ(server.Send(kControlChannel, echo, sizeof(echo), 5000), 9);
    EXPECT_TRUE(Eventually([&] { return Slot(0).lifeReplyValue.get() == 0x12345678u; }));

    const CONTROL_FLOW pause = MakeFlow(kFlowPause);
    ASSERT_EQ(server.Send(kControlChannel, &pause, sizeof(pause), 5000), 2);
    const uint8_t data[100] = {42};
    ASSERT_EQ(ZtifSend(c, data, sizeof(data), 0, 1000), 100);
    SleepMs(300);
    EXPECT_EQ(server.DataMessages(), 0u) << "nothing is sent while the server asks for a pause";
    const CONTROL_FLOW resume = MakeFlow(kFlowResume);
    ASSERT_EQ(server.Send(kControlChannel, &resume, sizeof(resume), 5000), 2);
    EXPECT_TRUE(Eventually([&] { return server.DataMessages() == 1; }));
    EXPECT_EQ(server.LastData(), std::vector<uint8_t>(data, data + sizeof(data)));
    EXPECT_EQ(ZtifDisconnect(c), 1);
}

TEST_F(InstanceManager, AnApplicationThatStopsReadingIsClosedWhenItsQueueStaysFull) {
    StartBroker();
    FakeServer& server = AddServer(0);
    ZTIF_CONNECTION* c = Connect(name_, server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const std::vector<uint8_t> record(997, 7);
    for (int i = 0; i < 520; ++i) ASSERT_EQ(server.Send(kDataChannel, record.data(), 997), 997);
    ASSERT_TRUE(StateBecomes(0, nsNotUse));
    EXPECT_TRUE(LogHas("!MANAGER:연결자 0 수신용 버퍼가 넘쳐 연결을 종료합니다."));
    EXPECT_EQ(ZtifPeek(c), -5);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    (void)ZtifDisconnect(c);
}

TEST_F(InstanceManager, ImpossibleQueueContentsEndThatConnectionOnly) {
    StartBroker();
    struct Case {
        const char* what;
        void (*damage)(ZTIF_CONNECTION&);
        bool serverSends;
        const char* line;
    };
    const Case cases[] = {
        {"a record longer than its message",
         [](ZTIF_CONNECTION& c) {
             ZTSEND_RECORD r{};
             r.connectionKey = c.connectionKey;
             r.totalLength = 5;
             r.dataLength = 6;
             ASSERT_EQ(c.sendQueue.Put(r), kQueueDone);
         },
         false, " (이)의 전송데이터의 크기가 맞지 않아 연결을 종료합니다."},
        {"a send queue holding more records than it can",
         [](ZTIF_CONNECTION& c) { StoreLe<uint16_t>(c.sendMemory->View() + 6, 600); }, false,
         " (이)의 전송데이터의 크기가 맞지 않아 연결을 종료합니다."},
        {"a receive queue with a head beyond its capacity",
         [](ZTIF_CONNECTION& c) { StoreLe<uint16_t>(c.receiveMemory->View() + 2, 501); }, true,
         " 수신용 버퍼가 손상되어 연결을 종료합니다."},
    };
    // Four connections in slots 0 to 3; the last one looks on.
    ZTIF_CONNECTION* connections[4] = {};
    for (uint16_t i = 0; i < 4; ++i) {
        FakeServer& server = AddServer(i);
        server.SetEcho(true);
        connections[i] = Connect(name_, server);
        ASSERT_NE(connections[i], nullptr) << ZtifLastErrorText();
        ASSERT_EQ(connections[i]->slotIndex, i);
    }
    for (uint16_t i = 0; i < 3; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        c.damage(*connections[i]);
        if (c.serverSends) {
            ASSERT_EQ(servers_[i]->Send(kDataChannel, "x", 1), 1);
        }
        ASSERT_TRUE(StateBecomes(i, nsNotUse));
        const std::string line = "!MANAGER:연결자 " + std::to_string(i) + c.line;
        EXPECT_TRUE(LogHas(line)) << line;
        (void)ZtifDisconnect(connections[i]);
    }
    ZTIF_CONNECTION* bystander = connections[3];
    // The other connection of the broker goes on.
    const uint8_t ping[3] = {1, 2, 3};
    uint8_t back[3] = {};
    ASSERT_EQ(ZtifSend(bystander, ping, 3, 0, 1000), 3);
    EXPECT_EQ(ZtifReceive(bystander, back, 3, 10000), 3);
    EXPECT_EQ(std::memcmp(back, ping, 3), 0);
    EXPECT_EQ(ZtifDisconnect(bystander), 1);
}

TEST_F(InstanceManager, AnExitRequestInSlotZeroReachesTheProgramOnce) {
    StartBroker();
    SetSlotState(Slot(0), nsBrokerExit);
    ASSERT_TRUE(Eventually([&] { return exitRequests_.load() == 1; }));
    Request(1, 9, 100);
    SleepMs(50);
    EXPECT_EQ(SlotState(Slot(1)), nsNewConnection) << "no new connections while the broker exits";
    EXPECT_EQ(exitRequests_.load(), 1);
}

}  // namespace
}  // namespace velmora::test

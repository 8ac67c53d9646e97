// The broker program end to end: started by the client-interface library as
// a process of its own, reached by test applications that use only the
// library, connected to real server engines that echo.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <thread>

#include "broker/e2e_fixture.h"
#include "clientif/brokerlock.h"
#include "clientif/ztif_codes.h"
#include "clientif/ztif_connection.h"
#include "clientif/ztinstance_slot.h"
#include "platform/ztshared_memory.h"
#include "support/messagepattern.h"
#include "transport/ztudp.h"

namespace velmora::test {
namespace {

std::vector<uint8_t> Message(uint64_t stream, uint32_t index, uint32_t maxSize) {
    std::vector<uint8_t> m;
    MessagePattern(stream, maxSize).Fill(index, m);
    if (m.empty()) m.push_back(1);
    return m;
}

// A port that takes datagrams and never answers.
struct SilentPort {
    SilentPort() : socket(OpenUdpSocket(LoopbackAddressRaw(), 0)) {}
    uint16_t Port() const { return ntohs(BoundPortRaw(socket.Get())); }
    SocketHandle socket;
};

TEST_F(BrokerEndToEnd, TwoApplicationsShareOneBrokerWithSeparateSlots) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* mine = Connect(server);
    ASSERT_NE(mine, nullptr) << ZtifLastErrorText();

    const std::string report = RuntimeFile("app.report");
    const pid_t app =
        SpawnProgram(ProgramFolder() + "/broker_e2e_app",
                     {name_, std::to_string(server.Port()), report, "echo", "60", "70000"},
                     RuntimeFile("app.out"));
    ASSERT_GT(app, 0);
    children_.push_back(app);
    for (uint32_t i = 0; i < 60; ++i) ASSERT_TRUE(EchoOnce(mine, Message(1, i, 70000)));
    EXPECT_EQ(WaitForExit(app, 60000), 0) << ReadText(report) << ReadText(RuntimeFile("app.out"));
    children_.clear();
    const std::string text = ReadText(report);
    EXPECT_EQ(text, "slot " + std::to_string(mine->slotIndex == 0 ? 1 : 0) + "\nok\n");
    EXPECT_EQ(BrokerProcesses(name_).size(), 1u) << "the second application found the broker";
    EXPECT_EQ(ZtifDisconnect(mine), 1);
}

TEST_F(BrokerEndToEnd, OneApplicationReachesTwoServers) {
    EchoServer first, second;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start(nullptr, 2));
    ZTIF_CONNECTION* a = Connect(first);
    ZTIF_CONNECTION* b = Connect(second);
    ASSERT_NE(a, nullptr) << ZtifLastErrorText();
    ASSERT_NE(b, nullptr) << ZtifLastErrorText();
    EXPECT_NE(a->slotIndex, b->slotIndex);
    const uint64_t firstBefore = first.Echoed();
    for (uint32_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(EchoOnce(a, Message(1, i, 5000)));
        ASSERT_TRUE(EchoOnce(b, Message(2, i, 5000)));
    }
    EXPECT_GE(first.Echoed() - firstBefore, 20u);
    EXPECT_EQ(ZtifDisconnect(a), 1);
    EXPECT_EQ(ZtifDisconnect(b), 1);
}

TEST_F(BrokerEndToEnd, StopBrokerReturnsOnceTheListIsGoneAndLaterConnectsAreRefused) {
    SilentPort silent;
    EchoServer server;
    ASSERT_TRUE(server.Start());
    // A failed connect leaves its code, which the refusal must not touch.
    EXPECT_EQ(ZtifConnect(Name(), "127.0.0.1", silent.Port(), 4, 0, 300), nullptr);
    ASSERT_EQ(ZtifLastError(), nleServerConnectFail);
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ASSERT_EQ(BrokerProcesses(name_).size(), 1u);

    ZtifStopBroker(Name());
    ZTSHARED_MEMORY list(Name(), 0, false);
    EXPECT_EQ(list.View(), nullptr);
    EXPECT_TRUE(Eventually([&] { return BrokerProcesses(name_).empty(); }));
    EXPECT_EQ(Connect(server), nullptr);
    EXPECT_EQ(ZtifLastError(), nleServerConnectFail);
    (void)ZtifDisconnect(c);
}

TEST_F(BrokerEndToEnd, AMissingOrFailingBrokerProgramIsReported) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZtifSettings s = ZtifGetSettings();
    s.brokerProgram = RuntimeFile("no-such-dir/ZTBROKER.DLL");
    ZtifSetSettings(s);
    EXPECT_EQ(Connect(server), nullptr);
    EXPECT_EQ(ZtifLastError(), nleHostExcuteNotFound);

    // A broker whose sockets cannot be bound ends with -1 at once.
    s.brokerProgram.clear();
    ZtifSetSettings(s);
    BrokerSettingsForTest("bindAddress=192.0.2.1");
    EXPECT_EQ(Connect(server), nullptr);
    EXPECT_EQ(ZtifLastError(), nleHostExcuteError);
    EXPECT_TRUE(BrokerProcesses(name_).empty());
}

TEST_F(BrokerEndToEnd, ConnectFailuresCarryTheirCodes) {
    SilentPort silent;
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* first = Connect(server);
    ASSERT_NE(first, nullptr) << ZtifLastErrorText();

    // A server that never answers: the broker's verdict after the time-out.
    EXPECT_EQ(ZtifConnect(Name(), "127.0.0.1", silent.Port(), 4, 0, 300), nullptr);
    EXPECT_EQ(ZtifLastError(), nleServerConnectFail);

    // Every slot taken.
    ZTSHARED_MEMORY list(Name(), 0, false);
    ASSERT_NE(list.View(), nullptr);
    std::vector<int32_t> taken;
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        if (ChangeSlotState(SlotAt(list.View(), i), nsNotUse, nsCreating)) taken.push_back(i);
    }
    EXPECT_EQ(Connect(server), nullptr);
    EXPECT_EQ(ZtifLastError(), nleServerConnectFull);
    for (int32_t i : taken) SetSlotState(SlotAt(list.View(), i), nsNotUse);

    // A broker that does not decide in time: its five set-up threads wait
    // on requests to a silent server, so a sixth request waits its turn
    // beyond the connect time-out (and the library allows no grace).
    for (int32_t i = 0; i < 5; ++i) {
        ZTINSTANCE_SLOT& slot = SlotAt(list.View(), 100 + i);
        slot.connectTimeoutMs = 3000;
        slot.serverAddress.setRaw(LoopbackAddressRaw());
        slot.serverPort.setRaw(htons(silent.Port()));
        SetSlotState(slot, nsNewConnection);
    }
    ASSERT_TRUE(Eventually([&] {
        for (int32_t i = 0; i < 5; ++i)
            if (SlotState(SlotAt(list.View(), 100 + i)) == nsNewConnection) return false;
        return true;
    })) << "the five set-up threads are busy";
    ZtifSettings s = ZtifGetSettings();
    s.connectGraceMs = 0;
    ZtifSetSettings(s);
    EXPECT_EQ(Connect(server, 300), nullptr);
    EXPECT_EQ(ZtifLastError(), nleTimeout);
    EXPECT_TRUE(EchoOnce(first, Message(3, 0, 100))) << "the first connection is untouched";
    EXPECT_EQ(ZtifDisconnect(first), 1);
}

TEST_F(BrokerEndToEnd, ADroppedConnectionAnswersPeekAndSendWithNotConnected) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ASSERT_TRUE(EchoOnce(c, Message(4, 0, 100)));
    server.DisconnectAll();
    ASSERT_TRUE(Eventually([&] { return ZtifPeek(c) == -5; }));
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    EXPECT_EQ(ZtifSend(c, "abc", 3, 0, 100), -5);
    EXPECT_EQ(ZtifConnectionError(c), nleNotConnected);
    (void)ZtifDisconnect(c);
}

TEST_F(BrokerEndToEnd, AKilledBrokerIsReplacedByTheNextConnect) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* before = Connect(server);
    ASSERT_NE(before, nullptr) << ZtifLastErrorText();
    const std::vector<pid_t> killed = BrokerProcesses(name_);
    ASSERT_EQ(killed.size(), 1u);
    ASSERT_EQ(kill(killed[0], SIGKILL), 0);
    // Until its last thread is gone, a killed process still holds its
    // files, the broker's lifetime lock among them.
    ASSERT_TRUE(
        Eventually([&] { return !BrokerLock::IsBrokerAlive(BrokerLock::LockPath(name_)); }));

    ZTIF_CONNECTION* after = Connect(server);
    ASSERT_NE(after, nullptr) << ZtifLastErrorText();
    const std::vector<pid_t> fresh = BrokerProcesses(name_);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_NE(fresh[0], killed[0]);
    EXPECT_TRUE(EchoOnce(after, Message(5, 1, 70000)));
    EXPECT_EQ(ZtifPeek(before), -1) << "the old connection's broker has gone";
    (void)ZtifDisconnect(before);
    EXPECT_EQ(ZtifDisconnect(after), 1);
}

TEST_F(BrokerEndToEnd, AnApplicationThatDiedLosesItsConnection) {
    BrokerSettingsForTest("shutdownSettleMs=100,lifeCheckIntervalMs=200,applicationSilenceMs=200");
    EchoServer server;
    ASSERT_TRUE(server.Start());
    const std::string report = RuntimeFile("app.report");
    const pid_t app = SpawnProgram(ProgramFolder() + "/broker_e2e_app",
                                   {name_, std::to_string(server.Port()), report, "hold"},
                                   RuntimeFile("app.out"));
    ASSERT_GT(app, 0);
    children_.push_back(app);
    ASSERT_TRUE(Eventually([&] { return ReadText(report) == "slot 0\n"; }))
        << ReadText(report) << ReadText(RuntimeFile("app.out"));
    ZTSHARED_MEMORY list(Name(), 0, false);
    ASSERT_NE(list.View(), nullptr);
    ASSERT_EQ(SlotState(SlotAt(list.View(), 0)), nsConnected);
    kill(app, SIGKILL);
    EXPECT_TRUE(Eventually([&] { return SlotState(SlotAt(list.View(), 0)) == nsNotUse; }));
}

TEST_F(BrokerEndToEnd, ASilentServerIsDroppedByTheServerLifeCheck) {
    BrokerSettingsForTest(
        "shutdownSettleMs=100,lifeCheckIntervalMs=200,serverSilenceMs=200,"
        "lifeCheckAckWaitMs=300,pingWaitMs=0");
    Impairment clean;
    EchoServer server;
    ASSERT_TRUE(server.Start(&clean));
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ASSERT_TRUE(EchoOnce(c, Message(6, 0, 100)));
    Impairment dead;
    dead.drop = 1.0;
    server.Relay()->SetImpairment(-1, dead, dead);
    EXPECT_TRUE(Eventually([&] { return ZtifPeek(c) == -5; }));
    (void)ZtifDisconnect(c);
}

TEST_F(BrokerEndToEnd, ImpossibleRecordsEndTheirConnectionAndAreLoggedAsCritical) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    ZTSEND_RECORD bad{};
    bad.connectionKey = c->connectionKey;
    bad.totalLength = 10;
    bad.dataLength = 500;  // longer than its message
    ASSERT_EQ(c->sendQueue.Put(bad), kQueueDone);
    EXPECT_TRUE(Eventually([&] { return ZtifPeek(c) == -5; }));
    EXPECT_TRUE(Eventually([&] {
        return ReadText(RuntimeFile("ZTBRK.LOG"))
                   .find("의 전송데이터의 크기가 맞지 않아 연결을 종료합니다.") !=
               std::string::npos;
    }));
    (void)ZtifDisconnect(c);
}

TEST_F(BrokerEndToEnd, BrokersStartedByHandForATakenOrTooLongNameLeaveTheRunningOneAlone) {
    EchoServer server;
    ASSERT_TRUE(server.Start());
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const std::string broker = ProgramFolder() + "/ZTBROKER.DLL";
    struct Case {
        std::string name, mode, says;
    };
    const Case cases[] = {
        {name_, "HIDE", "is running"},
        {name_, "show", "runs without it"},  // upper-cased: SHOW
        {std::string(30, 'x'), "HIDE", "at most 29"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name + " " + k.mode);
        const std::string out = RuntimeFile("hand.out");
        std::remove(out.c_str());
        const pid_t pid = SpawnProgram(broker, {k.name, k.mode}, out);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitForExit(pid, 20000), -1);
        EXPECT_NE(ReadText(out).find(k.says), std::string::npos) << ReadText(out);
    }
    EXPECT_TRUE(EchoOnce(c, Message(7, 0, 5000))) << "the first broker still serves";
    EXPECT_EQ(BrokerProcesses(name_).size(), 1u);
    EXPECT_EQ(ZtifDisconnect(c), 1);
}

}  // namespace
}  // namespace velmora::test

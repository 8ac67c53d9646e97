// The broker engine on its own: start-up results, the router's treatment of
// packets for slots that are not connected, and set-up on a stopped engine.
#include "broker/ztclient.h"

#include <gtest/gtest.h>

#include <cstring>

#include "broker/broker_fixture.h"
#include "broker/ztclientpacketrouter.h"
#include "clientif/ztif_codes.h"
#include "transport/controlmessages.h"

namespace velmora::test {
namespace {

using BrokerEngine = BrokerFixture;

TEST_F(BrokerEngine, OpenAnswersEachStartFailureWithItsCode) {
    StartBroker(false);
    // The first broker's slots must survive every failed start below.
    Slot(7).connectionType = 1234;
    SetSlotState(Slot(7), nsNewConnection);

    struct Case {
        const char* what;
        std::string name;
        std::string settings;
        int32_t want;
        const char* log;
    };
    const Case cases[] = {
        {"a second broker of the same name", name_, "", ZTCLIENT::kNoInstanceList,
         "Instance List 버퍼가 초기화되지 않았습니다"},
        {"a name of 30 characters", std::string(30, 'n'), "", ZTCLIENT::kNoInstanceList,
         "Instance List 버퍼가 초기화되지 않았습니다"},
        {"sockets that cannot be bound", name_ + "b", "bindAddress=192.0.2.1",
         ZTCLIENT::kBindFailed, "듣기용 소켓을 Bind할 수 없습니다"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BrokerSettings settings = settings_;
        ASSERT_TRUE(ApplyBrokerSettings(c.settings, settings, nullptr));
        ZTCLIENT other(c.name.c_str(), settings);
        std::string line;
        other.LogChannel().SetHandler([&line](int level, std::string_view text) {
            if (level == 1) line = text;
        });
        EXPECT_EQ(other.Open(ZTCLIENT::kSocketBufferBytes, ZTCLIENT::kSocketBufferBytes), c.want);
        EXPECT_NE(line.find(c.log), std::string::npos) << line;
        EXPECT_FALSE(other.OpenError().empty());
    }
    RemoveNamedMutexes(name_ + "b");
    EXPECT_EQ(SlotState(Slot(7)), nsNewConnection);
    EXPECT_EQ(Slot(7).connectionType.get(), 1234u);
    EXPECT_EQ(engine_->Open(ZTCLIENT::kSocketBufferBytes, ZTCLIENT::kSocketBufferBytes),
              ZTCLIENT::kAlreadyRunning);
    EXPECT_EQ(engine_->Start(), ZTCLIENT::kAlreadyStarted);
}

TEST_F(BrokerEngine, PacketsForSlotsThatAreNotConnectedAreCountedAsUnknown) {
    StartBroker(false);
    int dropped = 0;
    BrokerStatusHooks hooks;
    hooks.onPacketDropped = [&dropped](int32_t n) { dropped += n; };
    engine_->SetStatusHooks(hooks);
    ZTCLIENTPACKETROUTER router(*engine_);
    PACKETRECEIVED entry{};
    entry.packet.framePackets = 1;
    for (uint16_t key : {uint16_t{500}, uint16_t{3}, uint16_t{0xFFFF}}) {
        entry.packet.connectionKey = key;
        EXPECT_FALSE(router.Route(entry, Tick()));
    }
    // A connecting slot gets nothing either: the server sends again.
    SetSlotState(Slot(3), nsConnecting);
    EXPECT_FALSE(router.Route(entry, Tick()));
    EXPECT_EQ(engine_->Statistics().unknownPackets, 4u);
    EXPECT_EQ(dropped, 4);
}

TEST_F(BrokerEngine, SetUpOnAStoppedEngineFailsWithBrokerNotStarted) {
    engine_ = std::make_unique<ZTCLIENT>(name_.c_str(), settings_);
    ASSERT_TRUE(engine_->HasInstanceList());
    Request(2, 9, 100);
    EXPECT_FALSE(engine_->ConnectSlot(2, 4, 100));
    EXPECT_EQ(SlotState(Slot(2)), nsError);
    EXPECT_EQ(Slot(2).errorCode.get(), nleBrokerNotStart);
}

TEST_F(BrokerEngine, ShutdownSaysGoodbyeToEveryServerFreesTheSlotsAndRemovesTheList) {
    StartBroker();
    FakeServer& a = AddServer(1);
    FakeServer& b = AddServer(4);
    Request(1, a.Port(), 5000);
    Request(4, b.Port(), 5000);
    ASSERT_TRUE(StateBecomes(1, nsConnected));
    ASSERT_TRUE(StateBecomes(4, nsConnected));
    EXPECT_TRUE(a.SawControl(ccConnect));
    manager_->Stop();
    engine_->Shutdown();
    EXPECT_TRUE(
        Eventually([&] { return a.SawControl(ccDisconnect) && b.SawControl(ccDisconnect); }));
    ZTSHARED_MEMORY list(name_.c_str(), 0, false);
    EXPECT_EQ(list.View(), nullptr) << "applications learn that the broker has gone";
}

}  // namespace
}  // namespace velmora::test

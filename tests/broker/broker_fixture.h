// Shared set-up of the broker tests: a private runtime directory, a broker
// name no other test uses, an engine opened with short time constants, the
// instance manager on it when asked, and the engine's status lines collected
// for the tests to look at. Connections are requested either through the
// client-interface library (which finds this process's instance list and
// uses it) or by writing a slot as the library would.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "broker/fake_server.h"
#include "broker/named_mutexes.h"
#include "broker/ztclient.h"
#include "broker/ztinstance_manager.h"
#include "clientif/brokerlock.h"
#include "clientif/ztclientif.h"
#include "platform/tick.h"

namespace velmora::test {

inline BrokerSettings ShortSettings() {
    BrokerSettings s;
    s.startSettleMs = 0;
    s.shutdownSettleMs = 50;
    s.socketWaitMs = 20;
    s.idleWaitMs = 10;
    s.quietAfterMs = 200;
    s.setupRoundTripMs = 200;
    s.disconnectWaitMs = 500;
    s.deliveryStallMs = 300;
    s.takeStallMs = 300;
    s.lifeCheckIntervalMs = 100000;  // tests that want the checks shorten them
    s.serverSilenceMs = 100000;
    s.applicationSilenceMs = 100000;
    s.pingWaitMs = 0;
    s.lifeCheckAckWaitMs = 300;
    return s;
}

class BrokerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/velmora-broker-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        runtimeDir_ = dir;
        setenv("ZTVL_ROOT", dir, 1);
        static int serial = 0;
        name_ = "brk" + std::to_string(getpid()) + "_" + std::to_string(++serial);
        ZtifResetForTesting();
        settings_ = ShortSettings();
    }

    void TearDown() override {
        ZtifResetForTesting();
        if (manager_) manager_->Stop();
        if (engine_) engine_->Shutdown();
        manager_.reset();
        servers_.clear();
        engine_.reset();
        BrokerLock::RemoveSharedObjects(name_);
        RemoveNamedMutexes(name_);
        std::error_code ignored;
        std::filesystem::remove_all(runtimeDir_, ignored);
        unsetenv("ZTVL_ROOT");
    }

    // Opens the engine (and starts the manager) with settings_.
    void StartBroker(bool withManager = true, EchoSocketOpener pingOpener = OpenSystemEchoSocket) {
        engine_ = std::make_unique<ZTCLIENT>(name_.c_str(), settings_);
        engine_->LogChannel().SetHandler([this](int level, std::string_view text) {
            std::lock_guard<std::mutex> lock(logMutex_);
            lines_.push_back((level == 1 ? "!" : " ") + std::string(text));
        });
        ASSERT_EQ(engine_->Open(ZTCLIENT::kSocketBufferBytes, ZTCLIENT::kSocketBufferBytes),
                  ZTCLIENT::kStarted)
            << engine_->OpenError();
        if (withManager)
            manager_ = std::make_unique<ZTINSTANCE_MANAGER>(
                *engine_, [this] { exitRequests_.fetch_add(1); }, std::move(pingOpener));
    }

    // A fake server for slot `key`, answering this broker.
    FakeServer& AddServer(uint16_t key, const Impairment& link = {}) {
        servers_.push_back(std::make_unique<FakeServer>(key, link));
        EXPECT_TRUE(servers_.back()->Start(engine_->DataPortRaw(), engine_->AckPortRaw()));
        return *servers_.back();
    }

    ZTINSTANCE_SLOT& Slot(int32_t i) { return engine_->Slot(i); }

    // Writes a connect request into a free slot as the library does.
    void Request(int32_t i, uint16_t port, uint32_t timeoutMs, uint32_t type = 4) {
        ZTINSTANCE_SLOT& slot = Slot(i);
        slot.connectionKey = 0;
        std::memset(slot.applicationGuid, 0x5A, sizeof(slot.applicationGuid));
        slot.connectionType = type;
        slot.connectTimeoutMs = timeoutMs;
        slot.serverAddress.setRaw(LoopbackAddressRaw());
        slot.serverPort.setRaw(htons(port));
        slot.serverAckPort.setRaw(htons(static_cast<uint16_t>(port + 1)));
        std::strcpy(slot.serverAddressText, "127.0.0.1");
        slot.serverPortHost = port;
        SetSlotState(slot, nsNewConnection);
    }

    bool LogHas(const std::string& part) {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const std::string& l : lines_)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

    // Waits for a condition another thread brings about; false after a
    // generous bound so that a fault fails the test instead of hanging it.
    // No figure of time is asserted.
    template <typename Condition>
    static bool Eventually(Condition condition, uint32_t boundMs = 15000) {
        const uint32_t begin = Tick();
        while (!condition()) {
            if (TickSince(begin) > boundMs) return false;
            SleepMs(1);
        }
        return true;
    }

    bool StateBecomes(int32_t i, int32_t state, uint32_t boundMs = 15000) {
        return Eventually([&] { return SlotState(Slot(i)) == state; }, boundMs);
    }

    std::string runtimeDir_;
    std::string name_;
    BrokerSettings settings_;
    std::unique_ptr<ZTCLIENT> engine_;
    std::unique_ptr<ZTINSTANCE_MANAGER> manager_;
    std::vector<std::unique_ptr<FakeServer>> servers_;
    std::mutex logMutex_;
    std::vector<std::string> lines_;
    std::atomic<int> exitRequests_{0};
};

}  // namespace velmora::test

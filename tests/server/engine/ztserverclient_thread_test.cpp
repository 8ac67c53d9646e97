// Connection threads of mode emClientThread, on a running engine with
// broker-like peers.
#include "server/engine/ztserverclient_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "support/brokerpeer.h"

namespace velmora {
namespace {

// Waits (bounded, so a broken engine fails rather than hangs) until pred.
template <typename P>
bool Eventually(P pred) {
    for (int i = 0; i < 2000; ++i) {
        if (pred()) return true;
        SleepMs(5);
    }
    return pred();
}

struct ThreadLog {
    std::atomic<int> started{0}, finished{0}, destroyed{0}, created{0};
};

class LoggedThread : public ZTSERVERCLIENT_THREAD {
  public:
    explicit LoggedThread(ThreadLog& log) : log_(log) {}
    ~LoggedThread() override { ++log_.destroyed; }
    void ThreadStart() override { ++log_.started; }
    void ThreadFinish() override { ++log_.finished; }

  protected:
    ThreadLog& log_;
};

class ReturningThread : public LoggedThread {
  public:
    using LoggedThread::LoggedThread;
    void Execute() override {}
};

// Ignores its stop request until the test opens the gate.
class StuckThread : public LoggedThread {
  public:
    StuckThread(ThreadLog& log, std::mutex& m, std::condition_variable& cv, bool& open)
        : LoggedThread(log), m_(m), cv_(cv), open_(open) {}
    void Execute() override {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return open_; });
    }

  private:
    std::mutex& m_;
    std::condition_variable& cv_;
    bool& open_;
};

class ClientThreadTest : public ::testing::Test {
  protected:
    void Start(int32_t managers, int32_t perManager, EngineSettings settings = {}) {
        settings.threadWaitMs = 5;
        engine = std::make_unique<ZTSERVER>(managers, perManager, settings);
        ASSERT_TRUE(enginetest::OpenOnFreePorts(*engine));
        engine->mode = emClientThread;
        engine->callbacks.OnHostDisconnect = [this](ZTHOSTLIST&) { ++disconnects; };
    }
    std::unique_ptr<BrokerPeer> Connect(uint16_t key, int32_t type = ctViewerSession) {
        auto peer = std::make_unique<BrokerPeer>(key);
        EXPECT_TRUE(peer->Open());
        peer->SetServer(LoopbackAddressRaw(), engine->ReceivePortRaw(), engine->SendPortRaw());
        EXPECT_TRUE(peer->Start());
        EXPECT_EQ(peer->Connect(type, 3000), static_cast<int32_t>(sizeof(CONTROL_CONNECT)));
        return peer;
    }
    ZTHOSTLIST* Find(uint16_t key) { return engine->FindHost(LoopbackAddressRaw(), key); }

    std::unique_ptr<ZTSERVER> engine;
    ThreadLog log;
    std::atomic<int> disconnects{0};
};

TEST_F(ClientThreadTest, ThreadThatReturnsEndsTheConnectionWithReasonMinusOne) {
    Start(1, 1);
    engine->callbacks.OnCreateClientThread = [this](ZTHOSTLIST&, int32_t) {
        ++log.created;
        return std::make_unique<ReturningThread>(log);
    };
    ASSERT_EQ(engine->Start(), 1);
    auto peer = Connect(3);
    std::vector<uint8_t> message;
    ASSERT_TRUE(peer->WaitControl(ccDisconnect, &message, 5000));
    EXPECT_EQ(message, (std::vector<uint8_t>{ccDisconnect, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(log.created.load(), 1);
    EXPECT_EQ(log.started.load(), 1);
}

TEST_F(ClientThreadTest, StuckThreadIsLeftToEndAndItsRecordWaitsForIt) {
    EngineSettings settings;
    settings.clientStopLimitMs = 100;
    Start(1, 2, settings);
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    engine->callbacks.OnCreateClientThread = [&](ZTHOSTLIST&, int32_t) {
        return std::make_unique<StuckThread>(log, m, cv, open);
    };
    ASSERT_EQ(engine->Start(), 1);

    auto first = Connect(3);
    ZTHOSTLIST* stuck = Find(3);
    ASSERT_NE(stuck, nullptr);
    ASSERT_TRUE(Eventually([&] { return log.started.load() == 1; }));
    const CONTROL_DISCONNECT bye = MakeDisconnect(0);
    ASSERT_EQ(first->SendControl(&bye, sizeof(bye), 3000), static_cast<int32_t>(sizeof(bye)));
    first->Stop();

    // The release gave up waiting: the record is out of use but not free,
    // and a new connection of the same peer gets another record.
    ASSERT_TRUE(Eventually([&] { return disconnects.load() == 1; }));
    ASSERT_TRUE(Eventually([&] { return Find(3) == nullptr; }));
    EXPECT_EQ(stuck->State(), hsDropping);
    ASSERT_NE(stuck->thread, nullptr);
    EXPECT_TRUE(stuck->thread->Orphaned());
    EXPECT_EQ(log.finished.load(), 0);
    EXPECT_EQ(log.destroyed.load(), 0);
    auto second = Connect(3);
    ZTHOSTLIST* fresh = Find(3);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, stuck);
    EXPECT_TRUE(Eventually([&] { return fresh->State() == hsConnected; }));

    {
        std::lock_guard<std::mutex> lock(m);
        open = true;
    }
    cv.notify_all();
    // Once the thread has left, the record is released and the object goes.
    ASSERT_TRUE(Eventually([&] { return stuck->State() == hsFree; }));
    EXPECT_EQ(log.finished.load(), 1);
    EXPECT_EQ(log.destroyed.load(), 1);
    EXPECT_EQ(disconnects.load(), 1);
    second->Stop();
    engine->Shutdown();
}

TEST_F(ClientThreadTest, MemoryServiceConnectGetsTheEnginesThreadNotTheApplications) {
    Start(1, 2);
    engine->callbacks.OnCreateClientThread = [this](ZTHOSTLIST&, int32_t) {
        ++log.created;
        return std::make_unique<LoggedThread>(log);
    };
    ThreadLog service;
    engine->createMemoryServiceThread = [&](ZTHOSTLIST&) {
        ++service.created;
        return std::make_unique<LoggedThread>(service);
    };
    ASSERT_EQ(engine->Start(), 1);
    auto peer = Connect(8, ctMemoryService);
    ASSERT_TRUE(Eventually([&] { return service.started.load() == 1; }));
    EXPECT_EQ(log.created.load(), 0);
    ZTHOSTLIST* host = Find(8);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->connectionType, ctMemoryService);
    peer->Stop();
    engine->Shutdown();
    EXPECT_EQ(service.finished.load(), 1);
    EXPECT_EQ(service.destroyed.load(), 1);
}

}  // namespace
}  // namespace velmora

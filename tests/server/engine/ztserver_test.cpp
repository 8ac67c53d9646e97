// The engine as a whole: opening, the receive loop, the modes that hand data
// to the application, and shut-down.
#include "server/engine/ztserver.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "enginetestkit.h"
#include "platform/tick.h"
#include "server/engine/ztserverclient_thread.h"
#include "server/engine/ztservermaster_thread.h"
#include "support/brokerpeer.h"

namespace velmora {
namespace {

using enginetest::RawPeer;

template <typename P>
bool Eventually(P pred) {
    for (int i = 0; i < 2000; ++i) {
        if (pred()) return true;
        SleepMs(5);
    }
    return pred();
}

EngineSettings Quick() {
    EngineSettings s;
    s.threadWaitMs = 5;
    return s;
}

// A UDP socket holding 127.0.0.1:port.
SocketHandle Hold(uint16_t port) {
    return SocketHandle(OpenUdpSocket(LoopbackAddressRaw(), htons(port)));
}

TEST(EngineOpen, AnswersItsCodes) {
    ZTSERVER probe(1, 1);
    ASSERT_TRUE(enginetest::OpenOnFreePorts(probe));
    const uint16_t port = ntohs(probe.ReceivePortRaw());
    probe.Shutdown();

    {
        SocketHandle p = Hold(port);
        ZTSERVER engine(1, 1);
        EXPECT_EQ(engine.Open("127.0.0.1", port, 300000, 300000), ZTSERVER::kBindFailed);
    }
    {
        SocketHandle p1 = Hold(static_cast<uint16_t>(port + 1));
        ZTSERVER engine(1, 1);
        EXPECT_EQ(engine.Open("127.0.0.1", port, 300000, 300000), ZTSERVER::kBindFailed);
        // The receive socket was closed again: P can be taken.
        EXPECT_TRUE(Hold(port).Valid());
    }
    ZTSERVER engine(1, 1, Quick());
    EXPECT_EQ(engine.Open("not an address", port, 0, 0), ZTSERVER::kNoAddress);
    EXPECT_EQ(engine.Open("127.0.0.1", 65535, 0, 0), ZTSERVER::kBindFailed);
    ASSERT_EQ(engine.Open("127.0.0.1", port, 300000, 300000), ZTSERVER::kOpened);
    EXPECT_STREQ(engine.AddressText(), "127.0.0.1");
    ASSERT_EQ(engine.Start(), 1);
    EXPECT_EQ(engine.Open("127.0.0.1", static_cast<uint16_t>(port + 2), 0, 0),
              ZTSERVER::kAlreadyRunning);
    EXPECT_EQ(ntohs(engine.ReceivePortRaw()), port);
}

TEST(EngineOpen, OwnAddressWithoutConfigurationIsReachable) {
    ZTSERVER engine(1, 1);
    // Any port pair will do; only the address matters here.
    int32_t r = ZTSERVER::kBindFailed;
    for (uint16_t port = 41000; r == ZTSERVER::kBindFailed && port < 41200; port += 2)
        r = engine.Open(nullptr, port, 0, 0);
    ASSERT_EQ(r, ZTSERVER::kOpened);
    const std::string text = engine.AddressText();
    EXPECT_NE(text.rfind("127.0.1.", 0), 0u) << text;  // the host name's usual address
    EXPECT_NE(engine.LocalAddressRaw(), 0u);
}

TEST(EngineReceive, WrongLengthDatagramsAreCountedAndNeverRouted) {
    ZTSERVER engine(1, 1, Quick());
    std::atomic<int> received{0};
    engine.callbacks.OnReceive = [&](const ZTPACKET&) { ++received; };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);
    RawPeer peer(2);
    ASSERT_TRUE(peer.Open());

    const std::vector<uint8_t> wrong[] = {
        std::vector<uint8_t>(1023, 1), std::vector<uint8_t>(1025, 1), std::vector<uint8_t>(28, 1)};
    for (const auto& d : wrong)
        ASSERT_TRUE(peer.SendTo(engine.ReceivePortRaw(), d.data(), d.size()));
    ASSERT_TRUE(Eventually([&] { return engine.BadLength() == 3; }));
    EXPECT_FALSE(peer.ReadData(50).has_value());  // nothing reached the router
    EXPECT_EQ(received.load(), 0);

    // A whole packet of nobody does reach it, and is refused.
    const ZTPACKET stray = peer.Control({ccEcho});
    ASSERT_TRUE(peer.SendTo(engine.ReceivePortRaw(), &stray, sizeof(stray)));
    const auto reply = peer.ReadData(2000);
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(IsRefusal(enginetest::AsPacket(*reply)));
    // The hook runs after the push, so the refusal may come first.
    EXPECT_TRUE(Eventually([&] { return received.load() == 1; }));
    EXPECT_EQ(engine.BadLength(), 3u);
}

TEST(EngineModes, NotifyModeReportsWaitingDataUntilItIsTaken) {
    ZTSERVER engine(1, 1, Quick());
    std::atomic<ZTHOSTLIST*> ready{nullptr};
    engine.callbacks.OnFrameReady = [&](ZTHOSTLIST& h) { ready.store(&h); };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);
    BrokerPeer peer(5);
    ASSERT_TRUE(peer.Open());
    peer.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
    ASSERT_TRUE(peer.Start());
    ASSERT_GT(peer.Connect(ctViewerSession, 3000), 0);
    ASSERT_EQ(peer.Send("hello", 5, 3000), 5);
    ASSERT_TRUE(Eventually([&] { return ready.load() != nullptr; }));
    char buffer[8] = {};
    ASSERT_EQ(engine.HostReceive(*ready.load(), buffer, sizeof(buffer), 1000), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    peer.Stop();
}

class RecordingMaster : public ZTSERVERMASTER_THREAD {
  public:
    void HostAdded(ZTHOSTLIST&) override { Note("added"); }
    void HostRemoved(ZTHOSTLIST&) override { Note("removed"); }
    void FrameReady(ZTHOSTLIST& host) override {
        char buffer[8];
        if (Engine()->HostReceive(host, buffer, sizeof(buffer), 0) > 0) Note("data");
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

  private:
    void Note(const char* e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.emplace_back(e);
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

TEST(EngineModes, MasterThreadSeesHostsComeAndGoAndTheirData) {
    ZTSERVER engine(1, 1, Quick());
    RecordingMaster* master = nullptr;
    engine.mode = emMasterThread;
    engine.callbacks.OnCreateMasterThread = [&](ZTSERVER&) {
        auto m = std::make_unique<RecordingMaster>();
        master = m.get();
        return m;
    };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);
    ASSERT_NE(master, nullptr);
    BrokerPeer peer(6);
    ASSERT_TRUE(peer.Open());
    peer.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
    ASSERT_TRUE(peer.Start());
    ASSERT_GT(peer.Connect(ctViewerSession, 3000), 0);
    ASSERT_EQ(peer.Send("x", 1, 3000), 1);
    ASSERT_TRUE(Eventually([&] { return master->Events().size() == 2; }));
    const CONTROL_DISCONNECT bye = MakeDisconnect(0);
    ASSERT_GT(peer.SendControl(&bye, sizeof(bye), 3000), 0);
    ASSERT_TRUE(Eventually([&] { return master->Events().size() == 3; }));
    EXPECT_EQ(master->Events(), (std::vector<std::string>{"added", "data", "removed"}));
    peer.Stop();
}

class FinishRecorder : public ZTSERVERCLIENT_THREAD {
  public:
    explicit FinishRecorder(std::function<void()> onFinish) : onFinish_(std::move(onFinish)) {}
    void ThreadFinish() override { onFinish_(); }

  private:
    std::function<void()> onFinish_;
};

TEST(EngineShutdown, RunsItsStepsInOrderOnce) {
    ZTSERVER engine(1, 1, Quick());
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const std::string& e) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back(e);
    };
    engine.mode = emClientThread;
    engine.callbacks.OnCreateClientThread = [&](ZTHOSTLIST&, int32_t) {
        return std::make_unique<FinishRecorder>([&] { note("thread finished"); });
    };
    engine.callbacks.OnDestroy = [&] { note("destroy"); };
    engine.callbacks.OnHostDisconnect = [&](ZTHOSTLIST&) { note("host disconnect"); };
    engine.callbacks.OnShutdownProgress = [&](const char* text, int32_t percent) {
        note(std::string(text) + " " + std::to_string(percent));
    };
    ASSERT_TRUE(enginetest::OpenOnFreePorts(engine));
    ASSERT_EQ(engine.Start(), 1);
    BrokerPeer peer(7);
    ASSERT_TRUE(peer.Open());
    peer.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
    ASSERT_TRUE(peer.Start());
    ASSERT_GT(peer.Connect(ctViewerSession, 3000), 0);
    ASSERT_TRUE(Eventually([&] {
        ZTHOSTLIST* h = engine.FindHost(LoopbackAddressRaw(), 7);
        return h != nullptr && h->State() == hsConnected;
    }));

    engine.Shutdown();
    engine.Shutdown();
    EXPECT_TRUE(engine.Destroyed());
    const std::vector<std::string> expected = {"destroy",
                                               "Main Receive Thread Shutdown 0",
                                               "Main Packet Router Thread Shutdown 20",
                                               "Host Manager Thread Shutdown 40",
                                               "Acks Listen Thread Shutdown 60",
                                               "host disconnect",
                                               "thread finished",
                                               "Close Sockets 80",
                                               "Destory Success 100"};
    EXPECT_EQ(events, expected);
    peer.Stop();
}

}  // namespace
}  // namespace velmora

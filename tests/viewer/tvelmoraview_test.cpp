// The view thread against a scripted server: logon outcomes, the receive
// loop, the lost connection, held-back mouse moves on a fake clock, and the
// messages the window sends through it.
#include "viewer/tvelmoraview.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/tick.h"
#include "viewer/scriptedlink.h"
#include "viewer/servermessages.h"

namespace velmora {
namespace {

using namespace velmora::testing;

class FakeClock final : public Clock {
  public:
    uint32_t Now() const override { return now.load(); }
    std::atomic<uint32_t> now{1000};
};

// Polls until `done` holds; the limit only keeps a broken build from hanging.
bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 10000; ++i) {
        if (done()) return true;
        SleepMs(1);
    }
    return done();
}

struct StateLog : ViewObserver {
    std::mutex lock;
    std::vector<int> states;
    std::atomic<int> lost{0};
    void OnStateChanged(int result) override {
        std::lock_guard<std::mutex> guard(lock);
        states.push_back(result);
    }
    void OnConnectionLost() override { ++lost; }
    std::vector<int> States() {
        std::lock_guard<std::mutex> guard(lock);
        return states;
    }
};

class View : public ::testing::Test {
  protected:
    std::unique_ptr<TVelmoraView> Make() {
        ViewParams params;
        params.target.serverAddress = "10.1.2.3";
        params.target.serverPort = 9000;
        params.idleSleepMs = 1;
        params.busySleepMs = 1;
        params.endDelayMs = 0;
        params.clock = &clock;
        return std::make_unique<TVelmoraView>(params, std::make_unique<ScriptedLink>(server), &log);
    }
    std::unique_ptr<TVelmoraView> Connected() {
        server->Queue(AsBytes(MakeLogonAnswer(true, laAccepted)));
        server->Queue(AsBytes(MakeScreenInfo(24, 320, 200)));
        auto view = Make();
        EXPECT_TRUE(view->Start());
        EXPECT_TRUE(WaitUntil([&] { return view->Result() != vrConnecting; }));
        EXPECT_EQ(view->Result(), vrConnected);
        return view;
    }
    // Waits until the receive loop has turned `n` more times.
    static void Turns(const TVelmoraView& view, uint64_t n) {
        const uint64_t target = view.Turns() + n;
        ASSERT_TRUE(WaitUntil([&] { return view.Turns() >= target; }));
    }

    std::shared_ptr<ScriptedServer> server = std::make_shared<ScriptedServer>();
    FakeClock clock;
    StateLog log;
};

TEST_F(View, LogonOutcomes) {
    struct Case {
        const char* name;
        int32_t connectResult;
        std::vector<Bytes> answers;
        int result;
    } cases[] = {
        {"no broker connection", nleServerConnectFail, {}, vrNoAnswer},
        {"no answer", nleOk, {}, vrNoAnswer},
        {"answer of the wrong length", nleOk, {Bytes(4, 1)}, vrNoAnswer},
        {"refused over the user count", nleOk, {AsBytes(MakeLogonAnswer(false, -1))}, vrRefused},
        {"refusal without a code", nleOk, {AsBytes(MakeLogonAnswer(false, 0))}, vrRefused},
        {"no screen description", nleOk, {AsBytes(MakeLogonAnswer(true, 0))}, vrNoAnswer},
        {"screen description of 8 bytes",
         nleOk,
         {AsBytes(MakeLogonAnswer(true, 0)), Bytes(8, 24)},
         vrNoAnswer},
        {"screen description of no depth",
         nleOk,
         {AsBytes(MakeLogonAnswer(true, 0)), AsBytes(MakeScreenInfo(12, 320, 200))},
         vrNoAnswer},
        {"accepted",
         nleOk,
         {AsBytes(MakeLogonAnswer(true, 0)), AsBytes(MakeScreenInfo(16, 320, 200))},
         vrConnected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server = std::make_shared<ScriptedServer>();
        server->connectResult = c.connectResult;
        for (const Bytes& a : c.answers) server->Queue(a);
        auto view = Make();
        ASSERT_TRUE(view->Start());
        ASSERT_TRUE(WaitUntil([&] { return view->Result() != vrConnecting; }));
        EXPECT_EQ(view->Result(), c.result);
        EXPECT_EQ(server->target.brokerName, "ZTVLVIEW_BROKER");
        EXPECT_EQ(server->target.connectionType, 4u);
        EXPECT_EQ(server->target.serverPort, 9000);
        if (c.connectResult == nleOk) {
            const auto sent = server->Sent();
            ASSERT_FALSE(sent.empty());
            EXPECT_EQ(sent[0].size(), 200u);  // LOGON_REQUEST
        }
        if (c.result == vrConnected) {
            EXPECT_EQ(view->Dispatcher().Width(), 320);
            EXPECT_EQ(view->Dispatcher().Screen().depth, 16);
            view->Stop();
            EXPECT_EQ(view->Result(), vrEnded);
        } else {
            EXPECT_FALSE(view->FailureText().empty());
            view->Stop();
            EXPECT_EQ(view->Result(), c.result);  // a failed logon keeps its result
        }
        EXPECT_FALSE(server->connected);
    }
}

TEST_F(View, AppliesMessagesUntilThePeekFails) {
    auto view = Connected();
    TestBlock block{0, 10, 10, 10, {}};
    FillBlock(block, 24, 0x55);
    server->Queue(BlocksMessage(24, {block}));
    server->Queue(MemberListMessage({{"10.0.0.1", true}}));
    ASSERT_TRUE(WaitUntil([&] { return view->Dispatcher().Members().Count() == 1; }));
    EXPECT_EQ(view->Dispatcher().PixelAt(0, 9), 0xFF550000u);
    EXPECT_EQ(view->Figures().blocks, 1u);

    server->peekFailure = -1;  // the broker has gone
    ASSERT_TRUE(WaitUntil([&] { return view->Result() == vrEnded; }));
    EXPECT_EQ(log.lost.load(), 1);
    EXPECT_EQ(log.States(), (std::vector<int>{vrConnected, vrEnded}));
    EXPECT_EQ(view->SendControlRequest(1), nleNotConnected);
    EXPECT_FALSE(server->connected);
}

TEST_F(View, AMessageWhoseReceiveFailsIsNotApplied) {
    auto view = Connected();
    TestBlock block{0, 10, 10, 10, {}};
    FillBlock(block, 24, 0x55);
    {
        std::lock_guard<std::mutex> guard(server->lock);
        server->receiveFailure = -2;  // the queue is damaged
        server->inbound.push_back(BlocksMessage(24, {block}));
    }
    ASSERT_TRUE(WaitUntil([&] { return view->Result() == vrEnded; }));
    EXPECT_EQ(view->Figures().messages, 0u);
    EXPECT_EQ(log.lost.load(), 1);
}

TEST_F(View, HeldBackMovesGoOutAtMostEveryHundredMilliseconds) {
    auto view = Connected();
    const size_t logon = server->SentCount();
    auto mice = [&] {
        std::vector<MOUSE_EVENT> out;
        const auto sent = server->Sent();
        for (size_t i = logon; i < sent.size(); ++i) {
            MOUSE_EVENT m;
            if (ReadRecord(sent[i].data(), sent[i].size(), &m) == amOk) out.push_back(m);
        }
        return out;
    };
    view->HoldMove(10, 20);
    view->HoldMove(11, 21);
    Turns(*view, 3);
    EXPECT_TRUE(mice().empty());  // no time has passed since logon
    clock.now += 100;
    Turns(*view, 3);
    EXPECT_TRUE(mice().empty());  // exactly 100 ms: not yet
    clock.now += 1;
    ASSERT_TRUE(WaitUntil([&] { return mice().size() == 1; }));
    MOUSE_EVENT m = mice()[0];
    EXPECT_EQ(m.pending, 1);
    EXPECT_EQ(m.action, maMove);
    EXPECT_EQ(m.x, 11);  // the latest position only
    EXPECT_EQ(m.y, 21);
    Turns(*view, 3);
    EXPECT_EQ(mice().size(), 1u);  // sent once

    // A click carries its own position: the move held back before it is
    // dropped, and the click is not sent again by the flush.
    view->HoldMove(40, 50);
    ASSERT_GT(view->SendMouse(42, 52, maLeftDown), 0);
    clock.now += 500;
    Turns(*view, 3);
    const auto all = mice();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].action, maLeftDown);
    EXPECT_EQ(all[1].pending, 0);
    EXPECT_EQ(all[1].x, 42);
}

TEST_F(View, SendsKeysAndControlRequestsOnlyWhileConnected) {
    auto view = Make();
    EXPECT_EQ(view->SendControlRequest(1), nleNotConnected);
    view.reset();
    view = Connected();
    KEY_EVENT typed[2]{};
    typed[0].virtualKey = typed[1].virtualKey = 0x41;  // A down, A up
    typed[1].flags = kfKeyUp;
    ASSERT_EQ(view->SendKeys(typed, 2), 642);
    ASSERT_EQ(view->SendControlRequest(1), 33);
    ASSERT_EQ(view->SendMouse(1, 2, maWheel, -120), 17);
    const auto sent = server->Sent();
    ASSERT_GE(sent.size(), 4u);
    KEY_EVENTS k;
    ASSERT_EQ(ReadKeyEvents(sent[sent.size() - 3].data(), 642, &k), amOk);
    EXPECT_EQ(k.marker, 1);
    EXPECT_EQ(k.count, 2);
    EXPECT_EQ(k.entries[1].virtualKey, 0x41);
    EXPECT_EQ(k.entries[1].flags, kfKeyUp);
    CONTROL_REQUEST c;
    ASSERT_EQ(ReadRecord(sent[sent.size() - 2].data(), 33, &c), amOk);
    EXPECT_EQ(c.flag, 1);
    MOUSE_EVENT w;
    ASSERT_EQ(ReadRecord(sent.back().data(), 17, &w), amOk);
    EXPECT_EQ(w.wheel, -120);
}

}  // namespace
}  // namespace velmora

#include "platform/ztthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include "platform/tick.h"

namespace velmora {
namespace {

// A worker that counts its turns until asked to stop.
class CountingThread : public ZTTHREAD {
public:
    CountingThread() { threadProc = &CountingThread::Proc; }
    std::atomic<int> turns{0};

private:
    static uint32_t Proc(void* self) {
        auto* t = static_cast<CountingThread*>(self);
        t->BeginLoop();
        while (!t->StopRequested()) {
            t->PausePoint();
            t->turns.fetch_add(1);
            SleepMs(1);
        }
        t->EndLoop();
        return 7;
    }
};

bool WaitFor(const std::function<bool()>& cond, uint32_t limitMs = 5000) {
    const uint32_t begin = Tick();
    while (!cond()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(1);
    }
    return true;
}

TEST(ZtThread, WaitsAtTheStartGateUntilRunTrue) {
    CountingThread t;
    ASSERT_TRUE(t.Run(false));
    EXPECT_TRUE(t.IsStarted());
    SleepMs(30);
    EXPECT_EQ(t.turns.load(), 0);
    EXPECT_FALSE(t.IsRunning());

    ASSERT_TRUE(t.Run(true));
    EXPECT_TRUE(WaitFor([&] { return t.turns.load() > 0; }));
    EXPECT_TRUE(t.StopAndWait(1));
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(t.ExitCode(), 7u);
}

TEST(ZtThread, RunFalsePausesARunningLoopAtItsPausePoint) {
    CountingThread t;
    ASSERT_TRUE(t.Run(true));
    ASSERT_TRUE(WaitFor([&] { return t.turns.load() > 0; }));
    t.Run(false);
    SleepMs(20);  // let the loop reach its pause point
    const int paused = t.turns.load();
    SleepMs(30);
    EXPECT_LE(t.turns.load(), paused + 1);
    t.Run(true);
    EXPECT_TRUE(WaitFor([&] { return t.turns.load() > paused + 1; }));
    EXPECT_TRUE(t.StopAndWait(1));
}

TEST(ZtThread, ThreadNeverReleasedFromItsGateDoesNotRunItsProcedure) {
    static std::atomic<int> ran{0};
    struct Once : ZTTHREAD {
        Once() { threadProc = [](void*) -> uint32_t { ran.fetch_add(1); return 0; }; }
    };
    auto t = std::make_unique<Once>();
    ASSERT_TRUE(t->Run(false));
    SleepMs(10);
    t.reset();  // releases the gate as a cancellation and joins
    EXPECT_EQ(ran.load(), 0);

    Once started;
    ASSERT_TRUE(started.Run(true));
    EXPECT_TRUE(started.StopAndWait(1, 5000));
    EXPECT_EQ(ran.load(), 1);
}

TEST(ZtThread, StopAndWaitGivesUpAfterItsLimit) {
    struct Stubborn : ZTTHREAD {
        std::atomic<bool> release{false};
        Stubborn() { threadProc = [](void* p) -> uint32_t {
            auto* s = static_cast<Stubborn*>(p);
            while (!s->release.load()) SleepMs(1);
            return 0;
        }; }
    } t;
    ASSERT_TRUE(t.Run(true));
    EXPECT_FALSE(t.StopAndWait(1, 30));
    EXPECT_FALSE(t.HasExited());
    t.release = true;
    EXPECT_TRUE(t.StopAndWait(1, 5000));
    EXPECT_TRUE(t.HasExited());
}

TEST(ZtThread, RunWithoutProcedureFails) {
    ZTTHREAD t;
    EXPECT_FALSE(t.Run(true));
    EXPECT_FALSE(t.IsStarted());
}

}  // namespace
}  // namespace velmora

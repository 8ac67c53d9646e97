#include "hook/hookqueue.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/shared_name.h"
#include "platform/tick.h"

namespace velmora {
namespace {

// Private names, so tests running at the same time never share a queue.
class HookQueueTest : public ::testing::Test {
  protected:
    HookQueueTest()
        : suffix_(std::to_string(getpid()) + "." +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name()),
          mutexName_("ZTHOOKTEST." + suffix_),
          memoryName_("ZTHOOKTESTQUEUE." + suffix_),
          queue_(mutexName_.c_str(), memoryName_.c_str()) {}
    // Named mutexes outlive their users; a test's own goes with it.
    ~HookQueueTest() override { shm_unlink(SharedMutexObjectName(mutexName_).c_str()); }

    static HOOKEVENT Event(int32_t n) {
        HOOKEVENT e{};
        e.message = kWmMoving;
        e.left = n;
        e.right = n + 10;
        return e;
    }

    std::string suffix_;
    std::string mutexName_;
    std::string memoryName_;
    HookQueue queue_;
};

TEST_F(HookQueueTest, DeliversRecordsInOrderAcrossTheRingsWrap) {
    ASSERT_TRUE(queue_.IsOpen()) << queue_.LastError();
    HOOKEVENT e{};
    // Move both indexes near the end of the ring, then cross it.
    for (int n = 0; n < 1990; ++n) {
        ASSERT_TRUE(queue_.Put(Event(n)));
        ASSERT_TRUE(queue_.Get(&e));
    }
    for (int n = 0; n < 1999; ++n) ASSERT_TRUE(queue_.Put(Event(n)));
    EXPECT_EQ(queue_.Count(), 1999);
    for (int n = 0; n < 1999; ++n) {
        ASSERT_TRUE(queue_.Get(&e));
        ASSERT_EQ(e.left.get(), n);
        ASSERT_EQ(e.right.get(), n + 10);
    }
    EXPECT_EQ(queue_.Count(), 0);
}

TEST_F(HookQueueTest, AnEmptyQueueLeavesTheCallersRecordUntouched) {
    HOOKEVENT e = Event(42);
    EXPECT_FALSE(queue_.Get(&e));
    EXPECT_EQ(e.left.get(), 42);
    EXPECT_EQ(e.message.get(), kWmMoving);
}

TEST_F(HookQueueTest, TwoThousandPutsWithoutAGetReadAsEmpty) {
    for (int n = 0; n < 2000; ++n) ASSERT_TRUE(queue_.Put(Event(n)));
    HOOKEVENT e{};
    EXPECT_FALSE(queue_.Get(&e));
    EXPECT_EQ(queue_.Count(), 0) << "the count agrees with what can be read";
    ASSERT_TRUE(queue_.Put(Event(7)));
    EXPECT_EQ(queue_.Count(), 1);
    queue_.Clear();
    EXPECT_EQ(queue_.Count(), 0);
    EXPECT_FALSE(queue_.Get(&e));
}

TEST_F(HookQueueTest, IndexesLeftOutOfRangeNeverReachBeyondTheRing) {
    ASSERT_TRUE(queue_.Put(Event(1)));
    queue_.Shared()->readIndex = 70000;  // as a broken process might leave it
    HOOKEVENT e{};
    EXPECT_FALSE(queue_.Get(&e));
    EXPECT_EQ(queue_.Shared()->readIndex.get(), 0u);
    queue_.Shared()->writeIndex = 2000;
    EXPECT_TRUE(queue_.Put(Event(2)));
    EXPECT_TRUE(queue_.Get(&e));
    EXPECT_EQ(e.left.get(), 2);
}

TEST_F(HookQueueTest, AnotherProcessSharesTheQueue) {
    const pid_t child = fork();
    if (child == 0) {
        HookQueue other(mutexName_.c_str(), memoryName_.c_str());
        bool ok = other.IsOpen();
        for (int n = 0; n < 3; ++n) ok = ok && other.Put(Event(100 + n));
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HOOKEVENT e{};
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(queue_.Get(&e));
        EXPECT_EQ(e.left.get(), 100 + n);
    }
}

TEST_F(HookQueueTest, AHeldMutexDropsPutsAndMakesGetReportNothing) {
    ASSERT_TRUE(queue_.Put(Event(1)));
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        ZTMUTEX mutex;
        ASSERT_TRUE(mutex.Create(mutexName_.c_str()));
        mutex.Lock();
        held = true;
        while (!release) SleepMs(1);
        mutex.Unlock();
    });
    while (!held) SleepMs(1);
    HOOKEVENT e{};
    EXPECT_FALSE(queue_.Put(Event(2)));  // each waits its 100 ms, then gives up
    EXPECT_FALSE(queue_.Get(&e));
    release = true;
    holder.join();
    ASSERT_TRUE(queue_.Get(&e));
    EXPECT_EQ(e.left.get(), 1);
    EXPECT_FALSE(queue_.Get(&e)) << "the dropped record never arrives";
}

}  // namespace
}  // namespace velmora

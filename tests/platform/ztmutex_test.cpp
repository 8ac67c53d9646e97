#include "platform/ztmutex.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/child_process.h"
#include "platform/shared_name.h"
#include "platform/ztshared_memory.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ProcessSignal;

// Each case uses a name of its own and removes the mutex object afterwards
// (the class itself never removes it; see its destructor).
class ZtMutexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = "mx" + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { shm_unlink(SharedMutexObjectName(name_).c_str()); }
    const char* Name() const { return name_.c_str(); }

    // Whether a thread other than the caller can take the mutex right now.
    bool FreeForAnotherThread() {
        bool got = false;
        std::thread other([&] {
            ZTMUTEX mine;
            got = mine.Create(Name()) && mine.TryLock(0);
            if (got) (void)mine.Unlock();
        });
        other.join();
        return got;
    }

    std::string name_;
};

TEST_F(ZtMutexTest, TwoProcessesCreatingAtOnceShareOneMutex) {
    constexpr int kTurns = 5000;
    ZTSHARED_MEMORY counter(Name(), sizeof(uint32_t), true);
    ASSERT_NE(counter.View(), nullptr) << counter.LastError();
    ProcessSignal childReady, go;

    // Both sides create the mutex after the barrier, then bump a counter in
    // shared memory with a gap between read and write: only real exclusion
    // keeps every increment.
    auto work = [&](bool child) -> int {
        ZTSHARED_MEMORY memory(Name(), 0, false);
        if (memory.View() == nullptr) return 10;
        if (child) {
            childReady.Post();
            if (!go.Await()) return 11;
        }
        ZTMUTEX mutex;
        if (!mutex.Create(Name())) return 12;
        auto* value = reinterpret_cast<volatile uint32_t*>(memory.View());
        for (int i = 0; i < kTurns; ++i) {
            if (mutex.Lock() != 1) return 13;
            const uint32_t seen = *value;
            sched_yield();  // lets the other side run inside the gap, even on one core
            *value = seen + 1;
            if (mutex.Unlock() != 1) return 14;
        }
        return 0;
    };
    ChildProcess child([&] { return work(true); });
    ASSERT_TRUE(childReady.Await());
    go.Post();
    EXPECT_EQ(work(false), 0);
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(*reinterpret_cast<uint32_t*>(counter.View()), 2u * kTurns);
}

TEST_F(ZtMutexTest, BoundedWaitFailsWhileAnotherProcessHoldsIt) {
    ZTMUTEX mutex;
    ASSERT_TRUE(mutex.Create(Name())) << mutex.LastError();
    ASSERT_EQ(mutex.Lock(), 1);
    ProcessSignal tried, released;
    ChildProcess child([&] {
        ZTMUTEX theirs;
        if (!theirs.Create(Name())) return 10;
        const bool whileHeld = theirs.TryLock(50) || theirs.TryLock(0);
        tried.Post();
        if (whileHeld) return 11;
        if (!released.Await()) return 12;
        if (!theirs.TryLock(5000)) return 13;
        return theirs.Unlock() == 1 ? 0 : 14;
    });
    ASSERT_TRUE(tried.Await());
    EXPECT_EQ(mutex.Unlock(), 1);
    released.Post();
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ZtMutexTest, AHolderThatDiesLeavesItToTheNextLocker) {
    ProcessSignal locked;
    ChildProcess holder([&] {
        ZTMUTEX theirs;
        if (!theirs.Create(Name()) || theirs.Lock() != 1 || theirs.Lock() != 1) return 10;
        locked.Post();
        _exit(0);  // dies holding it twice
    });
    ASSERT_TRUE(locked.Await());
    ASSERT_EQ(holder.Wait(), 0);

    ZTMUTEX mutex;
    ASSERT_TRUE(mutex.Create(Name())) << mutex.LastError();
    ASSERT_TRUE(mutex.TryLock(5000));
    // We own it once (the dead holder's count is gone) and it stays usable.
    EXPECT_EQ(mutex.Unlock(), 1);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_TRUE(mutex.TryLock(0));
    EXPECT_EQ(mutex.Unlock(), 1);
    ChildProcess next([&] {
        ZTMUTEX theirs;
        return theirs.Create(Name()) && theirs.TryLock(0) && theirs.Unlock() == 1 ? 0 : 1;
    });
    EXPECT_EQ(next.Wait(), 0);
}

TEST_F(ZtMutexTest, IsRecursiveForItsOwnerAndExclusiveForOthers) {
    ZTMUTEX mutex;
    ASSERT_TRUE(mutex.Create(Name())) << mutex.LastError();
    ASSERT_EQ(mutex.Lock(), 1);
    ASSERT_TRUE(mutex.TryLock(0));
    EXPECT_FALSE(FreeForAnotherThread());
    EXPECT_EQ(mutex.Unlock(), 1);
    EXPECT_FALSE(FreeForAnotherThread());
    EXPECT_EQ(mutex.Unlock(), 1);
    EXPECT_TRUE(FreeForAnotherThread());
    EXPECT_EQ(mutex.Unlock(), 0);  // not held by this thread
}

TEST_F(ZtMutexTest, DestroyingItReleasesTheHoldsOfTheDestroyingThread) {
    {
        ZTMUTEX mutex;
        ASSERT_TRUE(mutex.Create(Name())) << mutex.LastError();
        ASSERT_EQ(mutex.Lock(), 1);
        ASSERT_EQ(mutex.Lock(), 1);
    }
    EXPECT_TRUE(FreeForAnotherThread());
}

TEST_F(ZtMutexTest, WithoutAMutexEveryCallAnswersNothing) {
    ZTMUTEX never;
    ZTMUTEX refused;
    ASSERT_FALSE(refused.Create(""));
    for (ZTMUTEX* mutex : {&never, &refused}) {
        EXPECT_FALSE(mutex->IsCreated());
        EXPECT_EQ(mutex->Lock(), 0);
        EXPECT_FALSE(mutex->TryLock(10));
        EXPECT_EQ(mutex->Unlock(), 0);
    }
}

// Objects left behind under the mutex's name: a creator that died before
// sizing its object, or while setting the mutex up, must not make the name
// unusable; an object that is not a mutex, or is open to others, is refused.
TEST_F(ZtMutexTest, LeftoverObjectsAreRecoveredOrRefused) {
    ChildProcess gone([] { return 0; });
    const auto deadPid = static_cast<uint32_t>(gone.Pid());
    ASSERT_EQ(gone.Wait(), 0);
    const off_t mutexSize = static_cast<off_t>(8 + sizeof(pthread_mutex_t));

    struct Case {
        const char* what;
        off_t size;
        uint32_t state;
        mode_t mode;
        bool usable;
    };
    const Case cases[] = {
        {"never sized", 0, 0, 0600, true},
        {"set-up claimed by a dead process", mutexSize, deadPid, 0600, true},
        {"wrong size", 10, 0, 0600, false},
        {"open to others", mutexSize, 0, 0644, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string object = SharedMutexObjectName(Name());
        const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fchmod(fd, c.mode), 0);
        ASSERT_EQ(ftruncate(fd, c.size), 0);
        if (c.size >= 4) {
            ASSERT_EQ(pwrite(fd, &c.state, sizeof c.state, 0), 4);
        }
        close(fd);

        ZTMUTEX mutex;
        EXPECT_EQ(mutex.Create(Name()), c.usable) << mutex.LastError();
        if (c.usable) {
            EXPECT_TRUE(mutex.TryLock(0));
            EXPECT_EQ(mutex.Unlock(), 1);
        } else {
            EXPECT_NE(mutex.LastError().find(object), std::string::npos) << mutex.LastError();
        }
        shm_unlink(object.c_str());
    }
}

}  // namespace
}  // namespace velmora

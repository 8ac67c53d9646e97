#include "clientif/brokerlock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <atomic>
#include <thread>

#include "clientif/brokernames.h"
#include "clientif/clientif_fixture.h"
#include "clientif/instancelist.h"
#include "platform/child_process.h"
#include "platform/ztmutex.h"

namespace velmora::test {
namespace {

using BrokerLockTest = ClientIfFixture;

bool ListExists(const std::string& name) {
    return InstanceList(name, {}).IsOpen();
}

// A broker in another process that is killed: its list and a queue stay,
// its lock does not.
void LeaveStaleBroker(const std::string& name) {
    ProcessSignal ready;
    ChildProcess broker([&] {
        BrokerLock lock;
        if (lock.Acquire(name.c_str()) != BrokerLock::kAcquired) return 1;
        SetSlotState(lock.Slot(4), nsConnected);
        ZTSHARED_MEMORY queue(ReceiveQueueName(name, 4).c_str(), kReceiveQueueSize, true);
        ready.Post();
        pause();
        return 0;
    });
    ASSERT_TRUE(ready.Await());
    kill(broker.Pid(), SIGKILL);
    ASSERT_EQ(broker.Wait(), 128 + SIGKILL);
}

TEST_F(BrokerLockTest, CreatesAFreeInstanceListThatGoesWithTheLock) {
    {
        BrokerLock lock;
        ASSERT_EQ(lock.Acquire(Name()), BrokerLock::kAcquired) << lock.LastError();
        const InstanceList list(name_, LockPath());
        ASSERT_TRUE(list.IsOpen());
        EXPECT_EQ(list.CountInState(nsNotUse), kInstanceSlots);
        EXPECT_EQ(list.Slot(499).errorCode.get(), nleInvalidConnect);
        EXPECT_TRUE(BrokerLock::IsBrokerAlive(LockPath()));
    }
    EXPECT_FALSE(ListExists(name_));
    EXPECT_FALSE(BrokerLock::IsBrokerAlive(LockPath()));
}

TEST_F(BrokerLockTest, ASecondBrokerOfTheNameLeavesTheFirstUndisturbed) {
    BrokerLock first;
    ASSERT_EQ(first.Acquire(Name()), BrokerLock::kAcquired) << first.LastError();
    SetSlotState(first.Slot(3), nsConnected);

    ChildProcess second([&] {
        BrokerLock lock;
        const int32_t result = lock.Acquire(name_.c_str(), 50);
        return result == BrokerLock::kHeldByAnother &&
                       lock.LastError().find("is running") != std::string::npos
                   ? 0
                   : 1;
    });
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(SlotState(first.Slot(3)), nsConnected);
    EXPECT_TRUE(ListExists(name_));
    EXPECT_FALSE(BrokerLock::RemoveIfStale(name_, 50));
    EXPECT_TRUE(ListExists(name_));
}

TEST_F(BrokerLockTest, WhatAKilledBrokerLeftIsStaleAndRemovedWithItsQueues) {
    LeaveStaleBroker(name_);
    ASSERT_TRUE(ListExists(name_));
    EXPECT_FALSE(BrokerLock::IsBrokerAlive(LockPath()));
    // Opened with its lock path, a list without a live broker counts as gone.
    EXPECT_FALSE(InstanceList(name_, LockPath()).IsOpen());

    EXPECT_TRUE(BrokerLock::RemoveIfStale(name_));
    EXPECT_FALSE(ListExists(name_));
    EXPECT_EQ(ZTSHARED_MEMORY(ReceiveQueueName(name_, 4).c_str(), 0, false).View(), nullptr);
}

TEST_F(BrokerLockTest, ANewBrokerReplacesWhatADeadOneLeft) {
    LeaveStaleBroker(name_);
    BrokerLock lock;
    ASSERT_EQ(lock.Acquire(Name()), BrokerLock::kAcquired) << lock.LastError();
    EXPECT_EQ(SlotState(lock.Slot(4)), nsNotUse);
    EXPECT_EQ(ZTSHARED_MEMORY(ReceiveQueueName(name_, 4).c_str(), 0, false).View(), nullptr);
}

// A client that probes at the moment a broker starts holds the lock shared
// for an instant; the broker waits for it instead of giving up.
TEST_F(BrokerLockTest, AStartingBrokerOutwaitsAProbe) {
    const std::string path = LockPath();
    const int probe = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(probe, 0);
    ASSERT_EQ(flock(probe, LOCK_SH), 0);
    int32_t result = 0;
    BrokerLock lock;
    std::thread broker([&] { result = lock.Acquire(Name(), 60000); });
    SleepMs(20);
    close(probe);
    broker.join();
    EXPECT_EQ(result, BrokerLock::kAcquired) << lock.LastError();
}

// An application claims slots under the instance-list lock as soon as it
// finds the list. Whenever the list can be seen with that lock free, every
// slot must already be free: a list of zeros would read as 500 slots taken.
TEST_F(BrokerLockTest, NoSlotCanBeClaimedBeforeTheListIsMade) {
    for (int round = 0; round < 30; ++round) {
        std::atomic<bool> seen{false};
        std::thread application([&] {
            ZTMUTEX claimLock;
            ASSERT_TRUE(claimLock.Create(InstanceListLockName(name_).c_str()));
            ASSERT_TRUE(Eventually([&] { return ListExists(name_); }));
            if (claimLock.TryLock(0)) {
                EXPECT_EQ(InstanceList(name_, {}).CountInState(nsNotUse), kInstanceSlots);
                claimLock.Unlock();
            }
            seen = true;
        });
        BrokerLock lock;
        ASSERT_EQ(lock.Acquire(Name()), BrokerLock::kAcquired) << lock.LastError();
        ASSERT_TRUE(Eventually([&] { return seen.load(); }));
        application.join();
    }
}

TEST_F(BrokerLockTest, RefusesNamesItCannotShare) {
    BrokerLock lock;
    EXPECT_EQ(lock.Acquire(std::string(30, 'x').c_str()), BrokerLock::kBadName);
    EXPECT_NE(lock.LastError().find("at most 29"), std::string::npos) << lock.LastError();
}

}  // namespace
}  // namespace velmora::test

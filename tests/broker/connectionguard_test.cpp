// A fault inside a connection thread (here: the application side shrank the
// receive queue's shared memory under the broker's mapping) ends that
// thread only; it is logged with its code name and the connection closes,
// while the broker goes on serving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "broker/broker_fixture.h"
#include "clientif/brokernames.h"
#include "clientif/ztif_codes.h"
#include "platform/shared_name.h"

namespace velmora::test {
namespace {

using ConnectionGuard = BrokerFixture;

TEST_F(ConnectionGuard, AFaultInAConnectionThreadClosesThatConnectionOnly) {
    StartBroker();
    FakeServer& victim = AddServer(0);
    FakeServer& other = AddServer(1);
    Request(0, victim.Port(), 5000);
    Request(1, other.Port(), 5000);
    ASSERT_TRUE(StateBecomes(0, nsConnected));
    ASSERT_TRUE(StateBecomes(1, nsConnected));

    const std::string object = SharedObjectName(ReceiveQueueName(name_, 0));
    const int fd = shm_open(object.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    close(fd);
    ASSERT_EQ(victim.Send(kDataChannel, "boom", 4), 4);

    ASSERT_TRUE(StateBecomes(0, nsNotUse));
    EXPECT_TRUE(LogHas("![0xc0000006] EXCEPTION_IN_PAGE_ERROR"));
    EXPECT_EQ(LoadShared(Slot(0).cacheState), kCacheNone) << "a faulted connection is not kept";
    EXPECT_EQ(SlotState(Slot(1)), nsConnected);

    // The broker still sets connections up, also in the faulted slot.
    Request(0, victim.Port(), 5000);
    EXPECT_TRUE(StateBecomes(0, nsConnected));
}

}  // namespace
}  // namespace velmora::test

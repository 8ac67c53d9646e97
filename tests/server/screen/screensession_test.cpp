#include "server/screen/screensession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/screen/appmessages.h"
#include "server/screen/userlist.h"

namespace velmora {
namespace {

std::vector<uint8_t> Message(int n) {
    return std::vector<uint8_t>(size_t(n + 1), uint8_t(n));
}

TEST(ScreenSession, QueueHoldsTwentyAndDropsTheOldest) {
    ScreenSession s;
    for (int n = 0; n < 25; ++n) {
        const auto m = Message(n);
        ASSERT_TRUE(s.QueueMessage(m.data(), m.size()));
    }
    EXPECT_EQ(s.QueuedCount(), ScreenSession::kQueueLimit);
    EXPECT_EQ(s.DroppedCount(), 5u);
    std::vector<uint8_t> out;
    for (int n = 5; n < 25; ++n) {
        ASSERT_TRUE(s.TakeMessage(out));
        EXPECT_EQ(out, Message(n));
    }
    EXPECT_FALSE(s.TakeMessage(out));
    // The ring keeps working after wrapping and after a clear.
    const auto m = Message(3);
    ASSERT_TRUE(s.QueueMessage(m.data(), m.size()));
    s.ClearQueue();
    EXPECT_EQ(s.QueuedCount(), 0);
    EXPECT_FALSE(s.TakeMessage(out));
}

TEST(UserList, BroadcastReachesActiveSessionsOnlyAndMembersListEveryone) {
    ScreenSession a, b, c;
    a.SetName("10.0.0.1");
    a.SetActive(true);
    b.SetActive(false);  // still logging on: no name yet
    c.SetName("10.0.0.3");
    c.SetActive(true);
    c.SetHoldsControl(true);
    UserList users;
    users.Add(&a);
    users.Add(&b);
    users.Add(&c);
    EXPECT_EQ(users.Count(), 3);
    EXPECT_EQ(users.CountActive(), 2);

    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(users.Broadcast(bytes, sizeof bytes), 2);
    EXPECT_EQ(a.QueuedCount(), 1);
    EXPECT_EQ(b.QueuedCount(), 0);
    EXPECT_EQ(c.QueuedCount(), 1);

    std::vector<uint8_t> message;
    users.BuildMemberList(message);
    int count = 0;
    const MEMBER_ENTRY* entries = nullptr;
    ASSERT_EQ(ReadMemberList(message.data(), message.size(), &count, &entries), amOk);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(FieldText(entries[0].name), "10.0.0.1");
    EXPECT_EQ(FieldText(entries[1].name), "");
    EXPECT_EQ(FieldText(entries[2].name), "10.0.0.3");
    EXPECT_EQ(entries[0].control, 0);
    EXPECT_EQ(entries[2].control, 1);

    EXPECT_TRUE(users.Remove(&b));
    EXPECT_FALSE(users.Remove(&b));
    EXPECT_EQ(users.Count(), 2);
}

}  // namespace
}  // namespace velmora

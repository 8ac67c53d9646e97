#include "server/screen/sendqueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

using Numbers = std::vector<int32_t>;

std::vector<int32_t> Drain(SendQueue& q, int max = 1000) {
    Numbers out(static_cast<size_t>(max), 0);
    out.resize(size_t(q.Take(max, out.data())));
    return out;
}

TEST(SendQueue, NewestFirstWithoutDuplicates) {
    struct Case {
        const char* what;
        std::vector<Numbers> calls;  // QueueFront calls in order
        Numbers expected;            // the order Take gives
    };
    const Case cases[] = {
        {"the last given goes first", {{1, 2, 3}}, {3, 2, 1}},
        {"a later call goes before an earlier one", {{1, 2}, {7}}, {7, 2, 1}},
        {"a block queued again moves to the front and is sent once", {{1, 2, 3}, {1}}, {1, 3, 2}},
        {"a repeat within one call counts once", {{4, 5, 4}}, {4, 5}},
        {"numbers outside the grid are ignored", {{-1, 10, 11, 9}}, {9}},
        {"the back moves too", {{1, 2, 3}, {3, 1}}, {1, 3, 2}},
    };
    for (const Case& c : cases) {
        SendQueue q;
        ASSERT_TRUE(q.Reset(10));
        for (const Numbers& call : c.calls) q.QueueFront(call.data(), int(call.size()));
        EXPECT_EQ(q.Size(), int(c.expected.size())) << c.what;
        EXPECT_EQ(Drain(q), c.expected) << c.what;
        EXPECT_TRUE(q.Empty()) << c.what;
    }
}

TEST(SendQueue, TakesAtMostMaxAndResetForgetsEverything) {
    SendQueue q;
    ASSERT_TRUE(q.Reset(100));
    Numbers all;
    for (int32_t n = 0; n < 100; ++n) all.push_back(n);
    q.QueueFront(all.data(), 100);
    EXPECT_EQ(Drain(q, 3), (Numbers{99, 98, 97}));
    EXPECT_EQ(q.Size(), 97);
    // A smaller grid: old numbers are gone and the new limit holds.
    ASSERT_TRUE(q.Reset(4));
    EXPECT_TRUE(q.Empty());
    q.QueueFront(all.data(), 100);
    EXPECT_EQ(Drain(q), (Numbers{3, 2, 1, 0}));
}

}  // namespace
}  // namespace velmora

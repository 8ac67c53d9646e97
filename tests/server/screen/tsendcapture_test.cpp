// The send thread over a frame in memory, with sessions that are only their
// outgoing queues.
#include "server/screen/tsendcapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "picturemodel.h"
#include "platform/tick.h"
#include "support/screenlike_frame.h"

namespace velmora {
namespace {

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 10000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(2);
    }
    return true;
}

class SendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        grid_.Build(frame_.width, frame_.height, frame_.stride, 4);  // 6 x 4 blocks
        config_.Update([](VelmoraConfig& c) {
            c.colorBits = 24;
            c.current = {50, 5, 10};  // at most 10 blocks per message
        });
        for (ScreenSession* s : {&a_, &b_, &idle_}) users_.Add(s);
        a_.SetActive(true);
        b_.SetActive(true);
        sender_.SetFrame({&grid_, frame_.pixels.data(), grid_.FrameBytes()});
    }
    void Queue(std::vector<int32_t> numbers) {
        sender_.QueueBlocks(numbers.data(), int(numbers.size()));
    }

    const testing::ScreenlikeFrame frame_ = testing::MakeScreenlikeFrame(320, 200, 2);
    BlockGrid grid_;
    LiveConfig config_;
    UserList users_;
    ScreenSession a_, b_, idle_;
    TSendCapture sender_{config_, users_};
};

TEST_F(SendTest, EachBatchIsEncodedOnceAndCopiedToEveryActiveSession) {
    std::vector<int32_t> all;
    for (int n = 0; n < grid_.Count(); ++n) all.push_back(n);
    Queue(all);
    ASSERT_TRUE(sender_.Start());
    ASSERT_TRUE(WaitFor([&] { return sender_.QueueEmpty(); }));
    ASSERT_TRUE(WaitFor([&] { return b_.QueuedCount() == 3; }));

    // 24 blocks at most 10 a message: 10, 10, 4; the same bytes for both.
    const SendStats stats = sender_.Stats();
    EXPECT_EQ(stats.batches, 3u);
    EXPECT_EQ(stats.copies, 6u);
    EXPECT_EQ(idle_.QueuedCount(), 0);
    testing::PictureModel picture(frame_.width, frame_.height);
    std::vector<uint8_t> ma, mb;
    int blocks = 0;
    while (a_.TakeMessage(ma)) {
        ASSERT_TRUE(b_.TakeMessage(mb));
        EXPECT_EQ(ma, mb);
        const int n = picture.Apply(ma.data(), ma.size(), frame_.pixels.data(), frame_.stride);
        EXPECT_LE(n, 10);
        blocks += n;
    }
    EXPECT_EQ(blocks, 24);
    EXPECT_EQ(picture.Uncovered(), 0u);
    EXPECT_EQ(picture.Mismatches(), 0);
}

TEST_F(SendTest, PausedSendsNothingAndNumbersWithoutAnActiveSessionAreDropped) {
    ASSERT_TRUE(sender_.Start());
    sender_.Pause();
    Queue({1, 2, 3});
    SleepMs(60);  // a dozen passes
    EXPECT_EQ(sender_.QueueSize(), 3);
    EXPECT_EQ(sender_.Stats().batches, 0u);
    sender_.Resume();
    ASSERT_TRUE(WaitFor([&] { return a_.QueuedCount() == 1; }));

    a_.SetActive(false);
    b_.SetActive(false);
    Queue({4, 5});
    ASSERT_TRUE(WaitFor([&] { return sender_.QueueEmpty(); }));
    SleepMs(20);
    EXPECT_EQ(sender_.Stats().batches, 1u);
    EXPECT_EQ(a_.QueuedCount(), 1);
}

}  // namespace
}  // namespace velmora

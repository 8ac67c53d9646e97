// The capture and send threads with the synthetic screen source as a real
// child process and sessions that are only their outgoing queues.
#include "server/screen/tscreencapture.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mirror/syntheticscene.h"
#include "picturemodel.h"
#include "platform/tick.h"
#include "server/screen/appmessages_pointer.h"
#include "server/screen/inputinjector.h"
#include "server/screen/screensession.h"

namespace velmora {
namespace {

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 15000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(5);
    }
    return true;
}

class RecordingInjector : public InputInjector {
  public:
    void MoveTo(int32_t, int32_t) override {}
    void MouseButton(int32_t) override {}
    void Wheel(int32_t) override {}
    void Key(uint8_t, int32_t flags) override { releases += (flags & kKeyReleased) != 0; }
    void SecureAttention() override {}
    int releases = 0;
};

// Lists a session for the length of a scope, so a failing test never leaves
// the threads a session that is gone.
struct Listed {
    Listed(UserList& users, ScreenSession& session) : u(users), s(session) { u.Add(&s); }
    ~Listed() { u.Remove(&s); }
    UserList& u;
    ScreenSession& s;
};

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-capture-XXXXXX";
        dir_ = mkdtemp(name);
        timings_.settleMs = 10;
        timings_.controlHandOverMs = 10;
    }
    void TearDown() override {
        capture_.reset();
        (void)!std::system(("rm -rf " + dir_).c_str());
    }

    // Starts the capture thread on a synthetic scene of 320 x 200.
    void StartCapture(const std::string& scene, std::vector<std::string> extra = {}) {
        ZTVL::Options o;
        o.arguments = {"--source", "synthetic", "--scene", scene,
                       "--size",   "320x200",   "--rate",  "100"};
        o.arguments.insert(o.arguments.end(), extra.begin(), extra.end());
        o.directory = dir_;
        CaptureEnvironment env;
        env.injector = &injector_;
        env.onStatus = [this](const std::string& text) { statuses_.push_back(text); };
        capture_ = std::make_unique<TScreentCapture>(o, config_, users_, env, timings_);
        ASSERT_TRUE(capture_->Start());
        ASSERT_TRUE(WaitFor([&] { return capture_->Initialised() != TScreentCapture::kStarting; }));
        ASSERT_EQ(capture_->Initialised(), TScreentCapture::kRunning);
    }

    // Every message queued for the session so far.
    static std::vector<std::vector<uint8_t>> Drain(ScreenSession& s) {
        std::vector<std::vector<uint8_t>> out;
        std::vector<uint8_t> m;
        while (s.TakeMessage(m)) out.push_back(m);
        return out;
    }

    // The scene's frame `frame` as the screen file holds it.
    static std::vector<uint8_t> SceneFrame(const std::string& scene, uint32_t frame) {
        std::vector<uint8_t> pixels(320 * 200 * 4);
        auto s = SyntheticScene::Make(scene, 320, 200);
        s->Draw(frame, s->Bounds(), FrameCanvas{pixels.data(), 320, 200});
        return pixels;
    }

    std::string dir_;
    LiveConfig config_;
    UserList users_;
    RecordingInjector injector_;
    CaptureTimings timings_;
    std::vector<std::string> statuses_;
    std::unique_ptr<TScreentCapture> capture_;
};

TEST_F(CaptureTest, FullPictureIsThePointerWithItsShapeThenTheWholeScreen) {
    StartCapture("static");
    const auto expected = SceneFrame("static", 0);
    for (int depth : {24, 16, 8}) {
        config_.Update([depth](VelmoraConfig& c) { c.colorBits = uint8_t(depth); });
        ScreenSession session;
        Listed listed(users_, session);
        capture_->SendFullPicture(session);
        EXPECT_TRUE(session.Active());
        const auto messages = Drain(session);
        ASSERT_GE(messages.size(), 2u);

        TLZ lz;
        MESSAGE_HEADER header{};
        std::vector<uint8_t> payload;
        ASSERT_GT(
            ExpandMessagePayload(lz, messages[0].data(), messages[0].size(), &header, payload), 0);
        ASSERT_EQ(header.type, mtPointerUpdate);
        POINTER_RECORD pointer{};
        const uint8_t* shape = nullptr;
        size_t shapeLength = 0;
        ASSERT_EQ(ReadPointerUpdate(payload.data(), payload.size(), &pointer, &shape, &shapeLength),
                  amOk);
        EXPECT_EQ(pointer.shapeIncluded, 1);
        EXPECT_EQ(pointer.format, pf32Bits);
        EXPECT_GT(shapeLength, 0u);

        testing::PictureModel picture(320, 200);
        for (size_t i = 1; i < messages.size(); ++i) {
            EXPECT_GT(
                picture.Apply(messages[i].data(), messages[i].size(), expected.data(), 320 * 4), 0);
        }
        EXPECT_EQ(picture.Uncovered(), 0u) << depth;
        EXPECT_EQ(picture.Mismatches(), 0) << depth;
        EXPECT_EQ(picture.LastDepth(), depth);
    }
    EXPECT_EQ(capture_->ScreenInfo().width, 320);
    EXPECT_EQ(capture_->ScreenInfo().height, 200);
}

TEST_F(CaptureTest, LaterChangesReachEveryActiveSessionUntilItsPictureIsTheScreen) {
    config_.Update([](VelmoraConfig& c) { c.colorBits = 24; });
    // Typing goes on for 1.5 s, then stops, so the last picture is known.
    StartCapture("typing", {"--frames", "150"});
    ScreenSession a, b, idle;  // idle never logs on: it gets nothing
    Listed la(users_, a), lb(users_, b), li(users_, idle);
    capture_->SendFullPicture(a);
    capture_->SendFullPicture(b);
    ASSERT_TRUE(WaitFor([&] { return !statuses_.empty(); }));
    EXPECT_EQ(statuses_.front(), TScreentCapture::kSharingText);

    const auto last = SceneFrame("typing", 150);
    testing::PictureModel pictures[2] = {{320, 200}, {320, 200}};
    ScreenSession* sessions[2] = {&a, &b};
    // Every row of every block is compared once in 16 passes; apply until
    // both pictures show the last frame.
    auto same = [&](const testing::PictureModel& p) {
        for (int y = 0; y < 200; ++y) {
            for (int x = 0; x < 320; ++x) {
                const uint8_t* src = &last[(size_t(199 - y) * 320 + x) * 4];
                const uint8_t* got = p.Pixel(x, y);
                if (got[0] != src[1] || got[1] != src[0] || got[2] != src[2]) return false;
            }
        }
        return true;
    };
    int blocksMessages = 0;
    EXPECT_TRUE(WaitFor([&] {
        for (int i = 0; i < 2; ++i) {
            for (const auto& m : Drain(*sessions[i])) {
                if (m[0] == mtScreenBlocks) {
                    EXPECT_GT(pictures[i].Apply(m.data(), m.size()), 0);
                    blocksMessages += i == 0;
                }
            }
        }
        return same(pictures[0]) && same(pictures[1]);
    }));
    EXPECT_GT(blocksMessages, 1) << "changes came after the full picture";
    EXPECT_EQ(idle.QueuedCount(), 0);
}

TEST_F(CaptureTest, ControlRightFollowsThePolicy) {
    // No thread needed: the decision runs on the requester's thread.
    CaptureEnvironment env;
    env.injector = &injector_;
    capture_ = std::make_unique<TScreentCapture>(ZTVL::Options{}, config_, users_, env, timings_);
    struct Expect {
        uint8_t flag;
        int16_t code;
        std::string name;
    };
    auto answers = [](ScreenSession& s) {
        std::vector<Expect> out;
        std::vector<uint8_t> m;
        while (s.TakeMessage(m)) {
            CONTROL_REQUEST r{};
            EXPECT_EQ(ReadControlAnswer(m.data(), m.size(), &r), amOk);
            out.push_back({r.flag, r.code, std::string(FieldText(r.name))});
        }
        return out;
    };
    ScreenSession holder, requester;
    holder.SetName("10.0.0.1");
    requester.SetName("10.0.0.2");
    Listed lh(users_, holder), lr(users_, requester);

    // Granted at once when nobody holds it; the modifiers are released.
    EXPECT_TRUE(capture_->DecideControlRequest(holder));
    EXPECT_TRUE(holder.HoldsControl());
    EXPECT_EQ(injector_.releases, 5);
    ASSERT_EQ(answers(holder).size(), 1u);

    // Taken from the holder, who is told who got it; then granted.
    EXPECT_TRUE(capture_->DecideControlRequest(requester));
    EXPECT_FALSE(holder.HoldsControl());
    EXPECT_TRUE(requester.HoldsControl());
    const auto told = answers(holder);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].flag, 0);
    EXPECT_EQ(told[0].code, caTaken);
    EXPECT_EQ(told[0].name, "10.0.0.2");
    const auto granted = answers(requester);
    ASSERT_EQ(granted.size(), 1u);
    EXPECT_EQ(granted[0].flag, 1);
    EXPECT_EQ(granted[0].code, caGranted);

    // Forbidden: refused, and the holder keeps the right.
    config_.Update([](VelmoraConfig& c) { c.controlType = 3; });
    EXPECT_FALSE(capture_->DecideControlRequest(holder));
    EXPECT_TRUE(requester.HoldsControl());
    EXPECT_FALSE(holder.HoldsControl());
    EXPECT_TRUE(answers(requester).empty());
    const auto refused = answers(holder);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].flag, 0);
    EXPECT_EQ(refused[0].code, caForbidden);
}

TEST_F(CaptureTest, AMissingScreenSourceIsReportedAndEndsTheStart) {
    ZTVL::Options o;
    o.program = "no-such-screen-source";
    std::string error, caption;
    CaptureEnvironment env;
    env.onError = [&](const std::string& text, const std::string& c) {
        error = text;
        caption = c;
    };
    capture_ = std::make_unique<TScreentCapture>(o, config_, users_, env, timings_);
    ASSERT_TRUE(capture_->Start());
    ASSERT_TRUE(WaitFor([&] { return capture_->HasExited(); }));
    EXPECT_EQ(capture_->Initialised(), TScreentCapture::kSourceMissing);
    EXPECT_EQ(error, TScreentCapture::kSourceMissingText);
    EXPECT_EQ(caption, TScreentCapture::kErrorCaption);
}

}  // namespace
}  // namespace velmora

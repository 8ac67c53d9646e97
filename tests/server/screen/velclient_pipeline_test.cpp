// Viewers on the transport logging on to a whole server (engine, sessions,
// capture and send threads, the synthetic screen source) in this process.
#include <gtest/gtest.h>

#include <vector>

#include "mirror/syntheticscene.h"
#include "server/screen/userlist.h"
#include "serverfixture.h"
#include "testviewer.h"

namespace velmora {
namespace {

using testing::TestViewer;
using testing::WaitUntil;

// The scene's frame as the screen file holds it (bottom-up rows).
std::vector<uint8_t> SceneFrame(const char* scene, uint32_t frame, int w = 320, int h = 200) {
    std::vector<uint8_t> pixels(size_t(w) * h * 4);
    auto s = SyntheticScene::Make(scene, w, h);
    s->Draw(frame, s->Bounds(), FrameCanvas{pixels.data(), w, h});
    return pixels;
}

// True when the viewer's picture shows `frame` exactly (depth 24).
bool Shows(TestViewer& viewer, const std::vector<uint8_t>& frame, int w = 320, int h = 200) {
    if (viewer.Picture() == nullptr) return false;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* src = &frame[(size_t(h - 1 - y) * w + x) * 4];
            const uint8_t* got = viewer.Picture()->Pixel(x, y);
            if (got[0] != src[1] || got[1] != src[0] || got[2] != src[2]) return false;
        }
    }
    return true;
}

class PipelineTest : public testing::ServerFixture {};

TEST_F(PipelineTest, LogonBringsTheScreenRecordThePointerTheWholePictureAndTheMembers) {
    StartServer();
    const auto frame = SceneFrame("static", 0);
    uint8_t host = 2;
    for (int depth : {24, 16, 8}) {
        program_->Capture()->SetColourDepth(depth);
        TestViewer viewer(host++, uint16_t(depth));
        ASSERT_TRUE(viewer.Connect(port_)) << depth;
        const TestViewer::Logon logon = viewer.LogOn();
        ASSERT_TRUE(logon.answered);
        EXPECT_EQ(logon.answer.accepted, 1);
        EXPECT_EQ(logon.answer.code, laAccepted);
        ASSERT_TRUE(logon.screenInfo);
        EXPECT_EQ(logon.info.depth, depth);
        EXPECT_EQ(logon.info.width, 320);
        EXPECT_EQ(logon.info.height, 200);
        EXPECT_EQ(logon.info.blockSize, 56);

        ASSERT_TRUE(WaitUntil([&] {
            viewer.Pump(50, frame.data(), 320 * 4);
            return !viewer.MemberLists().empty() && viewer.Picture()->Uncovered() == 0;
        })) << depth;
        // The pointer with its shape first, then the blocks, then the members.
        ASSERT_FALSE(viewer.Types().empty());
        EXPECT_EQ(viewer.Types().front(), mtPointerUpdate);
        EXPECT_EQ(viewer.Pointers().front().first.shapeIncluded, 1);
        EXPECT_GT(viewer.Pointers().front().second, 0u);
        EXPECT_EQ(viewer.Picture()->Mismatches(), 0) << depth;
        EXPECT_EQ(viewer.BadMessages(), 0);
        const auto& members = viewer.MemberLists().back();
        EXPECT_EQ(members.back(), "127.0.0." + std::to_string(host - 1));
    }
}

TEST_F(PipelineTest, LaterChangesArriveAsBlocksUntilThePictureIsTheScreen) {
    ini_["SCREEN SOURCE"]["SCENE"] = "typing";
    ini_["SCREEN SOURCE"]["RATE"] = "50";
    ini_["SCREEN SOURCE"]["FRAMES"] = "75";  // typing stops after frame 75
    StartServer();
    TestViewer viewer(2, 1);
    ASSERT_TRUE(viewer.Connect(port_));
    ASSERT_TRUE(viewer.LogOn().screenInfo);
    const auto last = SceneFrame("typing", 75);
    EXPECT_TRUE(WaitUntil([&] {
        viewer.Pump(20);
        return Shows(viewer, last);
    }));
    EXPECT_GT(viewer.BlockMessages(), 1);
    EXPECT_EQ(viewer.BadMessages(), 0);
}

TEST_F(PipelineTest, TheThirdViewerIsRefusedWhenTheLimitIsTwo) {
    ini_["USER"]["CONNECTIONS"] = "2";
    StartServer();
    TestViewer a(2, 1), b(3, 2), c(4, 3);
    for (TestViewer* v : {&a, &b}) {
        ASSERT_TRUE(v->Connect(port_));
        EXPECT_EQ(v->LogOn().answer.accepted, 1);
    }
    ASSERT_TRUE(c.Connect(port_));
    const TestViewer::Logon refused = c.LogOn();
    ASSERT_TRUE(refused.answered);
    EXPECT_EQ(refused.answer.accepted, 0);
    EXPECT_EQ(refused.answer.code, laUserLimit);
    EXPECT_FALSE(refused.screenInfo);
    // Its session ended: the server disconnects it.
    EXPECT_TRUE(c.Peer().WaitControl(ccDisconnect, nullptr, 10000));
    EXPECT_TRUE(WaitUntil([&] { return program_->Users()->Count() == 2; }));
}

TEST_F(PipelineTest, AViewerReconnectingFromItsAddressReplacesItsOldSession) {
    ini_["USER"]["CONNECTIONS"] = "1";
    StartServer();
    TestViewer first(2, 1);
    ASSERT_TRUE(first.Connect(port_));
    ASSERT_EQ(first.LogOn().answer.accepted, 1);
    ASSERT_TRUE(WaitUntil([&] { return Noted("connected: 127.0.0.2"); }));

    // The same address again (another connection): accepted even at a limit
    // of one, and the old session is told it was replaced.
    TestViewer again(2, 2);
    ASSERT_TRUE(again.Connect(port_));
    EXPECT_EQ(again.LogOn().answer.accepted, 1);
    std::vector<uint8_t> disconnect;
    ASSERT_TRUE(first.Peer().WaitControl(ccDisconnect, &disconnect, 10000));
    CONTROL_DISCONNECT d{};
    ASSERT_EQ(disconnect.size(), sizeof d);
    std::memcpy(&d, disconnect.data(), sizeof d);
    EXPECT_EQ(d.reason, drReplaced);
    EXPECT_TRUE(WaitUntil([&] { return Noted("disconnected: 127.0.0.2"); }));
    EXPECT_TRUE(WaitUntil([&] { return program_->Users()->Count() == 1; }));
}

TEST_F(PipelineTest, TheControlRightChangesHandsByThePolicyAndBadInputIsIgnored) {
    StartServer();
    TestViewer a(2, 1), b(3, 2);
    for (TestViewer* v : {&a, &b}) {
        ASSERT_TRUE(v->Connect(port_));
        ASSERT_EQ(v->LogOn().answer.accepted, 1);
    }
    // Messages of no known length, one larger than the session's buffer:
    // ignored, and the session goes on.
    ASSERT_TRUE(a.SendBytes(std::vector<uint8_t>(18, 1)));
    ASSERT_TRUE(a.SendBytes(std::vector<uint8_t>(5000, 2)));

    ASSERT_TRUE(a.Send(MakeControlRequest(1)));
    ASSERT_TRUE(WaitUntil([&] {
        a.Pump(20);
        return !a.ControlAnswers().empty();
    }));
    EXPECT_EQ(a.ControlAnswers().back().flag, 1);
    EXPECT_EQ(a.ControlAnswers().back().code, caGranted);

    // b asks: a is told first (code -2, naming b), then b gets it.
    ASSERT_TRUE(b.Send(MakeControlRequest(1)));
    ASSERT_TRUE(WaitUntil([&] {
        a.Pump(20);
        b.Pump(20);
        return a.ControlAnswers().size() == 2 && !b.ControlAnswers().empty();
    }));
    EXPECT_EQ(a.ControlAnswers()[1].flag, 0);
    EXPECT_EQ(a.ControlAnswers()[1].code, caTaken);
    EXPECT_EQ(FieldText(a.ControlAnswers()[1].name), "127.0.0.3");
    EXPECT_EQ(b.ControlAnswers().back().flag, 1);
    EXPECT_EQ(b.ControlAnswers().back().code, caGranted);
    ASSERT_TRUE(WaitUntil([&] {
        a.Pump(20);
        return !a.MemberLists().empty() &&
               a.MemberLists().back() == std::vector<std::string>{"127.0.0.2", "127.0.0.3*"};
    }));

    // Forbidden: a is refused with -1, b keeps the right.
    program_->Config()->Update([](VelmoraConfig& c) { c.controlType = 3; });
    ASSERT_TRUE(a.Send(MakeControlRequest(1)));
    ASSERT_TRUE(WaitUntil([&] {
        a.Pump(20);
        return a.ControlAnswers().size() == 3;
    }));
    EXPECT_EQ(a.ControlAnswers()[2].flag, 0);
    EXPECT_EQ(a.ControlAnswers()[2].code, caForbidden);
    b.Pump(100);
    EXPECT_EQ(b.ControlAnswers().size(), 1u);
    EXPECT_EQ(a.BadMessages() + b.BadMessages(), 0);
}

}  // namespace
}  // namespace velmora

// A viewer driving a real X desktop through a whole server: the x11 screen
// source and XTest injection on a private X server, the viewer on the
// transport.
// Our headers and gtest before Xlib, whose None and Status macros break them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "server/screen/xscreensaverguard.h"
#include "serverfixture.h"
#include "support/xvfb.h"
#include "testviewer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace velmora {
namespace {

using testing::TestViewer;
using testing::WaitUntil;

class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.Start(800, 600, /*windowManager=*/false, &error)) << error;
        setenv("DISPLAY", server.Display().c_str(), 1);
    }
    void TearDown() override { server.Stop(); }
    PrivateXServer server;
};

XServerEnvironment* g_x = nullptr;

// A red window that takes the keyboard focus and records what reaches it.
class TestWindow {
  public:
    TestWindow(int x, int y, int w, int h) {
        display_ = XOpenDisplay(g_x->server.Display().c_str());
        if (display_ == nullptr) return;
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixel = 0xFF0000;
        attrs.event_mask = KeyPressMask | ButtonPressMask | StructureNotifyMask;
        window_ = XCreateWindow(display_, DefaultRootWindow(display_), x, y, unsigned(w),
                                unsigned(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWEventMask | CWBackPixel, &attrs);
        XMapRaised(display_, window_);
        XEvent ev;
        do XNextEvent(display_, &ev);
        while (ev.type != MapNotify);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~TestWindow() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Ok() const { return display_ != nullptr; }

    std::vector<XEvent> Collect(int type, size_t want, uint32_t limitMs = 5000) {
        std::vector<XEvent> got;
        const uint32_t begin = Tick();
        while (got.size() < want && TickSince(begin) < limitMs) {
            while (XPending(display_) > 0) {
                XEvent ev;
                XNextEvent(display_, &ev);
                if (ev.type == type) got.push_back(ev);
            }
            SleepMs(5);
        }
        return got;
    }
    std::string TypedText(size_t presses) {
        std::string text;
        for (XEvent& ev : Collect(KeyPress, presses)) {
            char buffer[8] = {};
            KeySym sym = 0;
            const int n = XLookupString(&ev.xkey, buffer, sizeof buffer, &sym, nullptr);
            text.append(buffer, size_t(n > 0 ? n : 0));
        }
        return text;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

bool PointerAt(int wantX, int wantY) {
    Display* d = XOpenDisplay(g_x->server.Display().c_str());
    if (d == nullptr) return false;
    Window root = 0, child = 0;
    int x = -1, y = -1, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
    XCloseDisplay(d);
    return x == wantX && y == wantY;
}

class PipelineX11Test : public testing::ServerFixture {
  protected:
    void SetUp() override {
        ServerFixture::SetUp();
        marker_ = dir_ + "/secure-attention";
        ini_["SCREEN SOURCE"] = {{"SOURCE", "x11"}, {"DISPLAY", g_x->server.Display()}};
        ini_["SECURE ATTENTION"] = {{"COMMAND", "echo requested > " + marker_}};
        StartServer();
        ASSERT_TRUE(viewer_.Connect(port_));
        ASSERT_EQ(viewer_.LogOn().answer.accepted, 1);
    }
    void Keys(std::initializer_list<std::pair<uint8_t, int32_t>> keys) {
        KEY_EVENTS k = MakeKeyEvents();
        for (const auto& [vk, flags] : keys) ASSERT_TRUE(AddKeyEvent(k, vk, flags));
        ASSERT_TRUE(viewer_.Send(k));
    }

    std::string marker_;
    TestViewer viewer_{2, 1};
};

TEST_F(PipelineX11Test, MouseEventsMoveThePointerAndClickTheWindowTheViewerSees) {
    TestWindow window(100, 100, 200, 150);
    ASSERT_TRUE(window.Ok());
    // The window's red reaches the viewer's picture.
    EXPECT_TRUE(WaitUntil([&] {
        viewer_.Pump(20);
        const uint8_t* p = viewer_.Picture()->Pixel(200, 175);
        return p[0] == 0 && p[1] == 0 && p[2] == 0xFF;
    }));

    ASSERT_TRUE(viewer_.Send(MakeMouseEvent(123, 45, maMove)));
    EXPECT_TRUE(WaitUntil([] { return PointerAt(123, 45); }, 5000));
    ASSERT_TRUE(viewer_.Send(MakeMouseEvent(5000, -1, maMove)));
    EXPECT_TRUE(WaitUntil([] { return PointerAt(799, 0); }, 5000)) << "clamped to the screen";

    ASSERT_TRUE(viewer_.Send(MakeMouseEvent(150, 150, maLeftDown)));
    ASSERT_TRUE(viewer_.Send(MakeMouseEvent(150, 150, maLeftUp)));
    const auto presses = window.Collect(ButtonPress, 1);
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].xbutton.button, 1u);
    EXPECT_EQ(presses[0].xbutton.x, 50);
    EXPECT_EQ(presses[0].xbutton.y, 50);
}

TEST_F(PipelineX11Test, KeyEventsTypeTextIntoTheFocusedWindow) {
    TestWindow window(0, 0, 300, 100);
    ASSERT_TRUE(window.Ok());
    Keys({{0x10, 0}, {'H', 0}, {'H', kfKeyUp}, {0x10, kfKeyUp}, {'I', 0}, {'I', kfKeyUp}});
    EXPECT_EQ(window.TypedText(2), "Hi");
}

TEST_F(PipelineX11Test, ControlAltDeleteRunsTheSecureAttentionPathAndInjectsNothing) {
    TestWindow window(0, 0, 300, 100);
    ASSERT_TRUE(window.Ok());
    Keys({{vkControl, 0}, {vkAlt, 0}, {vkDelete, 0}, {'Q', 0}});
    std::string line;
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::ifstream f(marker_);
            return bool(std::getline(f, line));
        },
        5000));
    EXPECT_EQ(line, "requested");
    EXPECT_TRUE(window.Collect(KeyPress, 1, 500).empty());
}

// The saver guard on its own: off while sharing, turned off again if
// something turns it on, the user's setting back at the end.
TEST(XScreenSaverGuard, SuspendsTheSaverAndPutsTheSettingBack) {
    Display* d = XOpenDisplay(g_x->server.Display().c_str());
    ASSERT_NE(d, nullptr);
    auto timeout = [d] {
        int t = -1, interval = 0, blanking = 0, exposures = 0;
        XGetScreenSaver(d, &t, &interval, &blanking, &exposures);
        return t;
    };
    XSetScreenSaver(d, 321, 0, DefaultBlanking, DefaultExposures);
    XSync(d, False);
    {
        XScreenSaverGuard guard(g_x->server.Display());
        guard.Suspend();
        EXPECT_EQ(timeout(), 0);
        XSetScreenSaver(d, 100, 0, DefaultBlanking, DefaultExposures);  // another client
        XSync(d, False);
        EXPECT_TRUE(WaitUntil(
            [&] {
                guard.Recheck();
                return timeout() == 0;
            },
            5000));
    }  // the destructor restores
    EXPECT_EQ(timeout(), 321);
    XCloseDisplay(d);
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velmora::g_x = new velmora::XServerEnvironment;
    ::testing::AddGlobalTestEnvironment(velmora::g_x);
    return RUN_ALL_TESTS();
}

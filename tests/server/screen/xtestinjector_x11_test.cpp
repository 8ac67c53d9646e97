// Viewer input reaching real X clients through XTest, on a private X server.
#include "server/screen/xtestinjector.h"

// gtest before Xlib: Xlib's None macro breaks gtest's headers.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "support/xvfb.h"

namespace velmora {
namespace {

class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.Start(800, 600, /*windowManager=*/false, &error)) << error;
    }
    void TearDown() override { server.Stop(); }
    PrivateXServer server;
};

XServerEnvironment* g_x = nullptr;

// A plain window that takes the keyboard focus and records what reaches it.
class TestWindow {
  public:
    TestWindow(int x, int y, int w, int h) {
        display_ = XOpenDisplay(g_x->server.Display().c_str());
        if (display_ == nullptr) return;
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                           ExposureMask | StructureNotifyMask;
        window_ =
            XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect | CWEventMask, &attrs);
        XMapRaised(display_, window_);
        WaitFor(MapNotify);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~TestWindow() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Ok() const { return display_ != nullptr; }

    // Events of `type` (or of both key types, for CollectKeys) that arrive
    // within limitMs; other events are dropped.
    std::vector<XEvent> Collect(int type, size_t want, uint32_t limitMs = 3000) {
        return CollectWhere([type](int t) { return t == type; }, want, limitMs);
    }
    std::vector<XEvent> CollectKeys(size_t want, uint32_t limitMs = 3000) {
        return CollectWhere([](int t) { return t == KeyPress || t == KeyRelease; }, want, limitMs);
    }

    std::string TypedText(size_t presses) {
        std::string text;
        for (XEvent& ev : Collect(KeyPress, presses)) {
            char buffer[8] = {};
            KeySym sym = 0;
            const int n = XLookupString(&ev.xkey, buffer, sizeof buffer, &sym, nullptr);
            text.append(buffer, static_cast<size_t>(n > 0 ? n : 0));
        }
        return text;
    }

  private:
    template <typename Pred>
    std::vector<XEvent> CollectWhere(Pred wanted, size_t want, uint32_t limitMs) {
        std::vector<XEvent> got;
        const uint32_t begin = Tick();
        while (got.size() < want && TickSince(begin) < limitMs) {
            while (XPending(display_) > 0) {
                XEvent ev;
                XNextEvent(display_, &ev);
                if (wanted(ev.type)) got.push_back(ev);
            }
            SleepMs(5);
        }
        return got;
    }

    void WaitFor(int type) {
        for (;;) {
            XEvent ev;
            XNextEvent(display_, &ev);
            if (ev.type == type) return;
        }
    }
    Display* display_ = nullptr;
    Window window_ = 0;
};

void PointerPosition(int* x, int* y) {
    Display* d = XOpenDisplay(g_x->server.Display().c_str());
    ASSERT_NE(d, nullptr);
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, x, y, &wx, &wy, &mask);
    XCloseDisplay(d);
}

void Press(InputInjector& in, uint8_t vk, bool shifted = false) {
    if (shifted) in.Key(kVkShift, 0);
    in.Key(vk, 0);
    in.Key(vk, kKeyReleased);
    if (shifted) in.Key(kVkShift, kKeyReleased);
}

TEST(XTestInjector, MovesThePointerAndClampsToTheScreen) {
    XTestInjector in(g_x->server.Display());
    ASSERT_TRUE(in.Available()) << in.LastError();
    struct Case {
        int32_t x, y, wantX, wantY;
    };
    for (const Case& c :
         {Case{123, 45, 123, 45}, Case{-50, 9999, 0, 599}, Case{5000, -1, 799, 0}}) {
        in.MoveTo(c.x, c.y);
        int x = -1, y = -1;
        const uint32_t begin = Tick();
        do {
            PointerPosition(&x, &y);
        } while ((x != c.wantX || y != c.wantY) && TickSince(begin) < 2000);
        EXPECT_EQ(x, c.wantX);
        EXPECT_EQ(y, c.wantY);
    }
}

TEST(XTestInjector, ClicksAndWheelReachTheWindowUnderThePointer) {
    TestWindow window(100, 100, 200, 150);
    ASSERT_TRUE(window.Ok());
    XTestInjector in(g_x->server.Display());
    in.MoveTo(150, 150);
    in.MouseButton(kMouseLeftDown);
    in.MouseButton(kMouseLeftUp);
    in.MouseButton(kMouseRightDown);
    in.MouseButton(kMouseRightUp);
    in.Wheel(-240);  // two notches towards the user
    in.Wheel(60);    // half a notch: held until the next half
    in.Wheel(60);
    const auto presses = window.Collect(ButtonPress, 5);
    ASSERT_EQ(presses.size(), 5u);
    const unsigned want[] = {1, 3, 5, 5, 4};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(presses[i].xbutton.button, want[i]) << "press " << i;
        EXPECT_EQ(presses[i].xbutton.x, 50);
        EXPECT_EQ(presses[i].xbutton.y, 50);
    }
}

TEST(XTestInjector, KeysTypeTextIntoTheFocusedWindow) {
    TestWindow window(0, 0, 300, 100);
    ASSERT_TRUE(window.Ok());
    XTestInjector in(g_x->server.Display());
    Press(in, 'H', /*shifted=*/true);
    Press(in, 'I');
    Press(in, 0x20);
    Press(in, '4');
    Press(in, 0x6B);             // keypad +
    in.Key(0x2E, kKeyExtended);  // Delete
    in.Key(0x2E, kKeyExtended | kKeyReleased);
    Press(in, 0xBE);  // period
    EXPECT_EQ(window.TypedText(8), "Hi 4+\x7f.");
}

TEST(XTestInjector, SecureAttentionRunsTheConfiguredCommandAndInjectsNothing) {
    TestWindow window(0, 0, 300, 100);
    ASSERT_TRUE(window.Ok());
    char dir[] = "/tmp/velmora-sas-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string marker = std::string(dir) + "/ran";
    XTestInjector in(g_x->server.Display(), "echo requested > " + marker);
    in.SecureAttention();
    std::string line;
    const uint32_t begin = Tick();
    while (TickSince(begin) < 5000) {
        std::ifstream f(marker);
        if (std::getline(f, line)) break;
        SleepMs(10);
    }
    EXPECT_EQ(line, "requested");
    EXPECT_TRUE(window.Collect(KeyPress, 1, 300).empty());
    std::remove(marker.c_str());
    rmdir(dir);
}

TEST(XTestInjector, SecureAttentionWithoutACommandInjectsTheChord) {
    TestWindow window(0, 0, 300, 100);
    ASSERT_TRUE(window.Ok());
    XTestInjector in(g_x->server.Display());
    in.SecureAttention();
    const auto events = window.CollectKeys(6);
    std::vector<XEvent> presses;
    size_t releases = 0;
    for (const XEvent& ev : events) {
        if (ev.type == KeyPress) presses.push_back(ev);
        if (ev.type == KeyRelease) ++releases;
    }
    ASSERT_EQ(presses.size(), 3u);
    Display* d = XOpenDisplay(g_x->server.Display().c_str());
    ASSERT_NE(d, nullptr);
    const KeySym want[] = {XK_Control_L, XK_Alt_L, XK_Delete};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(XkbKeycodeToKeysym(d, static_cast<KeyCode>(presses[i].xkey.keycode), 0, 0),
                  want[i]);
    }
    XCloseDisplay(d);
    EXPECT_EQ(releases, 3u) << "nothing stays pressed afterwards";
}

TEST(XTestInjector, WithoutADisplayEveryCallIsHarmless) {
    XTestInjector in(":4093");  // no server there
    EXPECT_FALSE(in.Available());
    EXPECT_NE(in.LastError().find("cannot open the X display"), std::string::npos);
    in.MoveTo(1, 1);
    in.Key('A', 0);
    in.SecureAttention();
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velmora::g_x = new velmora::XServerEnvironment;
    ::testing::AddGlobalTestEnvironment(velmora::g_x);
    return RUN_ALL_TESTS();
}

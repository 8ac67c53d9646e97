// libZTHOOK.so under a private Xvfb with openbox: its exports, and the
// records a real window manager's moves and resizes produce.
// gtest before the X headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "hook/hookevent.h"
#include "hook/hookqueue.h"
#include "hook/zthook.h"
#include "platform/tick.h"
#include "support/xvfb.h"

namespace velmora {
namespace {

PrivateXServer* g_server = nullptr;

class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(1024, 768, true, &error)) << error;
        setenv("DISPLAY", server_.Display().c_str(), 1);  // where the watcher connects
        g_server = &server_;
    }
    void TearDown() override {
        (void)SetUnHooks();
        g_server = nullptr;
        server_.Stop();
    }

  private:
    PrivateXServer server_;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new XServerEnvironment);

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 5000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(5);
    }
    return true;
}

struct Rect {
    int left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "[" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "]";
}

Rect RectOf(const HOOKEVENT& e) {
    return {e.left.get(), e.top.get(), e.right.get(), e.bottom.get()};
}

class Hook : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(g_server, nullptr);
        display_ = XOpenDisplay(g_server->Display().c_str());
        ASSERT_NE(display_, nullptr);
        root_ = DefaultRootWindow(display_);
        ASSERT_EQ(SetHooks(0x1234, 0xC0DE), 1);
        Drain();
    }
    void TearDown() override {
        if (window_ != 0) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }

    void Drain() {
        HOOKEVENT e;
        while (GetQue(&e) != 0) {
        }
    }

    // Maps a client window and waits until openbox has put a frame around
    // it; answers the frame's rectangle.
    Rect OpenFramedWindow() {
        window_ = XCreateSimpleWindow(display_, root_, 100, 100, 300, 200, 0, 0,
                                      WhitePixel(display_, DefaultScreen(display_)));
        XStoreName(display_, window_, "velmora-hook-test");
        XMapWindow(display_, window_);
        XSync(display_, False);
        Rect r{};
        EXPECT_TRUE(WaitFor([&] {
            r = Frame();
            return frame_ != root_ && r.right - r.left > 300;
        })) << "openbox did not frame the window";
        SleepMs(100);  // let the manager finish placing it
        return Frame();
    }

    Rect Frame() {
        Window rootReturn = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        XQueryTree(display_, window_, &rootReturn, &frame_, &children, &count);
        if (children != nullptr) XFree(children);
        XWindowAttributes a;
        XGetWindowAttributes(display_, frame_, &a);
        return {a.x, a.y, a.x + a.width + 2 * a.border_width, a.y + a.height + 2 * a.border_width};
    }

    // Collects records until one with `last` arrives.
    std::vector<HOOKEVENT> RecordsUntil(uint32_t last) {
        std::vector<HOOKEVENT> out;
        WaitFor([&] {
            HOOKEVENT e;
            while (GetQue(&e) != 0) {
                out.push_back(e);
                if (e.message.get() == last) return true;
            }
            return false;
        });
        return out;
    }

    int Xdotool(const std::vector<std::string>& steps) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), steps.begin(), steps.end());
        return g_server->Run(argv);
    }
    static std::string N(int v) { return std::to_string(v); }

    Display* display_ = nullptr;
    Window root_ = 0;
    Window window_ = 0;
    Window frame_ = 0;
};

TEST_F(Hook, MovingAWindowByItsTitleGives561Then534sThen562) {
    const Rect start = OpenFramedWindow();
    const int x = start.left + 60;
    const int y = start.top + 8;  // on the title bar
    ASSERT_EQ(
        Xdotool({"mousemove", N(x),      N(y),        "sleep",   "0.1",     "mousedown", "1",
                 "sleep",     "0.1",     "mousemove", N(x + 40), N(y + 30), "sleep",     "0.1",
                 "mousemove", N(x + 90), N(y + 50),   "sleep",   "0.1",     "mouseup",   "1"}),
        0);
    const std::vector<HOOKEVENT> records = RecordsUntil(kWmExitSizeMove);
    ASSERT_GE(records.size(), 3u);
    const Rect end = Frame();
    EXPECT_EQ(end.left - start.left, 90);
    EXPECT_EQ(end.top - start.top, 50);

    EXPECT_EQ(records.front().message.get(), kWmEnterSizeMove);
    EXPECT_EQ(RectOf(records.front()), start);
    EXPECT_EQ(records.back().message.get(), kWmExitSizeMove);
    EXPECT_EQ(RectOf(records.back()), end);
    for (size_t i = 1; i + 1 < records.size(); ++i) {
        EXPECT_EQ(records[i].message.get(), kWmMoving) << i;
        const Rect r = RectOf(records[i]);
        EXPECT_EQ(r.right - r.left, start.right - start.left) << "a move keeps the size";
    }
    EXPECT_EQ(RectOf(records[records.size() - 2]), end);
    EXPECT_NE(GetCurrentCursor(), 0u) << "the pointer crossed the frame: the cursor changed";
}

TEST_F(Hook, ResizingByTheBottomRightCornerGives532WithThatEdge) {
    const Rect start = OpenFramedWindow();
    const int x = start.right - 2;
    const int y = start.bottom - 2;  // openbox's corner grip
    ASSERT_EQ(
        Xdotool({"mousemove", N(x),      N(y),        "sleep",   "0.1",     "mousedown", "1",
                 "sleep",     "0.1",     "mousemove", N(x + 30), N(y + 20), "sleep",     "0.1",
                 "mousemove", N(x + 60), N(y + 45),   "sleep",   "0.1",     "mouseup",   "1"}),
        0);
    const std::vector<HOOKEVENT> records = RecordsUntil(kWmExitSizeMove);
    ASSERT_GE(records.size(), 3u);
    const Rect end = Frame();
    EXPECT_GT(end.right, start.right);
    EXPECT_GT(end.bottom, start.bottom);
    EXPECT_EQ(records.front().message.get(), kWmEnterSizeMove);
    EXPECT_EQ(RectOf(records.front()), start);
    EXPECT_EQ(records.back().message.get(), kWmExitSizeMove);
    EXPECT_EQ(RectOf(records.back()), end);
    bool sized = false;
    for (size_t i = 1; i + 1 < records.size(); ++i) {
        EXPECT_EQ(records[i].message.get(), kWmSizing) << i;
        EXPECT_EQ(records[i].edge.get(), kEdgeBottomRight) << i;
        EXPECT_EQ(RectOf(records[i]).left, start.left) << "the left side stays";
        sized = true;
    }
    EXPECT_TRUE(sized);
}

TEST_F(Hook, WheelClicksGiveWheelRecordsAtThePointer) {
    const Rect frame = OpenFramedWindow();
    const int x = frame.left + 150;
    const int y = frame.top + 100;
    ASSERT_EQ(Xdotool({"mousemove", N(x), N(y), "sleep", "0.1", "click", "4", "click", "5"}), 0);
    HOOKEVENT up{};
    HOOKEVENT down{};
    ASSERT_TRUE(WaitFor([&] { return GetQue(&up) != 0; }));
    ASSERT_TRUE(WaitFor([&] { return GetQue(&down) != 0; }));
    EXPECT_EQ(up.message.get(), kWmMouseWheel);
    EXPECT_EQ(up.value.get(), 120);
    EXPECT_EQ(down.value.get(), -120);
    EXPECT_EQ(up.x.get(), x);
    EXPECT_EQ(up.y.get(), y);
    EXPECT_EQ(RectOf(up), frame);
    int32_t point[2] = {0, 0};
    GetMousePos(point);
    EXPECT_EQ(point[0], x);
    EXPECT_EQ(point[1], y);
}

TEST_F(Hook, TwoThousandPutsReadAsEmptyAndSetUnHooksEmptiesTheQueue) {
    HookQueue queue("ZTHOOK", "ZTHOOKQUEUE");  // the library's own queue
    ASSERT_TRUE(queue.IsOpen()) << queue.LastError();
    HOOKEVENT e{};
    e.message = kWmMoving;
    for (int n = 0; n < 2000; ++n) ASSERT_TRUE(queue.Put(e));
    HOOKEVENT out{};
    out.message = 99;
    EXPECT_EQ(GetQue(&out), 0);
    EXPECT_EQ(out.message.get(), 99u) << "an empty queue leaves the record untouched";

    for (int n = 0; n < 3; ++n) ASSERT_TRUE(queue.Put(e));
    EXPECT_EQ(GetQueCount(), 3);
    EXPECT_EQ(SetHideMouse(1), 1);
    EXPECT_EQ(SetUnHooks(), 1);
    EXPECT_EQ(GetQueCount(), 0);
    EXPECT_EQ(GetQue(&out), 0);
    EXPECT_EQ(queue.Shared()->hideMouse, 0);
    EXPECT_EQ(queue.Shared()->ownerWindow.get(), 0x1234u);
    EXPECT_EQ(queue.Shared()->ownerMessage.get(), 0xC0DEu);
}

TEST_F(Hook, TheLibraryExportsTheSevenFunctionsAndNothingOfItsInnards) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::string path(self, size_t(n));
    path = path.substr(0, path.rfind('/') + 1) + "libZTHOOK.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name : {"SetHooks", "SetUnHooks", "GetQue", "GetQueCount", "GetMousePos",
                             "GetCurrentCursor", "SetHideMouse"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    // Its copies of the platform and hook classes stay private, so they can
    // never stand in for the server's own.
    for (const char* name : {"_ZN7velmora7ZTMUTEX4LockEv", "_ZN7velmora9HookQueue5ClearEv"}) {
        EXPECT_EQ(dlsym(library, name), nullptr) << name;
    }
    dlclose(library);
}

}  // namespace
}  // namespace velmora

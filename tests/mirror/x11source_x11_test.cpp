// The x11 screen source under a private Xvfb with openbox: the files follow
// what real X clients draw, the cursor and a RandR size change.
// gtest before the X headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mirror/ztvlshare.h"
#include "platform/tick.h"
#include "server/screen/sourceprocess.h"
#include "support/xvfb.h"

namespace velmora {
namespace {

PrivateXServer* g_server = nullptr;

class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(1024, 768, true, &error)) << error;
        g_server = &server_;
    }
    void TearDown() override {
        g_server = nullptr;
        server_.Stop();
    }

  private:
    PrivateXServer server_;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new XServerEnvironment);

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 10000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(10);
    }
    return true;
}

// A read-only view of one of the shared files as it is now.
struct FileView {
    FileView() = default;
    explicit FileView(const std::string& path) {
        const int fd = open(path.c_str(), O_RDWR);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0) return;
        size = size_t(st.st_size);
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (p != MAP_FAILED) bytes = static_cast<uint8_t*>(p);
    }
    ~FileView() {
        if (bytes != nullptr) munmap(bytes, size);
    }
    FileView(const FileView&) = delete;
    SCREENFILE_HEADER& Screen() const { return *reinterpret_cast<SCREENFILE_HEADER*>(bytes); }
    POINTERFILE_HEADER& Pointer() const { return *reinterpret_cast<POINTERFILE_HEADER*>(bytes); }

    uint8_t* bytes = nullptr;
    size_t size = 0;
};

class X11Source : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(g_server, nullptr);
        display_ = XOpenDisplay(g_server->Display().c_str());
        ASSERT_NE(display_, nullptr);
        root_ = DefaultRootWindow(display_);
        char name[] = "/tmp/velmora-x11src-XXXXXX";
        dir_ = mkdtemp(name);
        std::string error;
        const std::string program = SourceProcess::Find("ZTVL");
        ASSERT_FALSE(program.empty());
        ASSERT_EQ(source_.Start(program,
                                {"--source", "x11", "--display", g_server->Display(), "--rate",
                                 "100", "--dir", dir_},
                                10000, &error),
                  SourceProcess::kStarted)
            << error;
    }
    void TearDown() override {
        EXPECT_EQ(source_.Stop(3000), SourceProcess::kStopped);
        if (display_ != nullptr) XCloseDisplay(display_);
        (void)!std::system(("rm -rf " + dir_).c_str());
    }

    std::string ScreenPath() const { return dir_ + "/ZTVLSHARE.DAT"; }
    std::string PointerPath() const { return dir_ + "/ZTVLSHAREP.DAT"; }

    // The root window as the X server itself shows it, in the file's layout
    // (green, blue, red, 0; rows bottom-up), read pixel by pixel through the
    // visual's masks, independently of the source's own conversion.
    std::vector<uint8_t> RootPicture(int* width, int* height) {
        XWindowAttributes a;
        XGetWindowAttributes(display_, root_, &a);
        *width = a.width;
        *height = a.height;
        XImage* image = XGetImage(display_, root_, 0, 0, unsigned(a.width), unsigned(a.height),
                                  AllPlanes, ZPixmap);
        if (image == nullptr) return {};
        std::vector<uint8_t> out(size_t(a.width) * size_t(a.height) * 4);
        const auto channel = [](unsigned long pixel, unsigned long mask) {
            const int shift = __builtin_ctzl(mask);
            return uint8_t(((pixel & mask) >> shift) * 255 / (mask >> shift));
        };
        for (int y = 0; y < a.height; ++y) {
            uint8_t* row = out.data() + size_t(a.height - 1 - y) * size_t(a.width) * 4;
            for (int x = 0; x < a.width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                row[x * 4 + 0] = channel(p, image->green_mask);
                row[x * 4 + 1] = channel(p, image->blue_mask);
                row[x * 4 + 2] = channel(p, image->red_mask);
            }
        }
        XDestroyImage(image);
        return out;
    }

    // Waits until the screen file equals the root window pixel for pixel.
    ::testing::AssertionResult FileMatchesScreen() {
        size_t differing = 0;
        std::string where;
        const bool same = WaitFor([&] {
            int w = 0;
            int h = 0;
            const std::vector<uint8_t> expected = RootPicture(&w, &h);
            FileView file(ScreenPath());
            if (file.bytes == nullptr || file.Screen().width.get() != uint32_t(w) ||
                file.Screen().height.get() != uint32_t(h) || file.size < 32 + expected.size()) {
                where = "the file does not describe a " + std::to_string(w) + "x" +
                        std::to_string(h) + " screen";
                return false;
            }
            differing = 0;
            for (size_t i = 0; i < expected.size(); i += 4) {
                if (std::memcmp(file.bytes + 32 + i, expected.data() + i, 4) != 0) {
                    if (differing++ == 0) {
                        const size_t pixel = i / 4;
                        where = "first at x " + std::to_string(pixel % size_t(w)) +
                                ", memory row " + std::to_string(pixel / size_t(w));
                    }
                }
            }
            return differing == 0;
        });
        if (same) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << differing << " pixels differ; " << where;
    }

    unsigned long Colour(const char* name) {
        XColor c;
        XColor exact;
        XAllocNamedColor(display_, DefaultColormap(display_, DefaultScreen(display_)), name, &c,
                         &exact);
        return c.pixel;
    }

    Display* display_ = nullptr;
    Window root_ = 0;
    std::string dir_;
    SourceProcess source_;
};

TEST_F(X11Source, ScreenFileEqualsTheRootWindowAfterRealClientsDraw) {
    ASSERT_EQ(g_server->Run({"xsetroot", "-solid", "#3366cc"}), 0);
    // A client window with coloured areas, text and a one-pixel line.
    const Window w = XCreateSimpleWindow(display_, root_, 50, 60, 300, 200, 0, 0, Colour("white"));
    XStoreName(display_, w, "velmora-test");
    XSelectInput(display_, w, ExposureMask);
    XMapWindow(display_, w);
    XEvent event;
    XWindowEvent(display_, w, ExposureMask, &event);
    GC gc = XCreateGC(display_, w, 0, nullptr);
    const char* colours[] = {"red", "green", "blue", "yellow", "black"};
    for (int i = 0; i < 5; ++i) {
        XSetForeground(display_, gc, Colour(colours[i]));
        XFillRectangle(display_, w, gc, 10 + i * 55, 20, 50, 80);
    }
    XDrawString(display_, w, gc, 20, 150, "velmora", 7);
    XDrawLine(display_, w, gc, 0, 199, 299, 120);
    XSync(display_, False);

    EXPECT_TRUE(FileMatchesScreen());
    FileView file(ScreenPath());
    ASSERT_NE(file.bytes, nullptr);
    // A pixel of the red area is stored 00 00 FF 00.
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, root_, 15, 30, &x, &y, &child);
    const uint8_t red[4] = {0, 0, 0xFF, 0};
    EXPECT_EQ(std::memcmp(file.bytes + 32 + (size_t(767 - y) * 1024 + size_t(x)) * 4, red, 4), 0);
    EXPECT_EQ(file.Screen().signature.get(), 100u);
    EXPECT_EQ(file.Screen().bitsPerPixel.get(), 32u);
    EXPECT_EQ(LoadFlag(file.Screen().drawn), 1u);

    XFreeGC(display_, gc);
    XDestroyWindow(display_, w);
    XSync(display_, False);
    EXPECT_TRUE(FileMatchesScreen()) << "after the window went away";
}

TEST_F(X11Source, CursorImageAndPositionLandInThePointerFile) {
    // A 16 x 16 cursor, red on the left and blue on the right, so a channel
    // mix-up shows. (Font cursors would come themed from the cursor library.)
    static const unsigned char kLeftHalf[32] = {
        0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0,
        0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
    static const unsigned char kAll[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Pixmap source =
        XCreateBitmapFromData(display_, root_, reinterpret_cast<const char*>(kLeftHalf), 16, 16);
    const Pixmap mask =
        XCreateBitmapFromData(display_, root_, reinterpret_cast<const char*>(kAll), 16, 16);
    XColor red{};
    XColor blue{};
    red.red = 0xFFFF;
    blue.blue = 0xFFFF;
    const Cursor shape = XCreatePixmapCursor(display_, source, mask, &red, &blue, 3, 5);
    // A client window shows it (the window manager keeps its own on the root).
    const Window w = XCreateSimpleWindow(display_, root_, 0, 0, 400, 300, 0, 0, Colour("white"));
    XDefineCursor(display_, w, shape);
    XSelectInput(display_, w, ExposureMask);
    XMapWindow(display_, w);
    XEvent event;
    XWindowEvent(display_, w, ExposureMask, &event);
    int px = 0;
    int py = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, root_, 200, 150, &px, &py, &child);
    // The server shows a new cursor when the pointer moves.
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, px - 1, py);
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, px, py);
    XSync(display_, False);

    FileView file(PointerPath());
    ASSERT_NE(file.bytes, nullptr);
    XFixesCursorImage* cursor = nullptr;
    const bool same = WaitFor([&] {
        if (cursor != nullptr) XFree(cursor);
        cursor = XFixesGetCursorImage(display_);
        const POINTERFILE_HEADER& h = file.Pointer();
        if (cursor == nullptr || h.shapeHeight.get() != cursor->height ||
            h.shapeWidth.get() != (cursor->width + 31u) / 32u * 32u || h.x.get() != px ||
            h.y.get() != py) {
            return false;
        }
        // Opaque pixels carry the cursor's colour as blue, green, red, alpha.
        bool sawRed = false;
        bool sawBlue = false;
        for (int y = 0; y < cursor->height; ++y) {
            for (int x = 0; x < cursor->width; ++x) {
                const auto p = uint32_t(cursor->pixels[y * cursor->width + x]);
                if ((p >> 24) != 0xFF) continue;
                sawRed = sawRed || (p & 0xFFFFFF) == 0xFF0000;
                sawBlue = sawBlue || (p & 0xFFFFFF) == 0x0000FF;
                const uint8_t* out =
                    file.bytes + 60 + (size_t(y) * h.shapeWidth.get() + size_t(x)) * 4;
                if (out[0] != (p & 0xFF) || out[1] != ((p >> 8) & 0xFF) ||
                    out[2] != ((p >> 16) & 0xFF) || out[3] != 0xFF) {
                    return false;
                }
            }
        }
        return sawRed && sawBlue;
    });
    EXPECT_TRUE(same) << "the pointer file does not show the red and blue cursor at " << px << ", "
                      << py;
    EXPECT_EQ(file.Pointer().colour.get(), 1u);
    EXPECT_EQ(file.Pointer().format.get(), 6u);
    if (cursor != nullptr) {
        EXPECT_EQ(file.Pointer().xHot.get(), 3);
        EXPECT_EQ(file.Pointer().yHot.get(), 5);
        XFree(cursor);
    }

    StoreFlag(file.Pointer().changed, 0);
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, 20, 30);
    XSync(display_, False);
    EXPECT_TRUE(WaitFor([&] {
        return LoadFlag(file.Pointer().changed) == 1 && file.Pointer().x.get() == 20 &&
               file.Pointer().y.get() == 30;
    }));

    XDestroyWindow(display_, w);
    XFreeCursor(display_, shape);
    XFreePixmap(display_, source);
    XFreePixmap(display_, mask);
    XSync(display_, False);
}

TEST_F(X11Source, RandrSizeChangeWritesANewHeaderAfterSharingWentToZero) {
    FileView before(ScreenPath());
    ASSERT_NE(before.bytes, nullptr);
    ASSERT_EQ(before.Screen().width.get(), 1024u);
    StoreFlag(before.Screen().sharing, 1);  // as the server does

    ASSERT_EQ(g_server->Run({"xrandr", "--newmode", "800x600", "40", "800", "840", "968", "1056",
                             "600", "601", "605", "628"}),
              0);
    ASSERT_EQ(g_server->Run({"xrandr", "--addmode", "screen", "800x600"}), 0);
    ASSERT_EQ(g_server->Run({"xrandr", "--output", "screen", "--mode", "800x600"}), 0);

    EXPECT_TRUE(WaitFor([&] { return LoadFlag(before.Screen().sharing) == 0; }));
    EXPECT_EQ(before.Screen().width.get(), 1024u) << "the old header is left as it was";
    EXPECT_TRUE(FileMatchesScreen());
    FileView after(ScreenPath());
    ASSERT_NE(after.bytes, nullptr);
    EXPECT_EQ(after.Screen().width.get(), 800u);
    EXPECT_EQ(after.Screen().height.get(), 600u);
    EXPECT_EQ(after.size, ScreenFileSize(800, 600));

    ASSERT_EQ(g_server->Run({"xrandr", "--output", "screen", "--mode", "1024x768"}), 0);
    EXPECT_TRUE(FileMatchesScreen()) << "back at 1024x768";
}

}  // namespace
}  // namespace velmora

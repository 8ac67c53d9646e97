#include "mirror/x11source.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace velmora {
namespace {

// A damage region of more rectangles than this is read as its bounding box:
// one larger read costs less than many round trips.
constexpr int kMaxDamageRects = 32;
constexpr auto kPointerPollPeriod = std::chrono::milliseconds(50);

// X reports errors asynchronously through a process-wide handler; the source
// has one display, so the last error code is all it needs.
int g_lastXError = 0;
ShareFileWriter* g_writer = nullptr;

int OnXError(Display* /*display*/, XErrorEvent* event) {
    g_lastXError = event->error_code;
    return 0;
}

// A lost display connection cannot be returned from: the source tells the
// server it no longer shares, then ends.
int OnXIoError(Display* /*display*/) {
    if (g_writer != nullptr && g_writer->ScreenHeader() != nullptr) {
        StoreFlag(g_writer->ScreenHeader()->sharing, 0);
    }
    static const char message[] = "ZTVL: lost the connection to the X display\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(1);
}

int BitsPerPixelOfDepth(Display* display, int depth) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    int bits = 0;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
    }
    if (formats != nullptr) XFree(formats);
    return bits;
}

}  // namespace

X11Source::~X11Source() {
    FreeImageMemory();
    if (display_ != nullptr) {
        if (damage_ != 0) XDamageDestroy(display_, damage_);
        XCloseDisplay(display_);
    }
    g_writer = nullptr;
}

bool X11Source::Connect(std::string* error) {
    XSetErrorHandler(&OnXError);
    XSetIOErrorHandler(&OnXIoError);
    display_ = XOpenDisplay(options_.display.empty() ? nullptr : options_.display.c_str());
    if (display_ == nullptr) {
        const char* name = options_.display.empty() ? getenv("DISPLAY") : options_.display.c_str();
        *error = std::string("cannot open the X display ") +
                 (name != nullptr ? name : "(DISPLAY is not set)");
        return false;
    }
    const int screen = DefaultScreen(display_);
    root_ = RootWindow(display_, screen);
    visual_ = DefaultVisual(display_, screen);
    depth_ = DefaultDepth(display_, screen);
    if (!converter_.Configure(
            BitsPerPixelOfDepth(display_, depth_), ImageByteOrder(display_) == MSBFirst,
            static_cast<uint32_t>(visual_->red_mask), static_cast<uint32_t>(visual_->green_mask),
            static_cast<uint32_t>(visual_->blue_mask))) {
        *error = "the X screen's pixel format (depth " + std::to_string(depth_) +
                 ") is not a true-colour format of 16, 24 or 32 bits";
        return false;
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XDamageQueryExtension(display_, &damageEvent_, &errorBase) ||
        !XDamageQueryVersion(display_, &major, &minor)) {
        *error = "the X server has no DAMAGE extension";
        return false;
    }
    if (!XFixesQueryExtension(display_, &fixesEvent_, &errorBase) ||
        !XFixesQueryVersion(display_, &major, &minor) || major < 2) {
        *error = "the X server has no XFIXES extension of version 2 or later";
        return false;
    }
    if (XRRQueryExtension(display_, &eventBase, &errorBase)) {
        randrEvent_ = eventBase;
        XRRSelectInput(display_, root_, RRScreenChangeNotifyMask);
    } else {
        std::fputs("ZTVL: the X server has no RANDR extension; size changes are not followed\n",
                   stderr);
        randrEvent_ = -1;
    }
    useShm_ = XShmQueryExtension(display_) != 0;
    damage_ = XDamageCreate(display_, root_, XDamageReportNonEmpty);
    XFixesSelectCursorInput(display_, root_, XFixesDisplayCursorNotifyMask);
    return true;
}

bool X11Source::MakeImageMemory(int width, int height) {
    if (!useShm_) return true;
    shm_.shmid = shmget(IPC_PRIVATE, size_t(width) * size_t(height) * 4, IPC_CREAT | 0600);
    if (shm_.shmid < 0) {
        useShm_ = false;
        return true;
    }
    shm_.shmaddr = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        useShm_ = false;
        return true;
    }
    g_lastXError = 0;
    XShmAttach(display_, &shm_);
    XSync(display_, False);
    // Marked for removal now: it goes away when both sides have detached.
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    if (g_lastXError != 0) {
        // A server that cannot reach our memory (another host or container).
        shmdt(shm_.shmaddr);
        useShm_ = false;
        return true;
    }
    shmAttached_ = true;
    return true;
}

void X11Source::FreeImageMemory() {
    if (!shmAttached_) return;
    XShmDetach(display_, &shm_);
    XSync(display_, False);
    shmdt(shm_.shmaddr);
    shmAttached_ = false;
}

void X11Source::CopyRect(const ScreenRect& area) {
    const FrameCanvas canvas = writer_.Canvas();
    const ScreenRect r = area.Intersect(canvas.Bounds());
    if (r.Empty()) return;
    XImage* image = nullptr;
    if (shmAttached_) {
        image = XShmCreateImage(display_, visual_, unsigned(depth_), ZPixmap, shm_.shmaddr, &shm_,
                                unsigned(r.Width()), unsigned(r.Height()));
        if (image != nullptr && !XShmGetImage(display_, root_, image, r.left, r.top, AllPlanes)) {
            XDestroyImage(image);  // frees only the header of a shared-memory image
            image = nullptr;
        }
    } else {
        image = XGetImage(display_, root_, r.left, r.top, unsigned(r.Width()), unsigned(r.Height()),
                          AllPlanes, ZPixmap);
    }
    if (image == nullptr) return;  // the screen changed size under the request
    for (int row = 0; row < r.Height(); ++row) {
        const auto* src = reinterpret_cast<const uint8_t*>(image->data) +
                          size_t(row) * size_t(image->bytes_per_line);
        converter_.ConvertRow(src, canvas.Row(r.top + row) + size_t(r.left) * 4, r.Width());
    }
    XDestroyImage(image);
}

void X11Source::CopyDamage() {
    XserverRegion region = XFixesCreateRegion(display_, nullptr, 0);
    XDamageSubtract(display_, damage_, None, region);
    int count = 0;
    XRectangle bounds{};
    XRectangle* rects = XFixesFetchRegionAndBounds(display_, region, &count, &bounds);
    if (count > kMaxDamageRects) {
        CopyRect({bounds.x, bounds.y, bounds.x + bounds.width, bounds.y + bounds.height});
    } else {
        for (int i = 0; i < count; ++i) {
            const XRectangle& x = rects[i];
            CopyRect({x.x, x.y, x.x + x.width, x.y + x.height});
        }
    }
    if (rects != nullptr) XFree(rects);
    XFixesDestroyRegion(display_, region);
    writer_.SetFrameCounter(++copies_);
    writer_.MarkDrawn();
}

void X11Source::CopyAll() {
    XDamageSubtract(display_, damage_, None, None);
    CopyRect(writer_.Canvas().Bounds());
    writer_.SetFrameCounter(++copies_);
    writer_.MarkDrawn();
}

void X11Source::UpdateCursor() {
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    if (image == nullptr) return;
    const size_t count = size_t(image->width) * size_t(image->height);
    cursor_.resize(count);
    // The pixels are ARGB in the low 32 bits of each long.
    for (size_t i = 0; i < count; ++i) cursor_[i] = static_cast<uint32_t>(image->pixels[i]);
    writer_.SetPointerShape(cursor_.data(), image->width, image->height, image->xhot, image->yhot,
                            image->x, image->y);
    XFree(image);
}

void X11Source::PollPointer() {
    Window rootReturn = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int wx = 0;
    int wy = 0;
    unsigned int mask = 0;
    if (XQueryPointer(display_, root_, &rootReturn, &child, &x, &y, &wx, &wy, &mask)) {
        writer_.MovePointer(x, y);
    }
}

bool X11Source::SwitchMode(std::string* error) {
    const int screen = DefaultScreen(display_);
    const int width = DisplayWidth(display_, screen);
    const int height = DisplayHeight(display_, screen);
    if (width == writer_.Width() && height == writer_.Height()) return true;
    FreeImageMemory();
    if (writer_.SwitchMode(width, height) != ShareFileWriter::kOk) {
        *error = writer_.LastError();
        return false;
    }
    MakeImageMemory(width, height);
    CopyAll();
    UpdateCursor();
    return true;
}

bool X11Source::HandleEvent(XEvent& event, std::string* error) {
    if (event.type == damageEvent_ + XDamageNotify) {
        damagePending_ = true;
    } else if (event.type == fixesEvent_ + XFixesCursorNotify) {
        UpdateCursor();
    } else if (randrEvent_ >= 0 && event.type == randrEvent_ + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event);
        return SwitchMode(error);
    }
    return true;
}

int X11Source::NextTimeoutMs(Clock::time_point now) const {
    Clock::time_point due = nextPointerPoll_;
    if (damagePending_) due = std::min(due, nextCopy_);
    if (due <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

int X11Source::Run(const std::string& directory, std::string* error) {
    if (!Connect(error)) return 1;
    const int screen = DefaultScreen(display_);
    if (writer_.Open(directory, DisplayWidth(display_, screen), DisplayHeight(display_, screen)) !=
        ShareFileWriter::kOk) {
        *error = writer_.LastError();
        return 1;
    }
    g_writer = &writer_;
    MakeImageMemory(writer_.Width(), writer_.Height());
    CopyAll();
    UpdateCursor();
    PollPointer();
    control_.ReportReady();

    const auto period = std::chrono::microseconds(1000000 / options_.rate);
    nextCopy_ = Clock::now();
    nextPointerPoll_ = nextCopy_ + kPointerPollPeriod;
    XEvent event;
    while (!control_.Stopped()) {
        while (XPending(display_) > 0) {
            XNextEvent(display_, &event);
            if (!HandleEvent(event, error)) return 1;
        }
        const auto now = Clock::now();
        if (damagePending_ && now >= nextCopy_) {
            damagePending_ = false;
            CopyDamage();
            nextCopy_ = now + period;
        }
        if (now >= nextPointerPoll_) {
            PollPointer();
            nextPointerPoll_ = now + kPointerPollPeriod;
        }
        if (XPending(display_) > 0) continue;
        control_.Wait(ConnectionNumber(display_), NextTimeoutMs(Clock::now()));
    }
    return 0;
}

}  // namespace velmora

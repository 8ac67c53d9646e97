// What the x11 screen source costs to bring a fully damaged 1920 x 1080
// screen into the screen file, under a private Xvfb: the time from a client
// filling the whole screen to the file showing it, and the source's own CPU
// time per frame. Prints the figures.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mirror/ztvlshare.h"
#include "server/screen/sourceprocess.h"
#include "support/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 100;

// user + system CPU time of a process, in milliseconds.
double CpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // fields 3..13
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

bool Shows(const uint8_t* file, uint32_t packed) {
    const size_t stride = size_t(kWidth) * 4;
    const size_t at[] = {0, stride * (kHeight / 2) + stride / 2, stride * kHeight - 4};
    for (size_t offset : at) {
        if (velmora::LoadLe<uint32_t>(file + 32 + offset) != packed) return false;
    }
    return true;
}

}  // namespace

int main() {
    using namespace velmora;
    PrivateXServer server;
    std::string error;
    if (!server.Start(kWidth, kHeight, false, &error)) {
        std::fprintf(stderr, "bench_x11source: %s\n", error.c_str());
        return 1;
    }
    char name[] = "/tmp/velmora-bench-XXXXXX";
    const std::string dir = mkdtemp(name);
    SourceProcess source;
    if (source.Start(
            SourceProcess::Find("ZTVL"),
            {"--source", "x11", "--display", server.Display(), "--rate", "1000", "--dir", dir},
            10000, &error) != SourceProcess::kStarted) {
        std::fprintf(stderr, "bench_x11source: %s\n", error.c_str());
        return 1;
    }
    const int fd = open((dir + "/ZTVLSHARE.DAT").c_str(), O_RDONLY);
    const size_t size = ScreenFileSize(kWidth, kHeight);
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    Display* display = XOpenDisplay(server.Display().c_str());
    if (view == MAP_FAILED || display == nullptr) {
        std::fprintf(stderr, "bench_x11source: no screen file or no display\n");
        return 1;
    }
    const auto* file = static_cast<const uint8_t*>(view);
    const Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);

    std::vector<double> ms;
    double cpuBefore = 0;
    for (int i = -5; i < kFrames; ++i) {  // five frames to warm up
        if (i == 0) cpuBefore = CpuMs(source.Pid());
        const uint8_t r = uint8_t(40 + i * 37), g = uint8_t(90 + i * 91), b = uint8_t(7 + i * 53);
        const auto start = Clock::now();
        XSetForeground(display, gc, (unsigned long)(r) << 16 | (unsigned long)(g) << 8 | b);
        XFillRectangle(display, root, gc, 0, 0, kWidth, kHeight);
        XSync(display, False);
        const uint32_t want = PackPixel(r, g, b);
        while (!Shows(file, want)) {
            if (Clock::now() - start > std::chrono::seconds(10)) {
                std::fprintf(stderr, "bench_x11source: the file never showed frame %d\n", i);
                return 1;
            }
            usleep(100);
        }
        if (i >= 0)
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const double cpu = CpuMs(source.Pid()) - cpuBefore;
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("x11 source, fully damaged %dx%d screen into the file (%d frames):\n", kWidth,
                kHeight, kFrames);
    std::printf("  fill-to-file latency: mean %.2f ms, median %.2f ms, 90th %.2f ms per frame\n",
                sum / double(ms.size()), ms[ms.size() / 2], ms[ms.size() * 9 / 10]);
    std::printf("  source CPU time: %.2f ms per frame (clock tick %ld per s)\n", cpu / kFrames,
                sysconf(_SC_CLK_TCK));

    XFreeGC(display, gc);
    XCloseDisplay(display);
    munmap(view, size);
    (void)source.Stop(3000);
    server.Stop();
    (void)!std::system(("rm -rf " + dir).c_str());
    return 0;
}

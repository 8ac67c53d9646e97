// VelmoraCompare: compares what a viewer shows with what the screen shows
// (two PNG files) and writes them side by side.
//   VelmoraCompare VIEWER.png SCREEN.png [--tolerance N] [--side-by-side OUT.png]
// Exit: 0 the pictures match, 1 they differ, 2 a file cannot be used.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/pngcodec.h"
#include "viewer/snapcompare.h"

int main(int argc, char** argv) {
    using namespace velmora;
    std::vector<std::string> files;
    std::string sideBySide;
    int tolerance = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tolerance" && i + 1 < argc) {
            const char* v = argv[++i];
            const auto [end, ec] = std::from_chars(v, v + std::strlen(v), tolerance);
            if (ec != std::errc() || *end != '\0' || tolerance < 0 || tolerance > 255) {
                std::fprintf(stderr, "VelmoraCompare: bad tolerance %s (0 to 255)\n", v);
                return 2;
            }
        } else if (arg == "--side-by-side" && i + 1 < argc) {
            sideBySide = argv[++i];
        } else if (!arg.empty() && arg[0] != '-') {
            files.push_back(arg);
        } else {
            std::fprintf(stderr,
                         "usage: VelmoraCompare VIEWER.png SCREEN.png [--tolerance N] "
                         "[--side-by-side OUT.png]\n");
            return 2;
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "VelmoraCompare: two PNG files are needed\n");
        return 2;
    }
    PngPicture pictures[2];
    for (int k = 0; k < 2; ++k) {
        std::string error;
        if (ReadPngFile(files[k], &pictures[k], &error) != pngOk) {
            std::fprintf(stderr, "VelmoraCompare: %s\n", error.c_str());
            return 2;
        }
    }
    const PngPicture& a = pictures[0];
    const PngPicture& b = pictures[1];
    const SnapDifference d = SnapCompare::Compare(a.pixels.data(), a.width, a.height,
                                                  b.pixels.data(), b.width, b.height, tolerance);
    std::printf("%s\n", d.Describe(tolerance).c_str());
    if (!sideBySide.empty()) {
        std::vector<uint32_t> combined;
        int width = 0, height = 0;
        SnapCompare::SideBySide(a.pixels.data(), a.width, a.height, b.pixels.data(), b.width,
                                b.height, tolerance, true, &combined, &width, &height);
        std::string error;
        if (WritePngFile(sideBySide, combined.data(), width, height, static_cast<size_t>(width),
                         false, &error) != pngOk) {
            std::fprintf(stderr, "VelmoraCompare: %s\n", error.c_str());
            return 2;
        }
        std::printf("side by side: %s (%dx%d; differing pixels of the right one in magenta)\n",
                    sideBySide.c_str(), width, height);
    }
    return d.Match() ? 0 : 1;
}

#include "mirror/sourceoptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>

#include "mirror/syntheticscene.h"
#include "mirror/ztvlshare.h"

namespace velmora {
namespace {

bool ParseInt(std::string_view text, int64_t min, int64_t max, int64_t* out) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
    *out = v;
    return true;
}

bool ParseSize(std::string_view text, int* width, int* height) {
    const size_t x = text.find('x');
    int64_t w = 0;
    int64_t h = 0;
    if (x == std::string_view::npos || !ParseInt(text.substr(0, x), 1, kMaxScreenSide, &w) ||
        !ParseInt(text.substr(x + 1), 1, kMaxScreenSide, &h)) {
        return false;
    }
    *width = int(w);
    *height = int(h);
    return true;
}

}  // namespace

int SourceOptions::Parse(int argc, const char* const* argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--describe") return kDescribe;
        if (arg == "--help" || arg == "-h") return kHelp;
        static constexpr std::string_view kWithValue[] = {
            "--source",      "--scene",   "--size", "--rate",       "--frames",
            "--mode-switch", "--display", "--dir",  "--control-fd", "--snapshot"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
            *error = "unknown option: " + std::string(arg);
            return kBadArgument;
        }
        if (i + 1 >= argc) {
            *error = "missing value for " + std::string(arg);
            return kBadArgument;
        }
        const std::string_view value = argv[++i];
        int64_t n = 0;
        bool ok = true;
        if (arg == "--source") {
            ok = value == "x11" || value == "synthetic";
            source = value == "x11" ? Source::kX11 : Source::kSynthetic;
        } else if (arg == "--scene") {
            ok = SyntheticScene::Make(value, 1, 1) != nullptr;
            scene = value;
        } else if (arg == "--size") {
            ok = ParseSize(value, &width, &height);
        } else if (arg == "--rate") {
            ok = ParseInt(value, 1, 1000, &n);
            rate = uint32_t(n);
        } else if (arg == "--frames") {
            ok = ParseInt(value, 0, UINT32_MAX, &frames);
        } else if (arg == "--mode-switch") {
            const size_t colon = value.find(':');
            ok = colon != std::string_view::npos &&
                 ParseInt(value.substr(0, colon), 1, UINT32_MAX, &switchFrame) &&
                 ParseSize(value.substr(colon + 1), &switchWidth, &switchHeight);
        } else if (arg == "--display") {
            display = value;
        } else if (arg == "--dir") {
            ok = !value.empty();
            directory = value;
        } else if (arg == "--snapshot") {
            ok = !value.empty();
            snapshotFile = value;
        } else {  // --control-fd
            ok = ParseInt(value, 0, 65535, &n);
            controlFd = int(n);
        }
        if (!ok) {
            *error = "bad value for " + std::string(arg) + ": " + std::string(value);
            return kBadArgument;
        }
    }
    return kParsed;
}

std::string SourceOptions::HelpText() {
    std::string scenes;
    for (const char* name : SyntheticScene::kNames)
        scenes += std::string(scenes.empty() ? "" : ", ") + name;
    return "Usage: ZTVL [options]\n"
           "Screen source: keeps a copy of the screen and of the pointer in the shared files\n"
           "ZTVLSHARE.DAT and ZTVLSHAREP.DAT, which the server reads.\n"
           "\n"
           "  --source x11|synthetic  where the picture comes from (default x11)\n"
           "  --display NAME          x11: the X display (default $DISPLAY)\n"
           "  --scene NAME            synthetic: " +
           scenes +
           " (default static)\n"
           "  --size WxH              synthetic: screen size (default 1024x768)\n"
           "  --rate N                frames per second (synthetic), or at most N copies\n"
           "                          per second (x11); default 30\n"
           "  --frames N              synthetic: stop changing after frame N\n"
           "  --mode-switch N:WxH     synthetic: switch the screen to WxH at frame N\n"
           "  --dir PATH              folder of the shared files (default: the runtime\n"
           "                          directory, $ZTVL_ROOT or $XDG_RUNTIME_DIR/velmora)\n"
           "  --control-fd N          set by the server that starts the source\n"
           "  --snapshot FILE         x11: write the screen as it is now to the PNG FILE\n"
           "                          and exit (no shared files are touched)\n"
           "  --describe              print the description and the service name\n"
           "  --help                  this text\n"
           "\n"
           "The source runs until SIGTERM or SIGINT, or until the server that started it\n"
           "goes away; it then sets the screen file's sharing field to 0.\n"
           "Synthetic scenes are deterministic: frame n (the screen header's last field)\n"
           "always looks the same.\n";
}

std::string SourceOptions::DescribeText() {
    return std::string("description: ") + kZtvlDescription + "\nservice: " + kZtvlServiceName +
           "\n";
}

}  // namespace velmora

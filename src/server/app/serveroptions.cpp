#include "server/app/serveroptions.h"

#include <cstring>

#include "platform/ini_file.h"

namespace velmora {
namespace {

constexpr char kSourceSection[] = "SCREEN SOURCE";

}  // namespace

int ServerOptions::Parse(int argc, const char* const* argv, std::string* error) {
    struct Valued {
        const char* flag;
        std::string* value;
    };
    const Valued valued[] = {{"--source", &source}, {"--scene", &scene},   {"--size", &size},
                             {"--rate", &rate},     {"--frames", &frames}, {"--display", &display}};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return kHelp;
        if (std::strcmp(arg, "--headless") == 0) {
            headless = true;
            continue;
        }
        bool known = false;
        for (const Valued& v : valued) {
            if (std::strcmp(arg, v.flag) != 0) continue;
            if (i + 1 >= argc) {
                *error = std::string(arg) + " needs a value";
                return kBadArgument;
            }
            *v.value = argv[++i];
            known = true;
        }
        if (!known) {
            *error = std::string("unknown argument: ") + arg;
            return kBadArgument;
        }
    }
    if (!source.empty() && source != "x11" && source != "synthetic") {
        *error = "--source must be x11 or synthetic, not " + source;
        return kBadArgument;
    }
    return kRun;
}

void ServerOptions::ApplyIni(const IniFile& ini) {
    const struct {
        const char* key;
        std::string* value;
    } keys[] = {{"SOURCE", &source}, {"SCENE", &scene},   {"SIZE", &size},
                {"RATE", &rate},     {"FRAMES", &frames}, {"DISPLAY", &display}};
    for (const auto& k : keys) {
        if (k.value->empty()) *k.value = ini.ReadString(kSourceSection, k.key, "");
    }
}

std::vector<std::string> ServerOptions::SourceArguments() const {
    std::vector<std::string> args = {"--source", source.empty() ? "x11" : source};
    const struct {
        const char* flag;
        const std::string& value;
    } passed[] = {{"--scene", scene},
                  {"--size", size},
                  {"--rate", rate},
                  {"--frames", frames},
                  {"--display", display}};
    for (const auto& p : passed) {
        if (p.value.empty()) continue;
        args.push_back(p.flag);
        args.push_back(p.value);
    }
    return args;
}

std::string ServerOptions::HelpText() {
    return "Usage: VelmoraServer --headless [options]\n"
           "Shares this desktop with up to ten viewers. Reads ZTVLSRV.INI in the current\n"
           "directory; prints trace lines and user events on stdout; SIGINT or SIGTERM\n"
           "shuts it down.\n"
           "\n"
           "  --headless              run without a window (the only mode so far)\n"
           "  --source x11|synthetic  the screen source (INI [SCREEN SOURCE] SOURCE;\n"
           "                          default x11)\n"
           "  --display NAME          x11: the X display (INI DISPLAY; default $DISPLAY)\n"
           "  --scene NAME            synthetic: static, typing, scrolling, window or noise\n"
           "                          (INI SCENE)\n"
           "  --size WxH              synthetic: the screen size (INI SIZE)\n"
           "  --rate N                frames per second (INI RATE)\n"
           "  --frames N              synthetic: stop changing after frame N (INI FRAMES)\n"
           "  --help                  this text\n";
}

}  // namespace velmora

// The screen source's command line.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class SourceOptions {
  public:
    enum class Source { kX11, kSynthetic };

    static constexpr int kParsed = 1;    // run the source
    static constexpr int kDescribe = 2;  // print the description and service name
    static constexpr int kHelp = 3;      // print the help text
    static constexpr int kBadArgument = -1;

    Source source = Source::kX11;
    std::string scene = "static";
    int width = 1024;  // synthetic screen size
    int height = 768;
    uint32_t rate = 30;        // frames (synthetic) or copies (x11) per second, at most
    int64_t frames = -1;       // synthetic: stop changing after this frame; -1 = never
    int64_t switchFrame = -1;  // synthetic: mode switch at this frame; -1 = none
    int switchWidth = 0;
    int switchHeight = 0;
    std::string display;       // x11: the X display; empty = $DISPLAY
    std::string directory;     // where the shared files go; empty = the runtime dir
    int controlFd = -1;        // the server's control socket, when it started us
    std::string snapshotFile;  // x11: write the screen to this PNG file and exit

    // Parses argv[1..]: kParsed, kDescribe, kHelp, or kBadArgument with a
    // sentence in `error`.
    [[nodiscard]] int Parse(int argc, const char* const* argv, std::string* error);

    static std::string HelpText();
    static std::string DescribeText();
};

}  // namespace velmora

// VelmoraServer's command line and the screen-source choice.
//
// The screen source is chosen in "ZTVLSRV.INI", section [SCREEN SOURCE]
// (SOURCE = x11 or synthetic, SCENE, SIZE = WxH, RATE, FRAMES, DISPLAY), and
// each key can be overridden on the command line (--source, --scene, --size,
// --rate, --frames, --display). Without either the source is x11 on $DISPLAY. The
// choice becomes the screen source program's own options (ZTVL --help).
#pragma once

#include <string>
#include <vector>

namespace velmora {

class IniFile;

class ServerOptions {
  public:
    static constexpr int kRun = 1;
    static constexpr int kHelp = 2;
    static constexpr int kBadArgument = -1;

    bool headless = false;
    std::string source;  // empty: not given (INI or default)
    std::string scene;
    std::string size;
    std::string rate;
    std::string frames;
    std::string display;
    // The settings file; empty: "ZTVLSRV.INI" in the current directory (the
    // program's only choice; tests give their own).
    std::string configFile;

    // Parses argv[1..]: kRun, kHelp, or kBadArgument with a sentence in `error`.
    [[nodiscard]] int Parse(int argc, const char* const* argv, std::string* error);

    // Fills what the command line left empty from [SCREEN SOURCE].
    void ApplyIni(const IniFile& ini);

    // The screen source program's arguments for the choice.
    std::vector<std::string> SourceArguments() const;

    static std::string HelpText();
};

}  // namespace velmora

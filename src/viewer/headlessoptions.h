// The command line of VelmoraViewer --headless (see HelpText).
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class HeadlessOptions {
  public:
    static constexpr int kParsed = 1;
    static constexpr int kHelp = 2;
    static constexpr int kStopBroker = 3;  // only stop the broker `brokerName`
    static constexpr int kBadArgument = -1;

    std::string address;  // dotted IPv4
    uint16_t port = 8888;
    std::string brokerName = "ZTVLVIEW_BROKER";
    bool showBroker = false;       // the broker shows its window
    bool keepBroker = false;       // leave the broker running at exit
    std::string snapshotFile;      // written at exit (and every snapshotEveryMs)
    uint32_t snapshotEveryMs = 0;  // 0: only at exit and on request
    std::string scriptFile;
    bool commands = false;        // read commands from standard input
    uint32_t durationMs = 0;      // 0: until a signal, quit, or the script's end
    uint32_t figuresEveryMs = 0;  // print the figures this often; 0: at exit only

    // Parses argv[1..]: kParsed, kHelp, or kBadArgument with a sentence.
    [[nodiscard]] int Parse(int argc, const char* const* argv, std::string* error);
    static std::string HelpText();
};

}  // namespace velmora

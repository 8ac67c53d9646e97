#include "viewer/headlessoptions.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace velmora {
namespace {

bool Unsigned(std::string_view text, uint64_t limit, uint64_t* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() &&
           *value <= limit;
}

// ADDRESS or ADDRESS:PORT.
bool Target(std::string_view text, std::string* address, uint16_t* port, std::string* error) {
    const size_t colon = text.find(':');
    std::string host(text.substr(0, colon));
    if (colon != std::string_view::npos) {
        uint64_t p = 0;
        if (!Unsigned(text.substr(colon + 1), 65534, &p) || p == 0) {
            *error =
                "bad port in " + std::string(text) + " (1 to 65534: the server also uses P + 1)";
            return false;
        }
        *port = static_cast<uint16_t>(p);
    }
    in_addr parsed{};
    if (host.size() > 19 || inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
        *error = "the server address must be a dotted IPv4 address: " + host;
        return false;
    }
    *address = host;
    return true;
}

}  // namespace

int HeadlessOptions::Parse(int argc, const char* const* argv, std::string* error) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view* out) {
            if (i + 1 >= argc) {
                *error = std::string(arg) + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto milliseconds = [&](uint32_t* out, uint64_t scale) {
            std::string_view v;
            uint64_t n = 0;
            if (!value(&v)) return false;
            if (!Unsigned(v, UINT32_MAX / scale, &n)) {
                *error = "bad number for " + std::string(arg) + ": " + std::string(v);
                return false;
            }
            *out = static_cast<uint32_t>(n * scale);
            return true;
        };
        std::string_view v;
        if (arg == "--help" || arg == "-h") return kHelp;
        if (arg == "--stop-broker") {
            if (!value(&v)) return kBadArgument;
            if (v.empty() || v.size() > 29) {
                *error = "a broker name has 1 to 29 characters";
                return kBadArgument;
            }
            brokerName = std::string(v);
            return kStopBroker;
        }
        if (arg == "--headless") {
            headless = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                if (!Target(argv[++i], &address, &port, error)) return kBadArgument;
            }
        } else if (arg == "--port") {
            uint64_t p = 0;
            if (!value(&v)) return kBadArgument;
            if (!Unsigned(v, 65534, &p) || p == 0) {
                *error = "bad port " + std::string(v);
                return kBadArgument;
            }
            port = static_cast<uint16_t>(p);
        } else if (arg == "--broker") {
            if (!value(&v)) return kBadArgument;
            if (v.empty() || v.size() > 29) {
                *error = "a broker name has 1 to 29 characters";
                return kBadArgument;
            }
            brokerName = std::string(v);
        } else if (arg == "--show-broker") {
            showBroker = true;
        } else if (arg == "--keep-broker") {
            keepBroker = true;
        } else if (arg == "--snapshot") {
            if (!value(&v)) return kBadArgument;
            snapshotFile = std::string(v);
        } else if (arg == "--snapshot-every") {
            if (!milliseconds(&snapshotEveryMs, 1)) return kBadArgument;
        } else if (arg == "--script") {
            if (!value(&v)) return kBadArgument;
            scriptFile = std::string(v);
        } else if (arg == "--commands") {
            commands = true;
        } else if (arg == "--duration") {
            if (!milliseconds(&durationMs, 1000)) return kBadArgument;
        } else if (arg == "--duration-ms") {
            if (!milliseconds(&durationMs, 1)) return kBadArgument;
        } else if (arg == "--figures-every") {
            if (!milliseconds(&figuresEveryMs, 1)) return kBadArgument;
        } else if (!arg.empty() && arg[0] != '-' && headless && address.empty()) {
            if (!Target(arg, &address, &port, error)) return kBadArgument;
        } else {
            *error = "unknown argument " + std::string(arg);
            return kBadArgument;
        }
    }
    if (!headless) {
        *error = "the viewer's windows are not built yet; use --headless ADDRESS[:PORT]";
        return kBadArgument;
    }
    if (address.empty()) {
        *error = "--headless needs the server's ADDRESS[:PORT]";
        return kBadArgument;
    }
    if (snapshotEveryMs != 0 && snapshotFile.empty()) {
        *error = "--snapshot-every needs --snapshot FILE";
        return kBadArgument;
    }
    return kParsed;
}

std::string HeadlessOptions::HelpText() {
    return "Usage: VelmoraViewer --headless ADDRESS[:PORT] [options]\n"
           "Calls a Velmora server through the broker, keeps its picture, and writes it as PNG.\n"
           "\n"
           "  --port N              the server's port P (default 8888; P + 1 is used too)\n"
           "  --snapshot FILE       write the picture to FILE at exit, on SIGUSR1 and\n"
           "  --snapshot-every MS   ... every MS milliseconds\n"
           "  --script FILE         run the commands of FILE once connected\n"
           "  --commands            read commands from standard input (see below)\n"
           "  --duration S          end after S seconds (--duration-ms MS)\n"
           "  --figures-every MS    print the figures every MS milliseconds\n"
           "  --broker NAME         broker name (default ZTVLVIEW_BROKER)\n"
           "  --show-broker         let the broker show its window\n"
           "  --keep-broker         leave the broker running at exit (it is stopped by default)\n"
           "VelmoraViewer --stop-broker NAME  asks the broker NAME to exit and waits for it.\n"
           "\n"
           "Commands: control on|off, move X Y, click X Y [left|right|middle], down/up X Y\n"
           "[button], wheel X Y DELTA, type TEXT, key NAME (ctrl+alt+delete, enter, f5, 0x41),\n"
           "sleep MS, settle MS [LIMIT_MS], snapshot FILE, figures, members, quit.\n"
           "Without --duration the program ends at SIGINT/SIGTERM, at quit, at the end of\n"
           "standard input (--commands), or after the script when no other source is given.\n"
           "Exit: 0 ok, 1 no connection or logon refused, 2 bad arguments, 3 connection lost.\n";
}

}  // namespace velmora

// VelmoraServer --headless: the server without a window. Trace lines, the
// sharing status and user events go to stdout, errors to stderr. SIGINT or
// SIGTERM runs the orderly shut-down (the handler only writes a byte to a
// pipe; the main loop does the work).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "server/app/serveroptions.h"
#include "server/app/serverprogram.h"

namespace {

using namespace velmora;

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignals() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

std::mutex g_out;

void Print(FILE* stream, const std::string& line) {
    std::lock_guard<std::mutex> guard(g_out);
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

// The start-up status is looked at every 300 ms, as the window's timer does.
constexpr int kStatusPollMs = 300;

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    std::string error;
    const int parsed = options.Parse(argc, argv, &error);
    if (parsed == ServerOptions::kHelp) {
        std::fputs(ServerOptions::HelpText().c_str(), stdout);
        return 0;
    }
    if (parsed != ServerOptions::kRun) {
        Print(stderr, "VelmoraServer: " + error + " (see --help)");
        return 2;
    }
    if (!options.headless) {
        Print(stderr,
              "VelmoraServer: the window is not available in this build; run with --headless");
        return 2;
    }
    if (!InstallSignals()) {
        Print(stderr, "VelmoraServer: cannot install the signal handlers");
        return 1;
    }

    ServerReport report;
    report.trace = [](const std::string& text) { Print(stdout, "trace: " + text); };
    report.status = [](const std::string& text) { Print(stdout, "status: " + text); };
    report.error = [](const std::string& text, const std::string& caption) {
        Print(stderr, caption + ": " + text);
    };
    report.userConnected = [](const std::string& name, const std::string& time) {
        Print(stdout, "user connected: " + name + " " + time);
    };
    report.userDisconnected = [](const std::string& name) {
        Print(stdout, "user disconnected: " + name);
    };

    ServerProgram program(options, report);
    if (program.Start(&error) != ServerProgram::kStarted) {
        Print(stderr, "VelmoraServer: " + error);
        return 1;
    }
    int exitCode = 0;
    for (;;) {
        pollfd fd{g_signalPipe[0], POLLIN, 0};
        const int ready = poll(&fd, 1, kStatusPollMs);
        if (ready > 0) {
            Print(stdout, "trace: shutting down");
            break;
        }
        if (program.Status() < 0) {
            Print(stderr, "VelmoraServer: the screen source could not be started; shutting down");
            exitCode = 1;
            break;
        }
    }
    program.Shutdown();
    return exitCode;
}

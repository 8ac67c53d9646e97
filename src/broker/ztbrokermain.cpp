// The broker program ZTBROKER.DLL: "ZTBROKER.DLL <broker name> SHOW|HIDE".
//
// It runs the broker engine and the instance manager for that name until an
// application asks it to exit (slot 0 set to nsBrokerExit) or the system
// ends it (SIGTERM, SIGINT, SIGHUP); then it stops the manager, then the
// engine, whose shut-down closes every connection and removes the instance
// list. When the engine cannot start (its sockets cannot be opened, or there
// is no instance list: a bad name, or another live broker of the name) the
// program says why on stderr and ends at once with exit code -1, touching
// nothing of another broker.
//
// The second argument is compared after upper-casing. Note: the broker
// window is not part of this program yet; "SHOW" runs like "HIDE" and says
// so on stderr. The program needs no display and links no GUI library.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "broker/brokerlogwriter.h"
#include "broker/brokersettings.h"
#include "broker/ztclient.h"
#include "broker/ztinstance_manager.h"

namespace {

using velmora::ZTCLIENT;

constexpr int kStartFailed = -1;

// The signals that end the program, waited for by the main thread alone:
// they are blocked before any thread exists, so every thread inherits that.
sigset_t EndSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, s);
    return set;
}

bool IsShow(const char* argument) {
    std::string mode = argument != nullptr ? argument : "";
    for (char& c : mode) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return mode == "SHOW";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: ZTBROKER.DLL <broker name> SHOW|HIDE\n");
        return kStartFailed;
    }
    const char* name = argv[1];
    if (IsShow(argc >= 3 ? argv[2] : nullptr)) {
        std::fprintf(stderr,
                     "ZTBROKER.DLL: the broker window is not available yet; \"%s\" runs without "
                     "it, as with HIDE\n",
                     name);
    }
    const sigset_t endSignals = EndSignals();
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string complaints;
    const velmora::BrokerSettings settings = velmora::BrokerSettingsFromEnvironment(&complaints);
    if (!complaints.empty()) std::fputs(complaints.c_str(), stderr);

    velmora::BrokerLogWriter criticalLog;
    ZTCLIENT engine(name, settings);
    engine.LogChannel().SetHandler(
        [&criticalLog](int level, std::string_view text) { criticalLog.Write(level, text); });
    const int32_t opened = engine.Open(ZTCLIENT::kSocketBufferBytes, ZTCLIENT::kSocketBufferBytes);
    if (opened < 0 || !engine.HasInstanceList()) {
        std::fprintf(stderr, "ZTBROKER.DLL: the broker \"%s\" cannot start (%d): %s\n", name,
                     static_cast<int>(opened), engine.OpenError().c_str());
        return kStartFailed;
    }

    const pid_t self = getpid();
    velmora::ZTINSTANCE_MANAGER manager(engine, [self] { kill(self, SIGUSR1); });
    int signalNumber = 0;
    while (sigwait(&endSignals, &signalNumber) != 0) {
    }
    manager.Stop();
    engine.Shutdown();
    return 0;
}

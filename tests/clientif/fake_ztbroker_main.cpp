// fake_ztbroker: a stand-in broker program that the client-interface library
// starts in tests (through ZTIF_BROKER_PROGRAM), never installed as
// ZTBROKER.DLL. Its behaviour comes from the environment:
//   ZTIF_FAKE_BROKER_MODE    "echo" (default): a FakeBroker until asked to exit;
//                            "exit-1": ends at once with -1;
//                            "exit-0": ends at once with 0;
//                            "no-list": lives ZTIF_FAKE_BROKER_LIFE_MS (default
//                            2000) without ever making an instance list
//   ZTIF_FAKE_BROKER_REPORT  a file that receives "<pid> <argv[1]> <argv[2]>"
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "clientif/fake_broker.h"
#include "platform/tick.h"

namespace {

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

void Report(int argc, char** argv) {
    const std::string path = Environment("ZTIF_FAKE_BROKER_REPORT", "");
    if (path.empty()) return;
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return;
    std::fprintf(file, "%d %s %s\n", static_cast<int>(getpid()), argc > 1 ? argv[1] : "-",
                 argc > 2 ? argv[2] : "-");
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    Report(argc, argv);
    const std::string mode = Environment("ZTIF_FAKE_BROKER_MODE", "echo");
    if (mode == "exit-1") return -1;
    if (mode == "exit-0") return 0;
    if (mode == "no-list") {
        velmora::SleepMs(static_cast<uint32_t>(
            std::strtoul(Environment("ZTIF_FAKE_BROKER_LIFE_MS", "2000").c_str(), nullptr, 10)));
        return 0;
    }
    if (argc < 2) return -1;
    velmora::test::FakeBroker broker(argv[1]);
    std::string why;
    if (!broker.Start(&why)) {
        std::fprintf(stderr, "fake_ztbroker: %s\n", why.c_str());
        return -1;
    }
    while (!broker.Exited()) velmora::SleepMs(5);
    return 0;
}

// A test application that uses only the client-interface library, for the
// broker's end-to-end tests that need a second application process:
//
//   broker_e2e_app <broker> <server port> <report file> echo <count> <max size>
//       connects, writes "slot <i>" to the report file, sends <count>
//       messages of its own pattern, checks each echo byte by byte, and
//       appends "ok" or "fail <what>"; exit code 0 on success.
//   broker_e2e_app <broker> <server port> <report file> hold
//       connects, writes "slot <i>", and waits until it is killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clientif/ztclientif.h"
#include "support/messagepattern.h"

namespace {

void Report(const char* path, const std::string& line) {
    std::FILE* f = std::fopen(path, "a");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

int Echo(velmora::ZTIF_CONNECTION* c, const char* report, uint32_t count, uint32_t maxSize) {
    const velmora::MessagePattern pattern(static_cast<uint64_t>(getpid()), maxSize);
    std::vector<uint8_t> sent, got(maxSize + 1);
    for (uint32_t i = 0; i < count; ++i) {
        pattern.Fill(i, sent);
        if (sent.empty()) continue;  // an empty message never travels
        const auto n = static_cast<int32_t>(sent.size());
        if (velmora::ZtifSend(c, sent.data(), n, 0, 10000) != n) {
            Report(report, "fail send " + std::to_string(i));
            return 1;
        }
        const int32_t r =
            velmora::ZtifReceive(c, got.data(), static_cast<int32_t>(got.size()), 20000);
        if (r != n || std::memcmp(got.data(), sent.data(), sent.size()) != 0) {
            Report(report, "fail echo " + std::to_string(i) + " " + std::to_string(r));
            return 1;
        }
    }
    Report(report, "ok");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: broker_e2e_app <broker> <port> <report> echo|hold ...\n");
        return 2;
    }
    const char* report = argv[3];
    const auto port = static_cast<uint16_t>(std::atoi(argv[2]));
    velmora::ZTIF_CONNECTION* c = velmora::ZtifConnect(argv[1], "127.0.0.1", port, 4, 0, 10000);
    if (c == nullptr) {
        Report(report, "fail connect " + std::to_string(velmora::ZtifLastError()));
        return 1;
    }
    Report(report, "slot " + std::to_string(c->slotIndex));
    int result = 0;
    if (std::strcmp(argv[4], "echo") == 0 && argc >= 7) {
        result = Echo(c, report, static_cast<uint32_t>(std::atoi(argv[5])),
                      static_cast<uint32_t>(std::atoi(argv[6])));
    } else {
        for (;;) pause();
    }
    (void)velmora::ZtifDisconnect(c);
    return result;
}

// Small helpers of the whole-server tests and benchmarks: waiting for a
// condition, and a free pair of UDP ports for a server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "platform/tick.h"

namespace velmora::testing {

inline bool WaitUntil(const std::function<bool()>& done, uint32_t limitMs = 15000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(5);
    }
    return true;
}

// A port P with P and P + 1 free for UDP on any address, or 0.
inline uint16_t FreePortPair() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const uint16_t port = uint16_t(20000 + (uint32_t(getpid()) * 7 + attempt * 131) % 40000);
        bool free = true;
        int fds[2] = {-1, -1};
        for (int i = 0; i < 2 && free; ++i) {
            fds[i] = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(port + i));
            free = fds[i] >= 0 && bind(fds[i], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
        if (free) return port;
    }
    return 0;
}

}  // namespace velmora::testing

#include "platform/guid.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/byte_order.h"

namespace velmora {
namespace {

bool ReadRandom(uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = getrandom(out + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (done == size) return true;
    // Kernels without getrandom: the random device.
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    done = 0;
    while (done < size) {
        const ssize_t n = read(fd, out + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    return done == size;
}

// Note: only when no random source exists at all. Unique on this machine
// (time, process and a counter), not unpredictable.
void FillUnique(uint8_t* out) {
    static std::atomic<uint32_t> counter{0};
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    StoreLe<uint64_t>(
        out, static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec));
    StoreLe<uint32_t>(out + 8, static_cast<uint32_t>(getpid()));
    StoreLe<uint32_t>(out + 12, counter.fetch_add(1));
}

}  // namespace

Guid NewGuid() {
    Guid guid;
    if (!ReadRandom(guid.bytes.data(), guid.bytes.size())) FillUnique(guid.bytes.data());
    // Version 4 in the high nibble of the third group (stored little-endian,
    // so in byte 7); the RFC 4122 variant in the top bits of byte 8.
    guid.bytes[7] = static_cast<uint8_t>((guid.bytes[7] & 0x0F) | 0x40);
    guid.bytes[8] = static_cast<uint8_t>((guid.bytes[8] & 0x3F) | 0x80);
    return guid;
}

std::string GuidText(const Guid& guid) {
    const uint8_t* b = guid.bytes.data();
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  LoadLe<uint32_t>(b), LoadLe<uint16_t>(b + 4), LoadLe<uint16_t>(b + 6), b[8], b[9],
                  b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

}  // namespace velmora

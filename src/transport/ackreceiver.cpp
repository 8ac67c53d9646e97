#include "transport/ackreceiver.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace velmora {

namespace {

constexpr int kBatch = 64;

}  // namespace

AckReceiver::AckReceiver(int socket, Lookup lookup, std::function<void()> onAdded)
    : socket_(socket), lookup_(std::move(lookup)), onAdded_(std::move(onAdded)) {}

AckReceiver::Result AckReceiver::HandleDatagram(const uint8_t* data, size_t length) {
    if (length != kPacketReturnSize) {
        counters_.badLength.fetch_add(1, std::memory_order_relaxed);
        return kBadLength;
    }
    PACKETRETURN record;
    std::memcpy(&record, data, sizeof(record));
    ZTACKS_LIST* list = lookup_ ? lookup_(record) : nullptr;
    if (list == nullptr) {
        counters_.unknown.fetch_add(1, std::memory_order_relaxed);
        return kUnknown;
    }
    if (list->Add(record) < 0) {
        counters_.dropped.fetch_add(1, std::memory_order_relaxed);
        return kListFull;
    }
    counters_.added.fetch_add(1, std::memory_order_relaxed);
    if (onAdded_) onAdded_();
    return kAdded;
}

int32_t AckReceiver::ReceiveOnce(uint32_t waitMs) {
    pollfd pfd{socket_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(waitMs));
    if (ready < 0) return errno == EINTR ? 0 : kFatal;
    if (ready == 0) return 0;
    if ((pfd.revents & POLLNVAL) != 0) return kFatal;
    int32_t handled = 0;
    uint8_t buffer[kPacketReturnSize];
    while (handled < kBatch) {
        const ssize_t n = recv(socket_, buffer, sizeof(buffer), MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return kFatal;
        }
        ++handled;
        (void)HandleDatagram(buffer, static_cast<size_t>(n));
    }
    return handled;
}

void AckReceiver::RunUntilStopped(ZTTHREAD& thread) {
    thread.BeginLoop();
    while (!thread.StopRequested()) {
        if (ReceiveOnce(1) == kFatal) break;
    }
    thread.EndLoop();
}

}  // namespace velmora

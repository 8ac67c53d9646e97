#include "transport/packetreceiver.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/ztsecurity.h"

namespace velmora {

namespace {

// Datagrams read per readiness before the loop looks at its stop flag again.
constexpr int kBatch = 64;

// Hooks are the engine's code; nothing they throw may end the receive loop.
template <typename F, typename... A>
void CallHook(const F& hook, A&&... args) {
    if (!hook) return;
    try {
        hook(std::forward<A>(args)...);
    } catch (...) {
    }
}

}  // namespace

PacketReceiver::PacketReceiver(int socket, ZTFLATQUEUE& queue, Hooks hooks, const Clock& clock)
    : socket_(socket), queue_(queue), hooks_(std::move(hooks)), clock_(clock) {}

int32_t PacketReceiver::ReceiveOnce(uint32_t waitMs) {
    pollfd pfd{socket_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(waitMs));
    if (ready < 0) {
        if (errno == EINTR) return 0;
        counters_.errors.fetch_add(1, std::memory_order_relaxed);
        return -1;
    }
    if (ready == 0) return 0;
    if ((pfd.revents & POLLNVAL) != 0) {
        counters_.errors.fetch_add(1, std::memory_order_relaxed);
        return -1;
    }
    int32_t handled = 0;
    while (handled < kBatch) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t n = recvfrom(socket_, &entry_.packet, kPacketSize, MSG_TRUNC | MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            counters_.errors.fetch_add(1, std::memory_order_relaxed);
            CallHook(hooks_.receiveError, errno);
            break;
        }
        ++handled;
        if (static_cast<size_t>(n) != kPacketSize) {
            counters_.badLength.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        (void)QueueEntry(from.sin_addr.s_addr, from.sin_port);
    }
    return handled;
}

void PacketReceiver::RunUntilStopped(ZTTHREAD& thread) {
    thread.BeginLoop();
    while (!thread.StopRequested()) {
        // A failed wait is retried; the pause keeps a broken socket from
        // turning the loop into a spin.
        if (ReceiveOnce(1) < 0) SleepMs(1);
    }
    thread.EndLoop();
}

PacketReceiver::Result PacketReceiver::HandleDatagram(const uint8_t* data, size_t length,
                                                      uint32_t addressRaw, uint16_t portRaw) {
    if (length != kPacketSize) {
        counters_.badLength.fetch_add(1, std::memory_order_relaxed);
        return kBadLength;
    }
    std::memcpy(&entry_.packet, data, kPacketSize);
    return QueueEntry(addressRaw, portRaw);
}

PacketReceiver::Result PacketReceiver::QueueEntry(uint32_t addressRaw, uint16_t portRaw) {
    (void)ZTSECURITY::CheckPacket(reinterpret_cast<const uint8_t*>(&entry_.packet), kPacketSize);
    std::memcpy(entry_.sourceAddressBytes, &addressRaw, sizeof(addressRaw));
    entry_.sourceAddress.setRaw(addressRaw);
    entry_.sourcePort.setRaw(portRaw);
    entry_.receiveTick = clock_.Now();
    Result result = kQueued;
    if (queue_.Push(entry_) > 0) {
        counters_.queued.fetch_add(1, std::memory_order_relaxed);
    } else {
        const uint32_t drops = counters_.overflows.fetch_add(1, std::memory_order_relaxed) + 1;
        CallHook(hooks_.overflow, drops);
        result = kOverflow;
    }
    CallHook(hooks_.rawPacket, static_cast<const ZTPACKET&>(entry_.packet));
    return result;
}

}  // namespace velmora

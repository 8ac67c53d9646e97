#include "transport/ztudp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/tick.h"

namespace velmora {

int32_t ZTUDP::SendTo(int socket, uint32_t addressRaw, uint16_t portRaw, uint32_t waitMs,
                      const void* data, size_t length) const {
    pollfd pfd{socket, POLLOUT, 0};
    const uint32_t begin = Tick();
    for (;;) {
        const uint32_t spent = TickSince(begin);
        const int timeout = spent >= waitMs ? 0 : static_cast<int>(waitMs - spent);
        const int ready = poll(&pfd, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return kFailed;
        }
        if (ready == 0) return kNotWritable;
        if ((pfd.revents & POLLNVAL) != 0) return kFailed;
        if ((pfd.revents & POLLOUT) == 0) return kFailed;  // an error without writability
        break;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addressRaw;
    to.sin_port = portRaw;
    ssize_t sent;
    do {
        sent = sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? kFailed : static_cast<int32_t>(sent);
}

int OpenUdpSocket(uint32_t addressRaw, uint16_t portRaw) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = addressRaw;
    at.sin_port = portRaw;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

uint16_t BoundPortRaw(int socket) {
    sockaddr_in at{};
    socklen_t len = sizeof(at);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&at), &len) != 0) return 0;
    return at.sin_port;
}

namespace {

bool SetBuffer(int socket, int option, uint32_t bytes, uint32_t unit) {
    const int size = static_cast<int>(unit == 0 ? bytes : bytes - bytes % unit);
    return setsockopt(socket, SOL_SOCKET, option, &size, sizeof(size)) == 0;
}

}  // namespace

bool SetReceiveBuffer(int socket, uint32_t bytes, uint32_t unit) {
    return SetBuffer(socket, SO_RCVBUF, bytes, unit);
}

bool SetSendBuffer(int socket, uint32_t bytes, uint32_t unit) {
    return SetBuffer(socket, SO_SNDBUF, bytes, unit);
}

uint32_t LoopbackAddressRaw() {
    return htonl(INADDR_LOOPBACK);
}

SocketHandle& SocketHandle::operator=(SocketHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

void SocketHandle::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

}  // namespace velmora

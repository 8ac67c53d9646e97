#include "transport/ztping.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tick.h"

namespace velmora {
namespace {

class SystemEchoSocket final : public EchoSocket {
  public:
    SystemEchoSocket(int fd, bool raw) : fd_(fd), raw_(raw) {}
    ~SystemEchoSocket() override { (void)Close(); }

    bool Send(const void* data, size_t length, uint32_t addressRaw) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = addressRaw;
        ssize_t sent;
        do {
            sent = sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(length);
    }

    int WaitReadable(uint32_t waitMs) override {
        pollfd pfd{fd_, POLLIN, 0};
        const uint32_t begin = Tick();
        for (;;) {
            const uint32_t spent = TickSince(begin);
            const int timeout = spent >= waitMs ? 0 : static_cast<int>(waitMs - spent);
            const int ready = poll(&pfd, 1, timeout);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (ready > 0 && (pfd.revents & POLLIN) == 0)) return -1;
            return ready > 0 ? 1 : 0;
        }
    }

    ssize_t Receive(uint8_t* buffer, size_t capacity) override {
        ssize_t n;
        do {
            n = recv(fd_, buffer, capacity, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    int Close() override {
        if (fd_ < 0) return 0;
        const int rc = close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : -1;
    }

    bool CarriesIpHeader() const override { return raw_; }
    bool KernelSetsIdentifier() const override { return !raw_; }

  private:
    int fd_;
    bool raw_;
};

}  // namespace

std::unique_ptr<EchoSocket> OpenSystemEchoSocket() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) return std::make_unique<SystemEchoSocket>(fd, false);
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) return std::make_unique<SystemEchoSocket>(fd, true);
    return nullptr;
}

EchoCounter& EchoCounter::Process() {
    static EchoCounter counter;
    return counter;
}

ZTPING::ZTPING(EchoSocketOpener opener, EchoCounter& counter)
    : opener_(std::move(opener)), counter_(counter) {}

uint16_t ZTPING::Checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += LoadLe<uint16_t>(data + i);
    if (i < length) sum += data[i];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

ICMP_ECHO_REQUEST ZTPING::BuildRequest(uint16_t number, uint32_t tick) {
    ICMP_ECHO_REQUEST request{};
    request.type = kIcmpEchoRequest;
    request.code = 0;
    request.identifier = number;
    request.sequence = number;
    request.tick = tick;
    for (uint8_t i = 0; i < sizeof(request.pattern); ++i)
        request.pattern[i] = static_cast<uint8_t>(0x20 + i);
    request.checksum = Checksum(reinterpret_cast<const uint8_t*>(&request), sizeof(request));
    return request;
}

bool ZTPING::IsReplyTo(const uint8_t* datagram, size_t length, uint16_t number,
                       bool carriesIpHeader, bool kernelSetsIdentifier) {
    size_t offset = 0;
    if (carriesIpHeader) {
        if (length < 20 || (datagram[0] >> 4) != 4) return false;
        offset = static_cast<size_t>(datagram[0] & 0x0F) * 4;
        if (offset < 20) return false;
    }
    if (length < offset + 8) return false;
    const uint8_t* icmp = datagram + offset;
    if (icmp[0] != kIcmpEchoReply || icmp[1] != 0) return false;
    if (!kernelSetsIdentifier && LoadLe<uint16_t>(icmp + 4) != number) return false;
    return LoadLe<uint16_t>(icmp + 6) == number;
}

int ZTPING::AwaitReply(EchoSocket& socket, uint16_t number) {
    const uint32_t begin = Tick();
    uint8_t buffer[kReplyBufferSize];
    for (;;) {
        const uint32_t spent = TickSince(begin);
        if (spent >= kReplyWaitMs) return 0;
        const int ready = socket.WaitReadable(kReplyWaitMs - spent);
        if (ready <= 0) return ready;
        const ssize_t n = socket.Receive(buffer, sizeof(buffer));
        if (n > 0 && IsReplyTo(buffer, static_cast<size_t>(n), number, socket.CarriesIpHeader(),
                               socket.KernelSetsIdentifier())) {
            return 1;
        }
    }
}

int32_t ZTPING::Ping(uint32_t addressRaw, uint32_t count, uint32_t waitMs) {
    std::unique_ptr<EchoSocket> socket = opener_ ? opener_() : nullptr;
    if (!socket) return kCannotOpen;
    uint32_t replies = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const uint16_t number = counter_.Next();
        const ICMP_ECHO_REQUEST request = BuildRequest(number, Tick());
        // A request that cannot be sent simply gets no reply.
        (void)socket->Send(&request, sizeof(request), addressRaw);
        SleepMs(waitMs);
        const int got = AwaitReply(*socket, number);
        if (got < 0) break;
        replies += static_cast<uint32_t>(got);
    }
    if (socket->Close() != 0) return kCloseFailed;
    return replies == count ? kAllReplied : kNoReply;
}

}  // namespace velmora

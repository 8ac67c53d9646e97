#include "support/lossyrelay.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace velmora {

namespace {

uint64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

constexpr uint32_t kRelaySocketBuffer = 4 << 20;
constexpr int kIdlePollMs = 5;

}  // namespace

struct LossyRelay::Datagram {
    std::vector<uint8_t> bytes;
    int socket = -1;
    uint32_t addressRaw = 0;
    uint16_t portRaw = 0;
    uint64_t releaseUs = 0;
    uint64_t order = 0;
};

struct LossyRelay::Direction {
    Impairment impairment;
    std::optional<Datagram> held;  // waiting to be overtaken
};

struct LossyRelay::Link {
    SocketHandle socket;
    uint32_t targetAddressRaw = 0;
    uint16_t targetPortRaw = 0;
    bool haveClient = false;
    uint32_t clientAddressRaw = 0;
    uint16_t clientPortRaw = 0;
    Direction directions[2];  // 0: to the target, 1: back to the client
};

class LossyRelay::Worker : public ZTTHREAD {
  public:
    explicit Worker(LossyRelay& relay) : relay_(relay) { threadProc = &Worker::Proc; }
    ~Worker() override { StopAndWait(1); }

  private:
    static uint32_t Proc(void* self) {
        auto* w = static_cast<Worker*>(self);
        w->BeginLoop();
        while (!w->StopRequested()) w->relay_.Loop();
        w->EndLoop();
        return 0;
    }
    LossyRelay& relay_;
};

LossyRelay::LossyRelay(uint64_t seed) : rng_(seed) {}

LossyRelay::~LossyRelay() {
    Stop();
}

int LossyRelay::AddLinkOn(uint16_t relayPortRaw, uint32_t targetAddressRaw, uint16_t targetPortRaw,
                          const Impairment& toTarget, const Impairment& fromTarget) {
    SocketHandle s(OpenUdpSocket(LoopbackAddressRaw(), relayPortRaw));
    if (!s.Valid()) return -1;
    (void)SetReceiveBuffer(s.Get(), kRelaySocketBuffer, 1);
    (void)SetSendBuffer(s.Get(), kRelaySocketBuffer, 1);
    auto link = std::make_unique<Link>();
    link->socket = std::move(s);
    link->targetAddressRaw = targetAddressRaw;
    link->targetPortRaw = targetPortRaw;
    link->directions[0].impairment = toTarget;
    link->directions[1].impairment = fromTarget;
    std::lock_guard<std::mutex> lock(mutex_);
    links_.push_back(std::move(link));
    return static_cast<int>(links_.size() - 1);
}

uint16_t LossyRelay::AddLink(uint32_t targetAddressRaw, uint16_t targetPortRaw,
                             const Impairment& toTarget, const Impairment& fromTarget) {
    const int index = AddLinkOn(0, targetAddressRaw, targetPortRaw, toTarget, fromTarget);
    return index < 0 ? 0 : BoundPortRaw(links_[static_cast<size_t>(index)]->socket.Get());
}

uint16_t LossyRelay::AddLinkPair(uint32_t targetAddressRaw, uint16_t targetPortRaw,
                                 uint16_t targetPort2Raw, const Impairment& toTarget,
                                 const Impairment& fromTarget) {
    // Take a port from the system, then try its neighbour; a few attempts
    // cover the rare neighbour that is taken.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int first = AddLinkOn(0, targetAddressRaw, targetPortRaw, toTarget, fromTarget);
        if (first < 0) return 0;
        const uint16_t port = BoundPortRaw(links_[static_cast<size_t>(first)]->socket.Get());
        const uint16_t next = htons(static_cast<uint16_t>(ntohs(port) + 1));
        if (ntohs(port) != 65535 &&
            AddLinkOn(next, targetAddressRaw, targetPort2Raw, toTarget, fromTarget) >= 0)
            return port;
        std::lock_guard<std::mutex> lock(mutex_);
        links_.pop_back();
    }
    return 0;
}

void LossyRelay::SetImpairment(int link, const Impairment& toTarget, const Impairment& fromTarget) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < links_.size(); ++i) {
        if (link >= 0 && static_cast<size_t>(link) != i) continue;
        links_[i]->directions[0].impairment = toTarget;
        links_[i]->directions[1].impairment = fromTarget;
    }
}

bool LossyRelay::Start() {
    if (worker_) return true;
    worker_ = std::make_unique<Worker>(*this);
    return worker_->Run(true);
}

void LossyRelay::Stop() {
    worker_.reset();
}

RelayStats LossyRelay::Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void LossyRelay::Loop() {
    std::vector<pollfd> fds;
    fds.reserve(links_.size());
    for (const auto& link : links_) fds.push_back(pollfd{link->socket.Get(), POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), NextTimeoutMs(NowUs()));
    if (ready > 0) {
        for (size_t i = 0; i < fds.size(); ++i)
            if ((fds[i].revents & POLLIN) != 0) Receive(*links_[i]);
    }
    ReleaseDue(NowUs());
}

void LossyRelay::Receive(Link& link) {
    static thread_local uint8_t buffer[65536];
    for (int i = 0; i < 256; ++i) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t n = recvfrom(link.socket.Get(), buffer, sizeof(buffer), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) return;
        const bool fromTarget =
            from.sin_addr.s_addr == link.targetAddressRaw && from.sin_port == link.targetPortRaw;
        if (!fromTarget) {
            link.haveClient = true;
            link.clientAddressRaw = from.sin_addr.s_addr;
            link.clientPortRaw = from.sin_port;
        } else if (!link.haveClient) {
            continue;  // nobody to answer yet
        }
        Forward(link, !fromTarget, buffer, static_cast<size_t>(n), NowUs());
    }
}

void LossyRelay::Forward(Link& link, bool toTarget, const uint8_t* data, size_t length,
                         uint64_t nowUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    Direction& dir = link.directions[toTarget ? 0 : 1];
    const Impairment& imp = dir.impairment;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    ++stats_.received;
    if (chance(rng_) < imp.drop) {
        ++stats_.dropped;
        return;
    }
    const int copies = chance(rng_) < imp.duplicate ? 2 : 1;
    if (copies == 2) ++stats_.duplicated;
    for (int c = 0; c < copies; ++c) {
        Datagram d;
        d.bytes.assign(data, data + length);
        d.socket = link.socket.Get();
        d.addressRaw = toTarget ? link.targetAddressRaw : link.clientAddressRaw;
        d.portRaw = toTarget ? link.targetPortRaw : link.clientPortRaw;
        d.order = order_++;
        uint64_t delayUs = static_cast<uint64_t>(imp.delayMs) * 1000u;
        if (imp.jitterMs > 0)
            delayUs += std::uniform_int_distribution<uint64_t>(0, imp.jitterMs * 1000ull)(rng_);
        if (delayUs > 0) {
            d.releaseUs = nowUs + delayUs;
            Emit(std::move(d));
            continue;
        }
        if (dir.held) {
            // This datagram overtakes the held one, which follows it.
            SendNow(d);
            SendNow(*dir.held);
            dir.held.reset();
            ++stats_.reordered;
            stats_.forwarded += 2;
        } else if (c == 0 && chance(rng_) < imp.reorder) {
            d.releaseUs = nowUs + static_cast<uint64_t>(imp.holdMs) * 1000u;
            dir.held = std::move(d);
        } else {
            SendNow(d);
            ++stats_.forwarded;
        }
    }
}

bool LossyRelay::Later(const Datagram& a, const Datagram& b) {
    return a.releaseUs != b.releaseUs ? a.releaseUs > b.releaseUs : a.order > b.order;
}

void LossyRelay::Emit(Datagram&& d) {
    delayed_.push_back(std::move(d));
    std::push_heap(delayed_.begin(), delayed_.end(), &LossyRelay::Later);
}

void LossyRelay::SendNow(const Datagram& d) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = d.addressRaw;
    to.sin_port = d.portRaw;
    // Never block the relay on a full buffer: such a datagram is lost, as in
    // a congested router.
    (void)sendto(d.socket, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

void LossyRelay::ReleaseDue(uint64_t nowUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& link : links_) {
        for (Direction& dir : link->directions) {
            if (dir.held && dir.held->releaseUs <= nowUs) {
                SendNow(*dir.held);
                dir.held.reset();
                ++stats_.forwarded;
            }
        }
    }
    while (!delayed_.empty() && delayed_.front().releaseUs <= nowUs) {
        std::pop_heap(delayed_.begin(), delayed_.end(), &LossyRelay::Later);
        SendNow(delayed_.back());
        delayed_.pop_back();
        ++stats_.forwarded;
    }
}

int LossyRelay::NextTimeoutMs(uint64_t nowUs) const {
    uint64_t next = nowUs + kIdlePollMs * 1000u;
    for (const auto& link : links_)
        for (const Direction& dir : link->directions)
            if (dir.held) next = std::min(next, dir.held->releaseUs);
    if (!delayed_.empty()) next = std::min(next, delayed_.front().releaseUs);
    if (next <= nowUs) return 0;
    return static_cast<int>((next - nowUs + 999) / 1000);
}

}  // namespace velmora

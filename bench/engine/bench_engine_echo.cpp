// Echo goodput of the server engine: 1, 4 and 10 broker-like peers on
// loopback each send 64 KB messages as fast as the transport takes them;
// each connection's thread (mode emClientThread) sends every message back.
// One figure per line:
//   echo_<n>peers_mbps  <MB/s of message bytes echoed back, all peers>
//   echo_<n>peers_min_peer_mbps  <the slowest peer's share>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/tick.h"
#include "server/engine/ztserver.h"
#include "server/engine/ztserverclient_thread.h"
#include "support/brokerpeer.h"

namespace velmora {
namespace {

constexpr uint32_t kMessageSize = 64 * 1024;
constexpr double kSeconds = 5.0;

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class EchoThread : public ZTSERVERCLIENT_THREAD {
  public:
    void Execute() override {
        std::vector<uint8_t> buffer(kMessageSize);
        while (!StopRequested()) {
            const int32_t n = Engine()->HostReceive(*Host(), buffer.data(), kMessageSize, 100);
            if (n < 0) return;
            if (n == 0) continue;
            for (;;) {
                const int32_t r = Engine()->HostSend(*Host(), kDataChannel, 0, buffer.data(),
                                                     static_cast<uint32_t>(n), 0);
                if (r == n) break;
                if (r < 0 || StopRequested()) return;
                SleepMs(1);
            }
        }
    }
};

bool OpenEngine(ZTSERVER& engine) {
    for (uint16_t port = 30000; port < 30400; port += 2)
        if (engine.Open("127.0.0.1", port, 300000, 300000) == ZTSERVER::kOpened) return true;
    return false;
}

void Run(int peersWanted) {
    ZTSERVER engine(100, 4);
    engine.mode = emClientThread;
    engine.callbacks.OnCreateClientThread = [](ZTHOSTLIST&, int32_t) {
        return std::make_unique<EchoThread>();
    };
    std::atomic<uint64_t> serverTimeouts{0}, serverBusy{0};
    engine.callbacks.OnFrameTimeout = [&](uint32_t n) { serverTimeouts.fetch_add(n); };
    engine.callbacks.OnAckBusy = [&](uint32_t n) { serverBusy.fetch_add(n); };
    if (!OpenEngine(engine) || engine.Start() != 1) {
        std::printf("echo_%dpeers_mbps  failed to open the engine\n", peersWanted);
        return;
    }
    PeerConfig config;
    config.maxInFlight = 8;
    config.maxMessage = kMessageSize;
    std::vector<std::unique_ptr<BrokerPeer>> peers;
    std::vector<std::unique_ptr<std::atomic<uint64_t>>> echoed;
    for (int i = 0; i < peersWanted; ++i) {
        auto peer = std::make_unique<BrokerPeer>(static_cast<uint16_t>(i + 1), config);
        auto bytes = std::make_unique<std::atomic<uint64_t>>(0);
        std::atomic<uint64_t>* counter = bytes.get();
        if (!peer->Open()) return;
        peer->SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
        peer->SetOnData([counter](const uint8_t*, size_t n) { counter->fetch_add(n); });
        if (!peer->Start() || peer->Connect(ctViewerSession, 5000) <= 0) {
            std::printf("echo_%dpeers_mbps  a peer could not connect\n", peersWanted);
            return;
        }
        peers.push_back(std::move(peer));
        echoed.push_back(std::move(bytes));
    }

    std::atomic<bool> stop{false};
    std::vector<std::thread> feeders;
    for (auto& peer : peers) {
        feeders.emplace_back([&stop, p = peer.get()] {
            std::vector<uint8_t> message(kMessageSize, 0x5A);
            while (!stop.load())
                if (p->Send(message.data(), kMessageSize) <= 0) return;
        });
    }
    SleepMs(500);  // warm-up
    std::vector<uint64_t> start;
    for (auto& e : echoed) start.push_back(e->load());
    const double begin = NowSeconds();
    SleepMs(static_cast<uint32_t>(kSeconds * 1000));
    const double elapsed = NowSeconds() - begin;
    uint64_t total = 0, slowest = UINT64_MAX;
    for (size_t i = 0; i < echoed.size(); ++i) {
        const uint64_t got = echoed[i]->load() - start[i];
        total += got;
        slowest = std::min(slowest, got);
    }
    // The feeders end once their last message was queued, which needs the
    // peers and the engine still running.
    stop.store(true);
    for (auto& f : feeders) f.join();
    for (auto& peer : peers) peer->Stop();
    std::printf("echo_%dpeers_mbps  %.1f\n", peersWanted, total / elapsed / 1e6);
    std::printf("echo_%dpeers_min_peer_mbps  %.1f\n", peersWanted, slowest / elapsed / 1e6);
    uint64_t peerTimeouts = 0, peerBusy = 0;
    for (auto& peer : peers) {
        peerTimeouts += peer->Transport().Stats().timeouts;
        peerBusy += peer->Transport().Stats().busy;
    }
    std::printf(
        "echo_%dpeers_resends  server %llu (busy %llu, queue drops %u), peers %llu (busy %llu)\n",
        peersWanted, static_cast<unsigned long long>(serverTimeouts.load()),
        static_cast<unsigned long long>(serverBusy.load()), engine.QueueOverflows(),
        static_cast<unsigned long long>(peerTimeouts), static_cast<unsigned long long>(peerBusy));
    std::fflush(stdout);
    engine.Shutdown();
}

}  // namespace
}  // namespace velmora

int main() {
    for (int n : {1, 4, 10}) velmora::Run(n);
    return 0;
}

#include "broker/echo_server.h"

#include <arpa/inet.h>

#include <atomic>
#include <random>
#include <vector>

#include "server/engine/zthostlist.h"
#include "server/engine/ztserverclient_thread.h"
#include "transport/controlmessages.h"

namespace velmora::test {
namespace {

std::atomic<uint64_t> gEchoed{0};

constexpr uint32_t kLargestMessage = 4u << 20;

// Receives each message of its connection and sends it back.
class EchoThread : public ZTSERVERCLIENT_THREAD {
  public:
    void Execute() override {
        std::vector<uint8_t> buffer(kLargestMessage);
        while (!StopRequested()) {
            ZTHOSTLIST* host = Host();
            ZTSERVER* engine = Engine();
            if (host == nullptr || engine == nullptr) return;
            const int32_t n = engine->HostReceive(*host, buffer.data(), kLargestMessage, 100);
            if (n == ZTSERVER::kHostGone) return;
            if (n <= 0) continue;
            // 0 means more than 100 frames in flight: nothing queued yet.
            int32_t sent = 0;
            while (!StopRequested() &&
                   (sent = engine->HostSend(*host, kDataChannel, 0, buffer.data(),
                                            static_cast<uint32_t>(n), 0)) == 0)
                SleepMs(1);
            if (sent < 0) return;
            gEchoed.fetch_add(1);
        }
    }
};

}  // namespace

EchoServer::EchoServer() = default;

EchoServer::~EchoServer() {
    Stop();
}

bool EchoServer::Start(const Impairment* link, uint64_t seed) {
    std::mt19937 pick(static_cast<uint32_t>(seed * 7919 + static_cast<uint64_t>(getpid())));
    for (int attempt = 0; attempt < 50 && !engine_; ++attempt) {
        auto engine = std::make_unique<ZTSERVER>(100, 4);
        const auto port = static_cast<uint16_t>(20000 + pick() % 40000);
        if (engine->Open("127.0.0.1", port, 230000, 230000) != ZTSERVER::kOpened) continue;
        engine->mode = emClientThread;
        engine->callbacks.OnCreateClientThread = [](ZTHOSTLIST&, int32_t) {
            return std::unique_ptr<ZTSERVERCLIENT_THREAD>(new EchoThread);
        };
        if (engine->Start() != 1) return false;
        engine_ = std::move(engine);
        port_ = port;
    }
    if (!engine_) return false;
    if (link == nullptr) return true;
    relay_ = std::make_unique<LossyRelay>(seed);
    const uint16_t p = htons(port_), p1 = htons(static_cast<uint16_t>(port_ + 1));
    const uint16_t r = relay_->AddLinkPair(htonl(INADDR_LOOPBACK), p, p1, *link, *link);
    if (r == 0 || !relay_->Start()) return false;
    port_ = ntohs(r);
    return true;
}

void EchoServer::Stop() {
    if (relay_) relay_->Stop();
    if (engine_) engine_->Shutdown();
}

void EchoServer::DisconnectAll() {
    for (int32_t i = 0; i < engine_->TableSize(); ++i) {
        ZTHOSTLIST& host = engine_->Host(i);
        if (host.State() == hsConnected) engine_->HostDisconnect(host, drThreadEnded);
    }
}

uint64_t EchoServer::Echoed() const {
    return gEchoed.load();
}

}  // namespace velmora::test

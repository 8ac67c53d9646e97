// Goodput of 64 KB messages from one transport peer to another, straight and
// through a lossy relay, and the round trip of a 100-byte message bounced
// back by the other peer. One figure per line:
//   goodput_64k_<link>_mbps  <MB/s of message bytes delivered>
//   rtt_100b_p50_us / rtt_100b_p99_us
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/tick.h"
#include "support/lossyrelay.h"
#include "support/transportpeer.h"

namespace velmora {
namespace {

constexpr uint32_t kMessageSize = 64 * 1024;

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Connects a to b, straight when relay is null, else through four relay links.
bool Connect(TransportPeer& a, TransportPeer& b, LossyRelay* relay, const Impairment& link) {
    const uint32_t lo = LoopbackAddressRaw();
    if (relay == nullptr) {
        a.SetRemote(lo, b.DataPortRaw(), b.AckPortRaw());
        b.SetRemote(lo, a.DataPortRaw(), a.AckPortRaw());
        return true;
    }
    const uint16_t toBData = relay->AddLink(lo, b.DataPortRaw(), link);
    const uint16_t toBAck = relay->AddLink(lo, b.AckPortRaw(), link);
    const uint16_t toAData = relay->AddLink(lo, a.DataPortRaw(), link);
    const uint16_t toAAck = relay->AddLink(lo, a.AckPortRaw(), link);
    a.SetRemote(lo, toBData, toBAck);
    b.SetRemote(lo, toAData, toAAck);
    return toBData && toBAck && toAData && toAAck && relay->Start();
}

// Sends messages of 64 KB for about `seconds` and answers MB/s delivered.
double Goodput(const char* name, double loss, bool viaRelay, double seconds) {
    PeerConfig config;
    config.maxInFlight = 128;
    TransportPeer a(config), b(config);
    if (!a.Open() || !b.Open()) return 0;
    Impairment link;
    link.drop = loss;
    LossyRelay relay(1234);
    if (!Connect(a, b, viaRelay ? &relay : nullptr, link)) return 0;
    std::atomic<uint64_t> bytes{0};
    b.SetOnMessage([&](uint8_t, const uint8_t*, size_t n) { bytes.fetch_add(n); });
    if (!a.Start() || !b.Start()) return 0;

    std::vector<uint8_t> message(kMessageSize, 0x5A);
    const double begin = NowSeconds();
    uint64_t sent = 0;
    while (NowSeconds() - begin < seconds) {
        if (a.Send(kDataChannel, message.data(), kMessageSize) !=
            static_cast<int32_t>(kMessageSize))
            return 0;
        sent += kMessageSize;
    }
    while (bytes.load() < sent && NowSeconds() - begin < seconds * 10) SleepMs(1);
    const double elapsed = NowSeconds() - begin;
    const double mbps = static_cast<double>(bytes.load()) / elapsed / 1e6;
    std::printf("goodput_64k_%s_mbps %.1f\n", name, mbps);
    std::fflush(stdout);
    return mbps;
}

void RoundTrip(int count) {
    TransportPeer a, b;
    if (!a.Open() || !b.Open()) return;
    Connect(a, b, nullptr, {});
    b.SetOnMessage([&](uint8_t channel, const uint8_t* data, size_t n) {
        (void)b.Send(channel, data, static_cast<uint32_t>(n));
    });
    if (!a.Start() || !b.Start()) return;
    std::vector<uint8_t> message(100, 0x42), echo;
    std::vector<double> us;
    uint8_t channel = 0;
    for (int i = 0; i < count; ++i) {
        message[0] = static_cast<uint8_t>(i);
        const double begin = NowSeconds();
        if (a.Send(kDataChannel, message.data(), 100) != 100) return;
        if (!a.Receive(echo, channel, 5000) || echo != message) {
            std::printf("rtt_100b: echo %d lost\n", i);
            return;
        }
        us.push_back((NowSeconds() - begin) * 1e6);
    }
    std::sort(us.begin(), us.end());
    std::printf("rtt_100b_p50_us %.0f\n", us[us.size() / 2]);
    std::printf("rtt_100b_p99_us %.0f\n", us[us.size() * 99 / 100]);
}

}  // namespace
}  // namespace velmora

int main() {
    using velmora::Goodput;
    Goodput("loss0_direct", 0.0, false, 3.0);
    Goodput("loss0_relay", 0.0, true, 3.0);
    Goodput("loss1_relay", 0.01, true, 3.0);
    Goodput("loss5_relay", 0.05, true, 3.0);
    velmora::RoundTrip(2000);
    return 0;
}

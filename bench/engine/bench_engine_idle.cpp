// CPU time of an idle engine, from getrusage (user + system of the whole
// process, which runs nothing but the engine while measuring), over 10 s:
//   idle_no_peers_cpu_percent            an engine opened and started, no peer ever
//   idle_after_peers_cpu_percent         ten peers connected and left again; their
//                                        three host managers stay, serving nothing
//   idle_no_peers_1ms_waits_cpu_percent  as the first, with the receive, router and
//                                        acknowledgement threads looking at their stop
//                                        request every 1 ms (a polling loop's cost)
// The figure is percent of one core.
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/tick.h"
#include "server/engine/ztserver.h"
#include "support/brokerpeer.h"

namespace velmora {
namespace {

constexpr uint32_t kMeasureMs = 10000;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

bool OpenEngine(ZTSERVER& engine) {
    for (uint16_t port = 31000; port < 31400; port += 2)
        if (engine.Open("127.0.0.1", port, 300000, 300000) == ZTSERVER::kOpened) return true;
    return false;
}

void Measure(const char* name, const EngineSettings& settings, int visitors) {
    ZTSERVER engine(100, 4, settings);
    if (!OpenEngine(engine) || engine.Start() != 1) {
        std::printf("%s  failed to open the engine\n", name);
        return;
    }
    for (int i = 0; i < visitors; ++i) {
        BrokerPeer peer(static_cast<uint16_t>(i + 1));
        if (!peer.Open()) return;
        peer.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
        if (!peer.Start() || peer.Connect(ctViewerSession, 5000) <= 0) return;
        const CONTROL_DISCONNECT bye = MakeDisconnect(0);
        (void)peer.SendControl(&bye, sizeof(bye), 5000);
    }
    SleepMs(500);  // let the managers release the records
    const double cpu = CpuSeconds();
    const uint32_t begin = Tick();
    SleepMs(kMeasureMs);
    const double used = CpuSeconds() - cpu;
    const double wall = TickSince(begin) / 1000.0;
    std::printf("%s  %.3f\n", name, 100.0 * used / wall);
    std::fflush(stdout);
    engine.Shutdown();
}

}  // namespace
}  // namespace velmora

int main() {
    using velmora::EngineSettings;
    velmora::Measure("idle_no_peers_cpu_percent", EngineSettings{}, 0);
    velmora::Measure("idle_after_peers_cpu_percent", EngineSettings{}, 10);
    EngineSettings polling;
    polling.threadWaitMs = 1;
    velmora::Measure("idle_no_peers_1ms_waits_cpu_percent", polling, 0);
    return 0;
}

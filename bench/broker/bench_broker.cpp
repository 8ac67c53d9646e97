// The whole viewer-side road: a test application (this program, through the
// client-interface library) -> the broker program ZTBROKER.DLL (started by
// the library as its own process) -> a real server engine whose connection
// threads echo -> back. One figure per line:
//   broker_goodput_64k_<link>_mbps   MB/s of 64 KB messages echoed back
//   broker_rtt_100b_<link>_p50_us / _p99_us   round trip of a 100-byte message
//   broker_idle_cpu_percent          CPU of the broker over 10 s holding one
//                                    idle connection, in % of one core
// <link> is "loss0" (straight) or "loss1" (a relay losing 1 % both ways).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "broker/echo_server.h"
#include "clientif/brokerlock.h"
#include "clientif/ztclientif.h"
#include "platform/tick.h"

namespace velmora {
namespace {

constexpr int32_t kLarge = 64 * 1024;

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sends 64 KB messages for `seconds` on one thread while another takes the
// echoes; MB/s of echoed bytes.
void Goodput(ZTIF_CONNECTION* c, const char* link, double seconds) {
    std::atomic<bool> sending{true};
    std::atomic<uint64_t> sent{0}, echoed{0};
    std::thread receiver([&] {
        std::vector<uint8_t> buffer(kLarge);
        while (sending.load() || echoed.load() < sent.load()) {
            const int32_t n = ZtifReceive(c, buffer.data(), kLarge, 2000);
            if (n > 0) echoed.fetch_add(static_cast<uint64_t>(n));
            if (n < 0 || (n == 0 && !sending.load())) break;
        }
    });
    std::vector<uint8_t> message(kLarge, 0x5A);
    const double begin = NowSeconds();
    while (NowSeconds() - begin < seconds) {
        if (ZtifSend(c, message.data(), kLarge, 0, 10000) != kLarge) break;
        sent.fetch_add(kLarge);
    }
    sending.store(false);
    receiver.join();
    const double elapsed = NowSeconds() - begin;
    std::printf("broker_goodput_64k_%s_mbps %.1f\n", link,
                static_cast<double>(echoed.load()) / elapsed / 1e6);
    std::fflush(stdout);
}

void RoundTrip(ZTIF_CONNECTION* c, const char* link, int count) {
    std::vector<uint8_t> message(100, 0x42), echo(100);
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        message[0] = static_cast<uint8_t>(i);
        const double begin = NowSeconds();
        if (ZtifSend(c, message.data(), 100, 0, 5000) != 100 ||
            ZtifReceive(c, echo.data(), 100, 10000) != 100 || echo != message) {
            std::printf("broker_rtt_100b_%s: echo %d lost\n", link, i);
            return;
        }
        us.push_back((NowSeconds() - begin) * 1e6);
    }
    std::sort(us.begin(), us.end());
    std::printf("broker_rtt_100b_%s_p50_us %.0f\n", link, us[us.size() / 2]);
    std::printf("broker_rtt_100b_%s_p99_us %.0f\n", link, us[us.size() * 99 / 100]);
    std::fflush(stdout);
}

// CPU time of every thread of a process, in nanoseconds.
uint64_t ProcessCpuNs(pid_t pid) {
    uint64_t total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ignored)) {
        std::ifstream in(task.path() / "schedstat");
        uint64_t ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

pid_t BrokerPid(const std::string& name) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find("ZTBROKER.DLL") != std::string::npos &&
            cmdline.find(std::string(1, '\0') + name + '\0') != std::string::npos)
            return static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    }
    return -1;
}

void IdleCpu(const std::string& name) {
    const pid_t broker = BrokerPid(name);
    if (broker <= 0) return;
    SleepMs(1500);  // past the connection thread's quiet time
    const uint64_t before = ProcessCpuNs(broker);
    const double begin = NowSeconds();
    SleepMs(10000);
    const double elapsed = NowSeconds() - begin;
    const uint64_t used = ProcessCpuNs(broker) - before;
    std::printf("broker_idle_cpu_percent %.3f\n", static_cast<double>(used) / 1e9 / elapsed * 100);
}

}  // namespace
}  // namespace velmora

int main() {
    using namespace velmora;
    char dir[] = "/tmp/velmora-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    setenv("ZTVL_ROOT", dir, 1);
    const std::string name = "bench" + std::to_string(getpid());

    test::EchoServer straight, lossy;
    Impairment onePercent;
    onePercent.drop = 0.01;
    if (!straight.Start() || !lossy.Start(&onePercent, 11)) {
        std::printf("broker bench: no server\n");
        return 1;
    }
    ZTIF_CONNECTION* a = ZtifConnect(name.c_str(), "127.0.0.1", straight.Port(), 4, 0, 10000);
    ZTIF_CONNECTION* b = ZtifConnect(name.c_str(), "127.0.0.1", lossy.Port(), 4, 0, 10000);
    if (a == nullptr || b == nullptr) {
        std::printf("broker bench: connect failed (%d): %s\n", ZtifLastError(),
                    ZtifLastErrorText().c_str());
        ZtifStopBroker(name.c_str());
        return 1;
    }
    Goodput(a, "loss0", 5.0);
    Goodput(b, "loss1", 5.0);
    RoundTrip(a, "loss0", 1000);
    RoundTrip(b, "loss1", 1000);
    (void)ZtifDisconnect(b);
    IdleCpu(name);
    (void)ZtifDisconnect(a);
    ZtifStopBroker(name.c_str());
    BrokerLock::RemoveSharedObjects(name);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}

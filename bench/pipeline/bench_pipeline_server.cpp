// The whole server with local viewers: VelmoraServer --headless runs as its
// own process on the synthetic typing and scrolling scenes (1920 x 1080,
// 30 frames per second, the default settings: 16-bit colour, level 6, the
// LAN preset), and 1 or 10 viewers on loopback log on and take everything it
// sends. Prints, per case, the server's CPU (the screen source apart) and the
// bytes per second each viewer receives on the wire (1024-byte datagrams,
// retransmissions included) and as application messages. A still screen
// with no viewer and with one shows what an idle server costs.
//
// Encoding a batch once and copying it to every session is what keeps 10
// viewers well below 10 times the CPU of one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "server/screen/appmessages.h"
#include "server/screen/testwait.h"
#include "support/brokerpeer.h"
#include "transport/controlmessages.h"

extern char** environ;

namespace velmora {
namespace {

constexpr uint32_t kWarmUpMs = 3000;
constexpr uint32_t kMeasureMs = 10000;

std::string ReadAll(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// utime + stime of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), {});
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// A viewer that logs on and counts what it gets, without decoding it.
class CountingViewer {
  public:
    CountingViewer(uint8_t host, uint16_t key) : peer_(key, Config(host)) {}

    bool LogOn(uint16_t port) {
        if (!peer_.Open()) return false;
        peer_.SetServer(LoopbackAddressRaw(), htons(port), htons(uint16_t(port + 1)));
        peer_.SetOnData([this](const uint8_t*, size_t size) {
            messageBytes_.fetch_add(size);
            messages_.fetch_add(1);
        });
        if (!peer_.Start() || peer_.Connect(ctViewerSession, 5000) <= 0) return false;
        const LOGON_REQUEST request = MakeLogonRequest();
        if (peer_.Send(RecordBytes(request), sizeof request, 5000) <= 0) return false;
        // The answer and the screen record come first, then the picture.
        return testing::WaitUntil([&] { return messages_.load() >= 2; }, 10000);
    }
    uint64_t WireBytes() { return uint64_t(peer_.Transport().ReceiveStats().queued) * 1024; }
    uint64_t MessageBytes() const { return messageBytes_.load(); }

  private:
    static PeerConfig Config(uint8_t host) {
        PeerConfig c;
        c.addressRaw = htonl(0x7F000000u | host);
        c.maxMessage = 64u << 20;
        return c;
    }
    BrokerPeer peer_;
    std::atomic<uint64_t> messageBytes_{0};
    std::atomic<uint64_t> messages_{0};
};

struct Figures {
    double serverCpuPercent = 0;
    double sourceCpuPercent = 0;
    double wireKBps = 0;     // per viewer
    double messageKBps = 0;  // per viewer
    bool ok = false;
};

std::string ProgramPath() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? size_t(n) : 0);
    return path.substr(0, path.rfind('/')) + "/VelmoraServer";
}

Figures Run(const char* scene, int viewers) {
    Figures figures;
    char name[] = "/tmp/velmora-bench-XXXXXX";
    const std::string dir = mkdtemp(name);
    setenv("ZTVL_ROOT", (dir + "/run").c_str(), 1);
    const uint16_t port = testing::FreePortPair();
    {
        std::ofstream ini(dir + "/ZTVLSRV.INI");
        ini << "[SOCKET]\nPORT=" << port << "\n[USER]\nCONNECTIONS=10\n"
            << "[SCREEN SOURCE]\nSOURCE=synthetic\nSCENE=" << scene
            << "\nSIZE=1920x1080\nRATE=30\n";
    }
    const std::string out = dir + "/out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    const std::string program = ProgramPath();
    const char* argv[] = {program.c_str(), "--headless", nullptr};
    pid_t server = 0;
    const bool spawned = posix_spawn(&server, program.c_str(), &actions, nullptr,
                                     const_cast<char**>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    pid_t source = 0;
    if (spawned && testing::WaitUntil([&] {
            const std::string text = ReadAll(out);
            const size_t at = text.find("(pid ");
            if (at == std::string::npos) return false;
            source = pid_t(std::atol(text.c_str() + at + 5));
            return text.find("status: ") != std::string::npos;
        })) {
        std::vector<std::unique_ptr<CountingViewer>> v;
        bool all = true;
        for (int i = 0; i < viewers && all; ++i) {
            v.push_back(std::make_unique<CountingViewer>(uint8_t(2 + i), uint16_t(1 + i)));
            all = v.back()->LogOn(port);
        }
        if (all) {
            SleepMs(kWarmUpMs);
            std::vector<uint64_t> wire0, messages0;
            for (auto& x : v) {
                wire0.push_back(x->WireBytes());
                messages0.push_back(x->MessageBytes());
            }
            const double serverCpu0 = CpuSeconds(server), sourceCpu0 = CpuSeconds(source);
            const uint32_t begin = Tick();
            SleepMs(kMeasureMs);
            const double seconds = TickSince(begin) / 1000.0;
            figures.serverCpuPercent = 100 * (CpuSeconds(server) - serverCpu0) / seconds;
            figures.sourceCpuPercent = 100 * (CpuSeconds(source) - sourceCpu0) / seconds;
            for (size_t i = 0; i < v.size(); ++i) {
                figures.wireKBps += double(v[i]->WireBytes() - wire0[i]) / 1024 / seconds;
                figures.messageKBps += double(v[i]->MessageBytes() - messages0[i]) / 1024 / seconds;
            }
            if (!v.empty()) {
                figures.wireKBps /= double(v.size());
                figures.messageKBps /= double(v.size());
            }
            figures.ok = true;
        }
    }
    if (spawned) {
        kill(server, SIGTERM);
        int status = 0;
        waitpid(server, &status, 0);
    }
    (void)!std::system(("rm -rf " + dir).c_str());
    return figures;
}

}  // namespace
}  // namespace velmora

int main() {
    std::printf(
        "server CPU (screen source apart) and bytes per viewer, 1920x1080 at 30 fps,\n"
        "16-bit colour, level 6; %u s measured after %u s\n",
        velmora::kMeasureMs / 1000, velmora::kWarmUpMs / 1000);
    std::printf("%-10s %8s %12s %12s %14s %16s\n", "scene", "viewers", "server CPU%", "source CPU%",
                "wire KB/s/vw", "messages KB/s/vw");
    int status = 0;
    // An idle server: nobody logged on, then one viewer of a still screen.
    for (int viewers : {0, 1}) {
        const velmora::Figures f = velmora::Run("static", viewers);
        if (!f.ok) status = 1;
        std::printf("%-10s %8d %12.1f %12.1f %14.1f %16.1f\n", "static", viewers,
                    f.serverCpuPercent, f.sourceCpuPercent, f.wireKBps, f.messageKBps);
    }
    for (const char* scene : {"typing", "scrolling"}) {
        double single = 0;
        for (int viewers : {1, 10}) {
            const velmora::Figures f = velmora::Run(scene, viewers);
            if (!f.ok) {
                std::printf("%-10s %8d  (the server or a viewer did not come up)\n", scene,
                            viewers);
                status = 1;
                continue;
            }
            std::printf("%-10s %8d %12.1f %12.1f %14.1f %16.1f\n", scene, viewers,
                        f.serverCpuPercent, f.sourceCpuPercent, f.wireKBps, f.messageKBps);
            if (viewers == 1) single = f.serverCpuPercent;
            if (viewers == 10 && single > 0) {
                std::printf("%-10s CPU of 10 viewers / CPU of 1: %.2f\n", scene,
                            f.serverCpuPercent / single);
            }
        }
    }
    return status;
}

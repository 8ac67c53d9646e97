// The change scan over a 1920 x 1080 frame: one pass compares one row in 16
// of every block, so it should cost about 1/16 of comparing the whole frame.
// Prints each case and the ratio of a pass to a full memcmp.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mirror/syntheticscene.h"
#include "server/screen/blockgrid.h"
#include "server/screen/changescanner.h"

namespace velmora {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Screen {
    Screen() {
        grid.Build(kWidth, kHeight, size_t(kWidth) * 4, 4);
        frames[0].resize(grid.FrameBytes());
        frames[1].resize(grid.FrameBytes());
        // Two different frames of a busy desktop.
        auto scene = SyntheticScene::Make("noise", kWidth, kHeight);
        scene->Draw(1, scene->Bounds(), FrameCanvas{frames[0].data(), kWidth, kHeight});
        scene->Draw(2, scene->Bounds(), FrameCanvas{frames[1].data(), kWidth, kHeight});
        list.resize(size_t(grid.Count()));
    }
    BlockGrid grid;
    std::vector<uint8_t> frames[2];
    std::vector<int32_t> list;
};

Screen& TheScreen() {
    static Screen screen;
    return screen;
}

// The common case: nothing changed, every sampled row is compared in full.
void BM_ScanPassUnchangedFrame(benchmark::State& state) {
    Screen& s = TheScreen();
    ChangeScanner scanner;
    if (!scanner.Reset(s.grid)) return state.SkipWithError("no memory");
    for (int pass = 0; pass < ChangeScanner::kPasses; ++pass) {  // the reference takes the frame
        scanner.Scan(s.frames[0].data(), s.frames[0].size(), s.grid, s.list.data(),
                     int(s.list.size()));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(scanner.Scan(s.frames[0].data(), s.frames[0].size(), s.grid,
                                              s.list.data(), int(s.list.size())));
    }
}
BENCHMARK(BM_ScanPassUnchangedFrame)->Unit(benchmark::kMicrosecond);

// The worst case: every block changed (full-screen video), so every block
// is found on its first sampled row and copied whole into the reference.
void BM_ScanPassEveryBlockChanged(benchmark::State& state) {
    Screen& s = TheScreen();
    ChangeScanner scanner;
    if (!scanner.Reset(s.grid)) return state.SkipWithError("no memory");
    int which = 0;
    for (auto _ : state) {
        const auto& frame = s.frames[which];
        const int n =
            scanner.Scan(frame.data(), frame.size(), s.grid, s.list.data(), int(s.list.size()));
        if (n != s.grid.Count()) return state.SkipWithError("not every block changed");
        which ^= 1;
    }
}
BENCHMARK(BM_ScanPassEveryBlockChanged)->Unit(benchmark::kMicrosecond);

// What the scan saves: one memcmp of the whole frame against an equal copy.
void BM_FullFrameMemcmp(benchmark::State& state) {
    Screen& s = TheScreen();
    const std::vector<uint8_t> copy = s.frames[0];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::memcmp(s.frames[0].data(), copy.data(), copy.size()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FullFrameMemcmp)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> cpu;  // the machine is shared: CPU time is the steadier figure
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velmora::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.cpu;
    const auto full = t.find("BM_FullFrameMemcmp");
    for (const char* name : {"BM_ScanPassUnchangedFrame", "BM_ScanPassEveryBlockChanged"}) {
        const auto pass = t.find(name);
        if (pass == t.end() || full == t.end() || full->second <= 0) continue;
        std::printf("%s / full memcmp of 1920x1080 (CPU time): %.3f (%.1f us / %.1f us)\n", name,
                    pass->second / full->second, pass->second, full->second);
    }
    benchmark::Shutdown();
    return 0;
}

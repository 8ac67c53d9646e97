// A full 1920 x 1080 frame encoded as the server sends a new viewer its
// picture: 700 blocks in batches of 100, converted to the depth and
// compressed at the level. Prints milliseconds per frame and the bytes a
// frame takes on the wire (before transport headers).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "server/screen/blockencoder.h"
#include "support/screenlike_frame.h"

namespace velmora {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kBatch = 100;

struct Screen {
    Screen() : frame(testing::MakeScreenlikeFrame(kWidth, kHeight, 11)) {
        grid.Build(kWidth, kHeight, frame.stride, 4);
        for (int n = grid.Count() - 1; n >= 0; --n) order.push_back(n);
    }
    testing::ScreenlikeFrame frame;
    BlockGrid grid;
    std::vector<int32_t> order;  // top of the screen first
};

const Screen& TheScreen() {
    static const Screen screen;
    return screen;
}

// Encodes the whole frame; answers the bytes of all messages.
size_t EncodeFrame(BlockEncoder& encoder, int depth) {
    const Screen& s = TheScreen();
    const FrameView view{&s.grid, s.frame.pixels.data(), s.grid.FrameBytes()};
    size_t bytes = 0;
    for (size_t at = 0; at < s.order.size(); at += kBatch) {
        const int n = int(std::min<size_t>(kBatch, s.order.size() - at));
        const int length = encoder.Encode(view, s.order.data() + at, n, depth);
        if (length > 0) bytes += size_t(length);
    }
    return bytes;
}

// Args: depth, level. The colour cache is warm after the first frame, as it
// is for every frame but the first after the screen is mapped.
void BM_FullFrame(benchmark::State& state) {
    const int depth = int(state.range(0));
    BlockEncoder encoder;
    encoder.SetLevel(int(state.range(1)));
    size_t bytes = EncodeFrame(encoder, depth);
    for (auto _ : state) bytes = EncodeFrame(encoder, depth);
    state.counters["wire_KB"] = double(bytes) / 1024.0;
}
BENCHMARK(BM_FullFrame)
    ->ArgNames({"depth", "level"})
    ->ArgsProduct({{24, 16, 8}, {1, 6}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first frame after a mapping at depth 8: every 5-5-5 cell met is
// searched in the 256-colour palette once.
void BM_FullFrameColdCacheDepth8(benchmark::State& state) {
    BlockEncoder encoder;
    encoder.SetLevel(1);
    for (auto _ : state) {
        encoder.ClearColourCache();
        benchmark::DoNotOptimize(EncodeFrame(encoder, 8));
    }
}
BENCHMARK(BM_FullFrameColdCacheDepth8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

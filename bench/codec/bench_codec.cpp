// The picture path's codec on a 1920 x 1080 desktop: pixel conversion, and
// compression and expansion of SCREEN_BLOCKS payloads with zlib and with
// libdeflate. The whole screen is cut into the 56 x 56 grid and sent as
// batches of 100 blocks, as a new viewer's full picture is. Figures: MB/s of
// payload (10^6 bytes per second, before compression) and the ratio of
// payload to stream bytes.
#include <benchmark/benchmark.h>

#include <vector>

#include "server/screen/appmessages_blocks.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"
#include "support/screenlike_frame.h"

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 1920, kHeight = 1080, kBatch = 100;

const testing::ScreenlikeFrame& Frame() {
    static const testing::ScreenlikeFrame frame = testing::MakeScreenlikeFrame(kWidth, kHeight);
    return frame;
}

// Payloads of the full picture at one depth, batch by batch.
std::vector<Bytes> FullPicture(int depth) {
    const auto& frame = Frame();
    const int columns = (kWidth + 55) / 56, rows = (kHeight + 55) / 56;
    TBitUtil converter;
    ScreenBlocksBuilder builder;
    std::vector<Bytes> batches;
    (void)builder.Begin(depth);
    for (int n = 0; n < columns * rows; ++n) {
        const int column = n % columns, row = n / columns;
        const int width = std::min(56, kWidth - 56 * column);
        const int height = std::min(56, kHeight - 56 * row);
        const uint8_t* first = frame.pixels.data() + static_cast<size_t>(56 * row) * frame.stride +
                               static_cast<size_t>(56 * column) * 4;
        (void)builder.AddBlock(
            static_cast<int16_t>(n), width, height, static_cast<int16_t>(56 * column),
            static_cast<int16_t>(kHeight - 56 * row), first, frame.stride, converter);
        if (builder.BlockCount() == kBatch || n + 1 == columns * rows) {
            batches.push_back(builder.Payload());
            (void)builder.Begin(depth);
        }
    }
    return batches;
}

const std::vector<Bytes>& Picture(int depth) {
    static const std::vector<Bytes> p16 = FullPicture(16), p24 = FullPicture(24);
    return depth == 16 ? p16 : p24;
}

TlzLibrary LibraryArg(int64_t v) {
    return v == 0 ? TlzLibrary::Zlib : TlzLibrary::Libdeflate;
}

void SetFigures(benchmark::State& state, double payloadBytes, double streamBytes) {
    state.counters["MB_in"] =
        benchmark::Counter(payloadBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    if (streamBytes > 0) state.counters["ratio"] = payloadBytes / streamBytes;
}

// Args: library (0 zlib, 1 libdeflate), depth, level.
void BM_Compress(benchmark::State& state) {
    const TlzLibrary library = LibraryArg(state.range(0));
    const auto& batches = Picture(static_cast<int>(state.range(1)));
    TLZ lz(library, library);
    lz.SetLevel(static_cast<int>(state.range(2)));
    Bytes out(TLZ::CompressBound(kMaxScreenBlocksPayload));
    double payload = 0, stream = 0;
    for (auto _ : state) {
        payload = stream = 0;
        for (const Bytes& b : batches) {
            const int n = lz.Compress(b.data(), b.size(), out.data(), out.size());
            if (n < 0) state.SkipWithError("compress failed");
            payload += static_cast<double>(b.size());
            stream += n;
        }
    }
    state.SetLabel(library == TlzLibrary::Zlib ? "zlib" : "libdeflate");
    SetFigures(state, payload, stream);
}
BENCHMARK(BM_Compress)
    ->ArgNames({"lib", "depth", "level"})
    ->ArgsProduct({{0, 1}, {16, 24}, {1, 6}})
    ->Unit(benchmark::kMillisecond);

// Args: library that expands, depth; the streams are level 6 from the
// server's compressor.
void BM_Expand(benchmark::State& state) {
    const TlzLibrary library = LibraryArg(state.range(0));
    const auto& batches = Picture(static_cast<int>(state.range(1)));
    TLZ server;
    std::vector<Bytes> streams;
    for (const Bytes& b : batches) {
        Bytes s(TLZ::CompressBound(b.size()));
        s.resize(static_cast<size_t>(server.Compress(b.data(), b.size(), s.data(), s.size())));
        streams.push_back(std::move(s));
    }
    TLZ lz(library, library);
    Bytes out(kMaxScreenBlocksPayload);
    double payload = 0;
    for (auto _ : state) {
        payload = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (lz.Expand(streams[i].data(), streams[i].size(), out.data(), batches[i].size()) < 0)
                state.SkipWithError("expand failed");
            payload += static_cast<double>(batches[i].size());
        }
    }
    state.SetLabel(library == TlzLibrary::Zlib ? "zlib" : "libdeflate");
    SetFigures(state, payload, 0);
}
BENCHMARK(BM_Expand)
    ->ArgNames({"lib", "depth"})
    ->ArgsProduct({{0, 1}, {16, 24}})
    ->Unit(benchmark::kMillisecond);

// Arg: depth. The whole frame through the converter with a warm colour cache.
void BM_Convert(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    const auto& frame = Frame();
    TBitUtil converter;
    Bytes out(static_cast<size_t>(kWidth) * kHeight * 3);
    for (auto _ : state) {
        converter.ConvertBlock(frame.pixels.data(), frame.stride, kWidth, kHeight, depth,
                               out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetFigures(state, static_cast<double>(kWidth) * kHeight * 4, 0);
}
BENCHMARK(BM_Convert)->ArgName("depth")->Arg(24)->Arg(16)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

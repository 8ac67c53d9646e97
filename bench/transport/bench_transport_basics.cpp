// Receive-queue and message-cutting costs, in ns per operation.
#include <benchmark/benchmark.h>

#include <vector>

#include "transport/messagecutter.h"
#include "transport/ztflatqueue.h"

namespace velmora {
namespace {

// One Push and one Pop of a 1038-byte entry on a server-sized queue.
void BM_FlatQueuePushPop(benchmark::State& state) {
    ZTFLATQUEUE queue(10000);
    PACKETRECEIVED in{}, out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(queue.Push(in));
        benchmark::DoNotOptimize(queue.Pop(out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FlatQueuePushPop);

// Fills the queue to a depth with Push, then drains it with Pop: the figure
// is per single operation.
void BM_FlatQueueBurst(benchmark::State& state) {
    const int32_t depth = static_cast<int32_t>(state.range(0));
    ZTFLATQUEUE queue(10000);
    PACKETRECEIVED in{}, out{};
    for (auto _ : state) {
        for (int32_t i = 0; i < depth; ++i) benchmark::DoNotOptimize(queue.Push(in));
        for (int32_t i = 0; i < depth; ++i) benchmark::DoNotOptimize(queue.Pop(out));
        benchmark::ClobberMemory();
    }
    // Seconds per Push or Pop, printed with an SI prefix ("25n" = 25 ns).
    state.counters["per_op"] = benchmark::Counter(
        2.0 * depth, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FlatQueueBurst)->Arg(1000);

// Cutting a 1 MB message into its 1052 packets (17 frames) in a reused
// frame buffer: the figure is per message.
void BM_CutMessage1MB(benchmark::State& state) {
    std::vector<uint8_t> message(1 << 20, 0x5A);
    std::vector<ZTPACKET> frame(kMaxFramePackets);
    PacketOrigin origin;
    uint16_t counter = kFirstSeq;
    for (auto _ : state) {
        MessageCutter cutter(message.data(), static_cast<uint32_t>(message.size()), kDataChannel, 0,
                             origin);
        while (cutter.NextFramePackets() != 0) {
            benchmark::DoNotOptimize(cutter.WriteFrame(frame.data(), counter, 1));
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(message.size()));
    state.counters["per_packet"] = benchmark::Counter(
        static_cast<double>(MessageCutter::PacketCount(1 << 20)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CutMessage1MB);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

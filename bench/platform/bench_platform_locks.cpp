// Costs of the locks, in ns per operation: the named mutex guards every
// record the broker and its applications exchange through their queues.
#include <sys/mman.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>

#include "platform/shared_name.h"
#include "platform/ztcritical_section.h"
#include "platform/ztmutex.h"

namespace velmora {
namespace {

std::string BenchName() {
    return "bench" + std::to_string(getpid());
}

// Lock and Unlock of a named mutex nobody else holds.
void BM_NamedMutexLockUnlock(benchmark::State& state) {
    ZTMUTEX mutex;
    if (!mutex.Create(BenchName().c_str())) {
        state.SkipWithError(mutex.LastError().c_str());
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(mutex.Lock());
        benchmark::DoNotOptimize(mutex.Unlock());
    }
}
BENCHMARK(BM_NamedMutexLockUnlock);

// TryLock(0) and Unlock: the memory-block store's polling form.
void BM_NamedMutexTryLockUnlock(benchmark::State& state) {
    ZTMUTEX mutex;
    if (!mutex.Create(BenchName().c_str())) {
        state.SkipWithError(mutex.LastError().c_str());
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(mutex.TryLock(0));
        benchmark::DoNotOptimize(mutex.Unlock());
    }
}
BENCHMARK(BM_NamedMutexTryLockUnlock);

// Create (open an existing object, map it) and destruction, as the library
// does for each queue lock of a new connection.
void BM_NamedMutexOpenClose(benchmark::State& state) {
    ZTMUTEX keep;
    if (!keep.Create(BenchName().c_str())) {
        state.SkipWithError(keep.LastError().c_str());
        return;
    }
    for (auto _ : state) {
        ZTMUTEX mutex;
        benchmark::DoNotOptimize(mutex.Create(BenchName().c_str()));
    }
}
BENCHMARK(BM_NamedMutexOpenClose);

// The in-process lock, for comparison.
void BM_CriticalSectionEnterLeave(benchmark::State& state) {
    ZTCRITICAL_SECTION lock;
    for (auto _ : state) {
        lock.Enter();
        lock.Leave();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CriticalSectionEnterLeave);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The mutex object outlives its users by design; a benchmark removes its own.
    shm_unlink(velmora::SharedMutexObjectName(velmora::BenchName()).c_str());
    return 0;
}

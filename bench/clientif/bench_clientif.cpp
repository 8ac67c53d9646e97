// Costs of the client-interface library's own work, with the broker's side
// played by this program (no network): a record through a shared queue under
// its named mutex, a peek (which opens the instance list and asks whether the
// broker lives), and a 64 KB message sent into or received from the queues.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clientif/brokernames.h"
#include "clientif/fake_broker.h"
#include "clientif/ztclientif.h"

namespace velmora {
namespace {

// A private runtime directory, a broker stand-in that answers connects but
// moves no data, and one connection to it.
class Setting {
  public:
    Setting() {
        char dir[] = "/tmp/velmora-bench-XXXXXX";
        if (mkdtemp(dir) == nullptr) return;
        dir_ = dir;
        setenv("ZTVL_ROOT", dir, 1);
        name_ = "bench" + std::to_string(getpid());
        broker_ = std::make_unique<test::FakeBroker>(name_, test::FakeBehaviour{.echo = false});
        std::string why;
        if (!broker_->Start(&why)) return;
        connection_ = ZtifConnect(name_.c_str(), "127.0.0.1", 8888, 4, 0, 5000);
    }
    ~Setting() {
        if (connection_ != nullptr) (void)ZtifDisconnect(connection_);
        ZtifResetForTesting();
        broker_.reset();
        BrokerLock::RemoveSharedObjects(name_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    ZTIF_CONNECTION* Connection() const { return connection_; }
    test::FakeBroker& Broker() const { return *broker_; }

  private:
    std::string dir_;
    std::string name_;
    std::unique_ptr<test::FakeBroker> broker_;
    ZTIF_CONNECTION* connection_ = nullptr;
};

void BM_QueuePutTake(benchmark::State& state) {
    ZTMUTEX lock;
    const std::string name = "benchq" + std::to_string(getpid());
    ZTSHARED_MEMORY memory(name.c_str(), kReceiveQueueSize, true);
    if (!lock.Create(name.c_str()) || memory.View() == nullptr) {
        state.SkipWithError("no shared queue");
        return;
    }
    ReceiveQueue queue(memory.View(), memory.Size(), &lock);
    queue.Initialise();
    ZTRECV_RECORD record{};
    record.totalLength = 997;
    record.dataLength = 997;
    for (auto _ : state) {
        benchmark::DoNotOptimize(queue.Put(record));
        benchmark::DoNotOptimize(queue.Take(record));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 997);
}
BENCHMARK(BM_QueuePutTake);

void BM_PeekEmptyQueue(benchmark::State& state) {
    const Setting setting;
    if (setting.Connection() == nullptr) {
        state.SkipWithError(ZtifLastErrorText().c_str());
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ZtifPeek(setting.Connection()));
}
BENCHMARK(BM_PeekEmptyQueue);

constexpr int32_t kMessage = 64 * 1024;

// ZtifSend of 64 KB; the broker's side empties the send queue between sends.
void BM_Send64K(benchmark::State& state) {
    const Setting setting;
    if (setting.Connection() == nullptr) {
        state.SkipWithError(ZtifLastErrorText().c_str());
        return;
    }
    SendQueue& queue = *setting.Broker().BrokerSendQueue(setting.Connection()->slotIndex);
    const std::vector<uint8_t> message(kMessage, 0x42);
    ZTSEND_RECORD record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZtifSend(setting.Connection(), message.data(), kMessage, 0, 1000));
        state.PauseTiming();
        while (queue.Take(record) == kQueueDone) {
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}
BENCHMARK(BM_Send64K);

// ZtifReceive of 64 KB that the broker's side has queued.
void BM_Receive64K(benchmark::State& state) {
    const Setting setting;
    if (setting.Connection() == nullptr) {
        state.SkipWithError(ZtifLastErrorText().c_str());
        return;
    }
    ReceiveQueue& queue = *setting.Broker().BrokerReceiveQueue(setting.Connection()->slotIndex);
    std::vector<uint8_t> buffer(kMessage);
    ZTRECV_RECORD record{};
    record.totalLength = kMessage;
    for (auto _ : state) {
        state.PauseTiming();
        for (int32_t left = kMessage; left > 0; left -= record.dataLength.get()) {
            record.dataLength = left < 997 ? left : 997;
            (void)queue.Put(record);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(ZtifReceive(setting.Connection(), buffer.data(), kMessage, 1000));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessage);
}
BENCHMARK(BM_Receive64K);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

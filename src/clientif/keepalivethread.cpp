#include "clientif/keepalivethread.h"

#include <chrono>

#include "clientif/brokerlock.h"
#include "clientif/instancelist.h"

namespace velmora {

KeepAliveThread::KeepAliveThread(std::mutex& libraryLock, std::vector<std::string>& names,
                                 uint32_t intervalMs, void (*afterRound)(void*), void* context)
    : libraryLock_(libraryLock),
      names_(names),
      intervalMs_(intervalMs),
      afterRound_(afterRound),
      context_(context) {
    threadProc = &KeepAliveThread::Proc;
}

KeepAliveThread::~KeepAliveThread() {
    Stop();
}

bool KeepAliveThread::Start() {
    return Run(true);
}

void KeepAliveThread::Stop() {
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        RequestStop();
    }
    wake_.notify_all();
    (void)StopAndWait(1);
}

uint32_t KeepAliveThread::Proc(void* self) {
    static_cast<KeepAliveThread*>(self)->Loop();
    return 0;
}

bool KeepAliveThread::ClearSilenceCounters(std::vector<std::string>& names) {
    for (auto it = names.begin(); it != names.end();) {
        const InstanceList list(*it, BrokerLock::LockPath(*it));
        if (!list.IsOpen()) {
            it = names.erase(it);
            continue;
        }
        for (int32_t i = 0; i < kInstanceSlots; ++i) {
            ZTINSTANCE_SLOT& slot = list.Slot(i);
            if (SlotState(slot) == nsConnected) StoreShared(slot.silenceCounter, int8_t{0});
        }
        ++it;
    }
    return !names.empty();
}

void KeepAliveThread::Loop() {
    BeginLoop();
    while (!StopRequested()) {
        {
            std::lock_guard<std::mutex> guard(libraryLock_);
            if (!ClearSilenceCounters(names_)) {
                ended_.store(true);
                break;
            }
        }
        if (afterRound_ != nullptr) afterRound_(context_);
        std::unique_lock<std::mutex> sleep(wakeLock_);
        wake_.wait_for(sleep, std::chrono::milliseconds(intervalMs_),
                       [this] { return StopRequested(); });
    }
    EndLoop();
}

}  // namespace velmora

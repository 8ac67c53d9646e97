#include "platform/ztthread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/tick.h"

namespace velmora {

ZTTHREAD::~ZTTHREAD() {
    if (!thread_.joinable()) return;
    OpenGate(/*cancel=*/true);  // a thread still at its gate leaves without running
    thread_.join();
}

void ZTTHREAD::Trampoline(ZTTHREAD* self, ThreadProc proc, void* param) {
    self->tid_.store(static_cast<int>(syscall(SYS_gettid)));
    {
        std::unique_lock<std::mutex> lock(self->gateMutex_);
        self->gateCv_.wait(lock, [self] { return self->gateOpen_; });
        if (self->cancelled_) {
            self->exited_.store(true);
            return;
        }
    }
    const uint32_t code = proc(param);
    self->exitCode_.store(code);
    self->exited_.store(true);
}

bool ZTTHREAD::Run(bool start) {
    if (started_.load()) {
        std::lock_guard<std::mutex> lock(gateMutex_);
        if (start) {
            gateOpen_ = true;
            paused_ = false;
        } else if (gateOpen_) {
            paused_ = true;
        }
        gateCv_.notify_all();
        return true;
    }
    if (threadProc == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(gateMutex_);
        gateOpen_ = start;
        paused_ = false;
        cancelled_ = false;
    }
    exited_.store(false);
    try {
        thread_ = std::thread(&ZTTHREAD::Trampoline, this, threadProc,
                              parameter != nullptr ? parameter : static_cast<void*>(this));
    } catch (...) {
        return false;
    }
    started_.store(true);
    return true;
}

void ZTTHREAD::OpenGate(bool cancel) {
    std::lock_guard<std::mutex> lock(gateMutex_);
    if (!gateOpen_ && cancel) cancelled_ = true;
    gateOpen_ = true;
    paused_ = false;
    gateCv_.notify_all();
}

void ZTTHREAD::PausePoint() {
    std::unique_lock<std::mutex> lock(gateMutex_);
    gateCv_.wait(lock, [this] { return !paused_ || stopRequested_.load(); });
}

bool ZTTHREAD::StopAndWait(uint32_t pollMs, uint32_t limitMs) {
    stopRequested_.store(true);
    if (!started_.load()) return true;
    {
        // A paused loop must be able to see the request.
        std::lock_guard<std::mutex> lock(gateMutex_);
        if (!gateOpen_) {
            cancelled_ = true;
            gateOpen_ = true;
        }
        paused_ = false;
        gateCv_.notify_all();
    }
    const uint32_t begin = Tick();
    while (!exited_.load()) {
        if (limitMs != UINT32_MAX && TickSince(begin) >= limitMs) return false;
        SleepMs(pollMs == 0 ? 1 : pollMs);
    }
    return true;
}

void ZTTHREAD::SetNice(int nice) {
    const int tid = tid_.load();
    if (tid != 0) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

}  // namespace velmora

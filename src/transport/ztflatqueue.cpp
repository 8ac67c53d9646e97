#include "transport/ztflatqueue.h"

#include <chrono>
#include <cstring>
#include <new>

namespace velmora {

ZTFLATQUEUE::ZTFLATQUEUE(int32_t capacity) : capacity_(capacity < 0 ? 0 : capacity) {
    if (capacity_ > 0)
        buffer_.reset(new (std::nothrow) PACKETRECEIVED[static_cast<size_t>(capacity_)]);
}

ZTFLATQUEUE::~ZTFLATQUEUE() {
    CsGuard guard(lock_);
    buffer_.reset();
}

int32_t ZTFLATQUEUE::Push(const PACKETRECEIVED& entry) {
    int32_t after;
    {
        CsGuard guard(lock_);
        if (!buffer_) return kNoBuffer;
        const uint32_t count = count_.load(std::memory_order_relaxed);
        if (count + 1 > static_cast<uint32_t>(capacity_)) return kFull;
        std::memcpy(&buffer_[writeIndex_], &entry, sizeof(PACKETRECEIVED));
        if (++writeIndex_ >= static_cast<uint32_t>(capacity_)) writeIndex_ = 0;
        count_.store(count + 1);  // seq_cst: ordered before the waiters_ load below
        after = static_cast<int32_t>(count + 1);
    }
    if (waiters_.load() > 0) {
        std::lock_guard<std::mutex> wake(waitMutex_);
        waitCv_.notify_one();
    }
    return after;
}

int32_t ZTFLATQUEUE::Pop(PACKETRECEIVED& out) {
    if (count_.load() == 0) return 0;
    CsGuard guard(lock_);
    if (!buffer_) return kNoBuffer;
    const uint32_t count = count_.load(std::memory_order_relaxed);
    if (count == 0) return 0;
    std::memcpy(&out, &buffer_[readIndex_], sizeof(PACKETRECEIVED));
    if (++readIndex_ >= static_cast<uint32_t>(capacity_)) readIndex_ = 0;
    count_.store(count - 1, std::memory_order_release);
    return static_cast<int32_t>(count);
}

bool ZTFLATQUEUE::WaitForEntry(uint32_t waitMs) {
    if (Count() > 0) return true;
    std::unique_lock<std::mutex> lock(waitMutex_);
    waiters_.fetch_add(1);
    const bool ready =
        waitCv_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return Count() > 0; });
    waiters_.fetch_sub(1);
    return ready;
}

}  // namespace velmora

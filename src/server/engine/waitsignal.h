// A wake-up a waiting thread cannot miss: Raise counts an event, Wait blocks
// until the count has moved past what the waiter last saw, or a time-out.
// Used to let host managers and HostReceive block instead of polling, while
// keeping their designed wait as the upper bound.
//
// Lock: mutex_ guards nothing but the sleep itself; it is a leaf lock. count_
// is atomic, so Raise without a waiter costs one atomic increment.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace velmora {

class WaitSignal {
  public:
    uint64_t Count() const { return count_.load(); }

    void Raise() {
        count_.fetch_add(1);
        if (waiters_.load() == 0) return;
        // Taking the mutex orders this notify after a waiter's check.
        { std::lock_guard<std::mutex> lock(mutex_); }
        cv_.notify_all();
    }

    // Blocks until Count() differs from seen or ms have passed; answers the
    // count then.
    uint64_t Wait(uint64_t seen, uint32_t ms) {
        waiters_.fetch_add(1);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(ms),
                         [&] { return count_.load() != seen; });
        }
        waiters_.fetch_sub(1);
        return count_.load();
    }

  private:
    std::atomic<uint64_t> count_{0};
    std::atomic<int> waiters_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace velmora

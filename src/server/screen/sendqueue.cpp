#include "server/screen/sendqueue.h"

#include <new>

namespace velmora {

bool SendQueue::Reset(int blockCount) {
    std::lock_guard<std::mutex> guard(lock_);
    front_ = back_ = kNone;
    size_ = 0;
    try {
        prev_.assign(static_cast<size_t>(blockCount > 0 ? blockCount : 0), kOut);
        next_.assign(prev_.size(), kNone);
    } catch (const std::bad_alloc&) {
        prev_.clear();
        next_.clear();
        return false;
    }
    return true;
}

void SendQueue::Unlink(int32_t n) {
    const int32_t p = prev_[size_t(n)];
    const int32_t x = next_[size_t(n)];
    (p == kNone ? front_ : next_[size_t(p)]) = x;
    (x == kNone ? back_ : prev_[size_t(x)]) = p;
    prev_[size_t(n)] = kOut;
    next_[size_t(n)] = kNone;
    --size_;
}

void SendQueue::QueueFront(const int32_t* numbers, int count) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto limit = static_cast<int32_t>(prev_.size());
    for (int i = 0; i < count; ++i) {
        const int32_t n = numbers[i];
        if (n < 0 || n >= limit) continue;
        if (prev_[size_t(n)] != kOut) Unlink(n);
        prev_[size_t(n)] = kNone;
        next_[size_t(n)] = front_;
        (front_ == kNone ? back_ : prev_[size_t(front_)]) = n;
        front_ = n;
        ++size_;
    }
}

int SendQueue::Take(int max, int32_t* out) {
    std::lock_guard<std::mutex> guard(lock_);
    int taken = 0;
    while (taken < max && front_ != kNone) {
        const int32_t n = front_;
        Unlink(n);
        out[taken++] = n;
    }
    return taken;
}

int SendQueue::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return size_;
}

}  // namespace velmora

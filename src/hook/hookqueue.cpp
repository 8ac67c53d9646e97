#include "hook/hookqueue.h"

#include <cstring>

namespace velmora {

HookQueue::HookQueue(const char* mutexName, const char* memoryName) {
    if (!mutex_.Create(mutexName)) {
        error_ = "cannot create the mutex " + std::string(mutexName) + ": " + mutex_.LastError();
        return;
    }
    memory_ = std::make_unique<ZTSHARED_MEMORY>(memoryName, sizeof(HOOKSHARED), true);
    if (memory_->View() == nullptr || memory_->Size() < sizeof(HOOKSHARED)) {
        error_ =
            "cannot map the shared queue " + std::string(memoryName) + ": " + memory_->LastError();
        memory_.reset();
        return;
    }
    shared_ = reinterpret_cast<HOOKSHARED*>(memory_->View());
}

void HookQueue::CheckIndexes() {
    if (shared_->readIndex.get() >= kHookQueueCapacity ||
        shared_->writeIndex.get() >= kHookQueueCapacity) {
        shared_->readIndex = 0;
        shared_->writeIndex = 0;
        shared_->count = 0;
    }
}

bool HookQueue::Put(const HOOKEVENT& record) {
    if (shared_ == nullptr || !mutex_.TryLock(kWaitMs)) return false;
    CheckIndexes();
    const uint32_t write = shared_->writeIndex;
    std::memcpy(&shared_->records[write], &record, sizeof record);
    const uint32_t next = (write + 1) % kHookQueueCapacity;
    shared_->writeIndex = next;
    // The count follows the indexes: after a wrap onto unread records the
    // ring reads as empty, and so does the count.
    const uint32_t read = shared_->readIndex;
    shared_->count = static_cast<int32_t>((next + kHookQueueCapacity - read) % kHookQueueCapacity);
    mutex_.Unlock();
    return true;
}

bool HookQueue::Get(HOOKEVENT* out) {
    if (shared_ == nullptr || !mutex_.TryLock(kWaitMs)) return false;
    CheckIndexes();
    const uint32_t read = shared_->readIndex;
    if (read == shared_->writeIndex.get()) {
        mutex_.Unlock();
        return false;
    }
    std::memcpy(out, &shared_->records[read], sizeof *out);
    shared_->readIndex = (read + 1) % kHookQueueCapacity;
    shared_->count = shared_->count.get() > 0 ? shared_->count.get() - 1 : 0;
    mutex_.Unlock();
    return true;
}

int32_t HookQueue::Count() const {
    return shared_ == nullptr ? 0 : shared_->count.get();
}

void HookQueue::Clear() {
    if (shared_ == nullptr) return;
    // Emptying must not be skipped: when the mutex is not had in time the
    // ring is emptied anyway. A writer racing it can only leave indexes
    // inside the ring, which every later put and get accepts.
    const bool locked = mutex_.TryLock(kWaitMs);
    shared_->readIndex = 0;
    shared_->writeIndex = 0;
    shared_->count = 0;
    if (locked) mutex_.Unlock();
}

}  // namespace velmora

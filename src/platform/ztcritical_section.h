// Mutual exclusion between the threads of one program, re-entrant for the
// thread that holds it. Meets the standard Lockable requirements, so
// std::lock_guard / std::unique_lock work on it.
#pragma once

#include <mutex>

namespace velmora {

class ZTCRITICAL_SECTION {
public:
    ZTCRITICAL_SECTION() = default;
    ZTCRITICAL_SECTION(const ZTCRITICAL_SECTION&) = delete;
    ZTCRITICAL_SECTION& operator=(const ZTCRITICAL_SECTION&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

using CsGuard = std::lock_guard<ZTCRITICAL_SECTION>;

}  // namespace velmora

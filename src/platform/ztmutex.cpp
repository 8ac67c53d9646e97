#include "platform/ztmutex.h"

#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/shared_name.h"
#include "platform/shared_object.h"
#include "platform/tick.h"

namespace velmora {

// The contents of the mutex's shared-memory object. It holds a native
// pthread mutex, so it is shared only between processes of one machine and
// one build; the object's size must match exactly.
struct ZTMUTEX::Shared {
    uint32_t state;     // 0 blank, the pid of the process setting it up, or kReady
    uint32_t reserved;  // 0
    pthread_mutex_t mutex;
};

namespace {

// Above every pid, so it cannot be mistaken for the pid of a setter-up.
constexpr uint32_t kReady = 0x8A7E0001u;
// How long an opener waits for another process to finish setting up the mutex.
constexpr uint32_t kSetUpWaitMs = 2000;

bool ProcessAlive(uint32_t pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int InitRobustRecursive(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc != 0) return rc;
    rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (rc == 0) rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc;
}

// Whoever first claims a blank object (creator or opener alike) sets the
// mutex up and publishes kReady; everyone else waits for that. A claim left by
// a process that died while setting up is taken over, so a crash at the wrong
// moment cannot leave the name unusable.
bool SetUp(uint32_t& stateWord, pthread_mutex_t* mutex, std::string* why) {
    std::atomic_ref<uint32_t> state(stateWord);
    const auto self = static_cast<uint32_t>(getpid());
    const uint32_t begin = Tick();
    for (;;) {
        uint32_t seen = state.load(std::memory_order_acquire);
        if (seen == kReady) return true;
        if ((seen == 0 || !ProcessAlive(seen)) && state.compare_exchange_strong(seen, self)) {
            const int rc = InitRobustRecursive(mutex);
            if (rc != 0) {
                state.store(0, std::memory_order_release);
                *why = std::string("cannot set up the mutex: ") + std::strerror(rc);
                return false;
            }
            state.store(kReady, std::memory_order_release);
            return true;
        }
        if (TickSince(begin) >= kSetUpWaitMs) {
            *why = "process " + std::to_string(seen) + " does not finish setting it up";
            return false;
        }
        SleepMs(1);
    }
}

}  // namespace

ZTMUTEX::~ZTMUTEX() {
    Close();
}

bool ZTMUTEX::Create(const char* name) {
    Close();
    error_.clear();
    name_ = name != nullptr ? name : "";
    std::string why;
    const std::string object = name != nullptr ? SharedMutexObjectName(name, &why) : std::string();
    if (object.empty()) {
        error_ = "named mutex \"" + name_ + "\" refused: " + (name ? why : "no name given");
        return false;
    }
    static_assert(offsetof(Shared, state) == 0);
    static_assert(offsetof(Shared, reserved) == 4);
    static_assert(offsetof(Shared, mutex) == 8);
    static_assert(sizeof(Shared) == 8 + sizeof(pthread_mutex_t));
    constexpr size_t kSize = sizeof(Shared);
    int fd = -ENOENT;
    // The object may vanish between a failed exclusive create and the open
    // (only tests remove mutex objects); a few attempts cover that.
    for (int attempt = 0; attempt < 3 && fd == -ENOENT; ++attempt) {
        fd = CreateSharedObject(object, &why);
        if (fd == -EEXIST) fd = OpenSharedObject(object, &why);
    }
    if (fd < 0) {
        error_ = "named mutex \"" + name_ + "\": " + why;
        return false;
    }
    // Everyone sizes the object to the same size, so an opener that comes
    // before the creator's ftruncate (or after a creator that died) is safe.
    const off_t size = SharedObjectSize(fd, 0);
    if (size != static_cast<off_t>(kSize) &&
        (size != 0 || ftruncate(fd, static_cast<off_t>(kSize)) != 0)) {
        error_ = "named mutex \"" + name_ + "\": " + object + " is not a mutex of this system (" +
                 std::to_string(size) + " bytes)";
        close(fd);
        return false;
    }
    void* view = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapError = errno;
    close(fd);
    if (view == MAP_FAILED) {
        error_ =
            "named mutex \"" + name_ + "\": cannot map " + object + ": " + std::strerror(mapError);
        return false;
    }
    auto* shared = static_cast<Shared*>(view);
    if (!SetUp(shared->state, &shared->mutex, &why)) {
        error_ = "named mutex \"" + name_ + "\": " + why;
        munmap(view, kSize);
        return false;
    }
    shared_ = shared;
    return true;
}

int ZTMUTEX::Lock() {
    if (shared_ == nullptr) return 0;
    // A wait that runs out is not reported: the caller goes on as if it held
    // the mutex, as every user of this class expects.
    (void)Wait(kLockWaitMs);
    return 1;
}

bool ZTMUTEX::TryLock(uint32_t waitMs) {
    if (shared_ == nullptr) return false;
    return Wait(waitMs);
}

int ZTMUTEX::Unlock() {
    if (shared_ == nullptr) return 0;
    return pthread_mutex_unlock(&shared_->mutex) == 0 ? 1 : 0;
}

bool ZTMUTEX::Wait(uint32_t waitMs) {
    pthread_mutex_t* mutex = &shared_->mutex;
    // Uncontended, the lock is taken without reading the clock.
    int rc = pthread_mutex_trylock(mutex);
    if (rc == EBUSY && waitMs != 0) {
        // The monotonic clock: a change of the wall clock neither cuts the
        // wait short nor stretches it.
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(waitMs / 1000);
        deadline.tv_nsec += static_cast<long>(waitMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        do {
            rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
        } while (rc == EINTR);
    }
    if (rc == EOWNERDEAD) {
        // The holder died: like an abandoned mutex, we now own it and carry on.
        pthread_mutex_consistent(mutex);
        return true;
    }
    // ETIMEDOUT or EBUSY: not ours. ENOTRECOVERABLE cannot arise, since every
    // owner that inherits a dead holder's mutex marks it consistent.
    return rc == 0;
}

void ZTMUTEX::Close() {
    if (shared_ == nullptr) return;
    // Holds of the closing thread are released: the object goes away, and a
    // robust mutex that stays locked in unmapped memory would corrupt this
    // thread's list of robust mutexes. The object itself is never removed:
    // another process may be about to open it, and a new object of the same
    // name would be a different mutex.
    while (pthread_mutex_unlock(&shared_->mutex) == 0) {
    }
    munmap(shared_, sizeof(Shared));
    shared_ = nullptr;
}

}  // namespace velmora

// A named, system-wide mutex shared by every process of this user.
//
// A process-shared, robust, recursive pthread mutex living in a small POSIX
// shared-memory object named after the mutex (create-or-open). A holder that
// died is treated like an abandoned mutex: the next owner marks it consistent
// and carries on. Ownership is per thread, as with any mutex.
//
// Lock: this class is a lock between processes; its own members are written
// only by Create and destruction, which must not run alongside Lock, TryLock
// or Unlock on the same object (those may be called from any thread).
#pragma once

#include <pthread.h>

#include <cstdint>
#include <string>

namespace velmora {

class ZTMUTEX {
public:
    static constexpr uint32_t kLockWaitMs = 60000;

    ZTMUTEX() = default;
    // Releases the mutex if the destroying thread holds it (however many
    // times); the named object stays for other processes.
    ~ZTMUTEX();
    ZTMUTEX(const ZTMUTEX&) = delete;
    ZTMUTEX& operator=(const ZTMUTEX&) = delete;

    // Creates the named mutex, or opens it when it exists; not owned.
    // False when the name is refused or the object cannot be made
    // (LastError() says why).
    bool Create(const char* name);

    // Without a mutex: 0. Otherwise waits at most 60000 ms and answers 1
    // whether or not the wait succeeded.
    int Lock();
    // Without a mutex: false. Otherwise waits at most waitMs and answers true
    // unless the wait timed out.
    bool TryLock(uint32_t waitMs);
    // Without a mutex: 0. Otherwise releases it: 1, or 0 when this thread did
    // not hold it.
    int Unlock();

    bool IsCreated() const { return shared_ != nullptr; }
    const std::string& Name() const { return name_; }
    const std::string& LastError() const { return error_; }  // why Create failed

private:
    struct Shared;
    bool Wait(uint32_t waitMs);
    void Close();

    Shared* shared_ = nullptr;
    std::string name_;
    std::string error_;
};

}  // namespace velmora

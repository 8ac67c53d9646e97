// One server per user: an exclusive lock on "ZTRDSSERVICE.lock" in the
// runtime directory, held for the program's life. The kernel drops it when
// the process ends in any way, so a crashed server never blocks the next one.
// The runtime directory is per user (and $ZTVL_ROOT gives a test its own),
// and it is also where the screen source's files live, so the lock guards
// exactly what two servers would fight over.
#pragma once

#include <string>

namespace velmora {

class InstanceLock {
  public:
    static constexpr int kAcquired = 1;
    static constexpr int kHeld = 0;       // another server of this user runs
    static constexpr int kUnusable = -1;  // the runtime directory or file failed

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // kAcquired, kHeld, or kUnusable with a sentence in `error`.
    [[nodiscard]] int Acquire(std::string* error);
    const std::string& Path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace velmora

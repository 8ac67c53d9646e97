#include "server/app/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime_dir.h"

namespace velmora {

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
}

int InstanceLock::Acquire(std::string* error) {
    if (fd_ >= 0) return kAcquired;
    path_ = RuntimePath("ZTRDSSERVICE.lock", error);
    if (path_.empty()) return kUnusable;
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = path_ + ": " + std::strerror(errno);
        return kUnusable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        close(fd);
        if (why == EWOULDBLOCK) return kHeld;
        *error = path_ + ": cannot lock: " + std::strerror(why);
        return kUnusable;
    }
    fd_ = fd;
    return kAcquired;
}

}  // namespace velmora

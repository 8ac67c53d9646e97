#include "clientif/brokerlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "clientif/brokernames.h"
#include "platform/runtime_dir.h"
#include "platform/shared_name.h"
#include "platform/tick.h"
#include "platform/ztmutex.h"

namespace velmora {
namespace {

constexpr uint32_t kRetryStepMs = 5;

int OpenLockFile(const std::string& path, bool create) {
    int fd;
    do {
        fd = create ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)
                    : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Takes an exclusive lock, retrying while someone (a probe) holds it, for at
// most waitMs. True when taken.
bool LockExclusive(int fd, uint32_t waitMs) {
    const uint32_t begin = Tick();
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (TickSince(begin) >= waitMs) return false;
        SleepMs(kRetryStepMs);
    }
}

void Unlink(const std::string& name) {
    const std::string object = SharedObjectName(name);
    if (!object.empty()) shm_unlink(object.c_str());
}

}  // namespace

int32_t BrokerLock::Acquire(const char* brokerName, uint32_t waitMs) {
    Release();
    error_.clear();
    std::string why;
    const std::string name = brokerName != nullptr ? brokerName : "";
    if (!CheckBrokerName(name, &why)) {
        error_ = why;
        return kBadName;
    }
    const std::string path = LockPath(name, &why);
    if (path.empty()) {
        error_ = "no lock file for broker \"" + name + "\": " + why;
        return kNoLockFile;
    }
    const int fd = OpenLockFile(path, true);
    if (fd < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return kNoLockFile;
    }
    if (!LockExclusive(fd, waitMs)) {
        error_ = "another broker named \"" + name + "\" is running (it holds " + path + ")";
        close(fd);
        return kHeldByAnother;
    }
    lockFd_ = fd;
    // Applications claim slots under the instance-list lock. Holding it from
    // before the list exists until every slot is free keeps an application
    // that finds the list at once from reading the zeros of a list not yet
    // made (state 0 is nsError: every slot would look taken).
    ZTMUTEX claimLock;
    if (!claimLock.Create(InstanceListLockName(name).c_str())) {
        error_ = claimLock.LastError();
        Release();
        return kListFailed;
    }
    claimLock.Lock();
    // A broker of this name that died left its objects behind.
    RemoveSharedObjects(name);
    list_ = std::make_unique<ZTSHARED_MEMORY>(name.c_str(), kInstanceListSize, true);
    if (list_->View() == nullptr || !list_->Created()) {
        error_ = "cannot create the instance list: " +
                 (list_->View() == nullptr ? list_->LastError()
                                           : std::string("it appeared while it was being made"));
        Release();
        return kListFailed;
    }
    for (int32_t i = 0; i < kInstanceSlots; ++i) ResetSlot(Slot(i));
    claimLock.Unlock();
    return kAcquired;
}

void BrokerLock::Release() {
    list_.reset();
    if (lockFd_ >= 0) {
        close(lockFd_);
        lockFd_ = -1;
    }
}

bool BrokerLock::IsBrokerAlive(const std::string& lockPath) {
    if (lockPath.empty()) return true;  // no runtime directory: cannot tell
    const int fd = OpenLockFile(lockPath, false);
    if (fd < 0) return errno != ENOENT;
    int rc;
    do {
        rc = flock(fd, LOCK_SH | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    const bool alive = rc != 0;  // EWOULDBLOCK: held; any other error: cannot tell
    close(fd);                   // also lets our shared lock go
    return alive;
}

std::string BrokerLock::LockPath(std::string_view brokerName, std::string* why) {
    return RuntimePath(BrokerLockFileName(brokerName), why);
}

bool BrokerLock::RemoveIfStale(std::string_view brokerName, uint32_t waitMs) {
    const std::string path = LockPath(brokerName);
    if (path.empty()) return false;
    const int fd = OpenLockFile(path, true);
    if (fd < 0) return false;
    const bool stale = LockExclusive(fd, waitMs);
    if (stale) RemoveSharedObjects(brokerName);
    close(fd);
    return stale;
}

void BrokerLock::RemoveSharedObjects(std::string_view brokerName) {
    Unlink(std::string(brokerName));
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        Unlink(ReceiveQueueName(brokerName, i));
        Unlink(SendQueueName(brokerName, i));
    }
}

}  // namespace velmora

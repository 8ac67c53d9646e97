#include "clientif/instancelist.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "clientif/brokerlock.h"
#include "platform/shared_name.h"
#include "platform/shared_object.h"

namespace velmora {
namespace {

// A broker sizes its list right after creating it; an opener that comes in
// between waits this long before calling it empty.
constexpr uint32_t kSizeWaitMs = 200;

}  // namespace

InstanceList::InstanceList(const std::string& brokerName, const std::string& lockPath)
    : lockPath_(lockPath) {
    std::string why;
    objectName_ = SharedObjectName(brokerName, &why);
    if (objectName_.empty()) {
        error_ = "instance list \"" + brokerName + "\" refused: " + why;
        return;
    }
    const int fd = OpenSharedObject(objectName_, &why);
    if (fd < 0) {
        error_ = "instance list: " + why;
        return;
    }
    struct stat st {};
    const off_t size = SharedObjectSize(fd, kSizeWaitMs);
    if (fstat(fd, &st) != 0 || size < static_cast<off_t>(kInstanceListSize)) {
        error_ = "instance list " + objectName_ + " holds " + std::to_string(size) +
                 " bytes, not a list of " + std::to_string(kInstanceSlots) + " slots";
        close(fd);
        return;
    }
    void* view = mmap(nullptr, kInstanceListSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapError = errno;
    close(fd);
    if (view == MAP_FAILED) {
        error_ = "cannot map instance list " + objectName_ + ": " + std::strerror(mapError);
        return;
    }
    view_ = static_cast<uint8_t*>(view);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    if (!lockPath_.empty() && !BrokerLock::IsBrokerAlive(lockPath_)) {
        error_ = "the broker of instance list " + objectName_ + " is no longer running";
        munmap(view_, kInstanceListSize);
        view_ = nullptr;
    }
}

InstanceList::~InstanceList() {
    if (view_ != nullptr) munmap(view_, kInstanceListSize);
}

bool InstanceList::IsCurrent() const {
    if (view_ == nullptr) return false;
    const int fd = OpenSharedObject(objectName_, nullptr);
    if (fd < 0) return false;
    struct stat st {};
    const bool same = fstat(fd, &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
    close(fd);
    return same && (lockPath_.empty() || BrokerLock::IsBrokerAlive(lockPath_));
}

int32_t InstanceList::CountInState(int32_t state) const {
    if (view_ == nullptr) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        if (SlotState(Slot(i)) == state) ++count;
    }
    return count;
}

}  // namespace velmora

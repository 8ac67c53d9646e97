#include "platform/ztshared_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/shared_name.h"
#include "platform/shared_object.h"

namespace velmora {
namespace {

// A creator sizes its object right after creating it; an opener that comes
// in between waits this long for the size before calling the object empty.
constexpr uint32_t kSizeWaitMs = 200;

}  // namespace

ZTSHARED_MEMORY::ZTSHARED_MEMORY(const char* name, size_t size, bool create) {
    name_ = name != nullptr ? name : "";
    const std::string label = "shared memory \"" + name_ + "\"";
    std::string why;
    if (name != nullptr) objectName_ = SharedObjectName(name, &why);
    if (objectName_.empty()) {
        error_ = label + " refused: " + (name ? why : "no name given");
        return;
    }
    if (create && size == 0) {
        error_ = label + ": a size is needed to create it";
        return;
    }
    if (size > static_cast<size_t>(INT64_MAX)) {
        error_ = label + ": " + std::to_string(size) + " bytes is too large";
        return;
    }

    int fd = -EEXIST;
    if (create) {
        fd = CreateSharedObject(objectName_, &why);
        if (fd >= 0) {
            if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
                error_ = label + ": cannot give it " + std::to_string(size) +
                         " bytes: " + std::strerror(errno);
                close(fd);
                shm_unlink(objectName_.c_str());
                return;
            }
            created_ = true;
        }
    }
    // Without the create flag, or when the object exists already: it is
    // opened and used unchanged.
    if (fd == -EEXIST) fd = OpenSharedObject(objectName_, &why);
    if (fd < 0) {
        error_ = label + ": " + why;
        return;
    }

    const off_t real = created_ ? static_cast<off_t>(size) : SharedObjectSize(fd, kSizeWaitMs);
    const size_t want = size == 0 ? static_cast<size_t>(real > 0 ? real : 0) : size;
    if (real <= 0) {
        error_ = label + " is empty";
    } else if (want > static_cast<size_t>(real)) {
        // Pages past the object's end would fault (SIGBUS) on first touch.
        error_ = label + " holds " + std::to_string(real) + " bytes; " + std::to_string(want) +
                 " were asked for";
    } else {
        void* view = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            view_ = static_cast<uint8_t*>(view);
            size_ = want;
        } else {
            error_ = label + ": cannot map it: " + std::strerror(errno);
        }
    }
    close(fd);
    if (view_ == nullptr && created_) {
        shm_unlink(objectName_.c_str());
        created_ = false;
    }
}

ZTSHARED_MEMORY::~ZTSHARED_MEMORY() {
    if (view_ != nullptr) munmap(view_, size_);
    if (created_) shm_unlink(objectName_.c_str());
}

}  // namespace velmora

#include "platform/shared_object.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tick.h"

namespace velmora {
namespace {

int Fail(int error, const std::string& what, std::string* why) {
    if (why) *why = what + ": " + std::strerror(error);
    return -error;
}

}  // namespace

int CreateSharedObject(const std::string& objectName, std::string* why) {
    const int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(errno, "cannot create " + objectName, why);
    // The umask may have taken bits away; the mode is exactly 0600.
    if (fchmod(fd, 0600) != 0) {
        const int error = errno;
        close(fd);
        shm_unlink(objectName.c_str());
        return Fail(error, "cannot set the mode of " + objectName, why);
    }
    return fd;
}

int OpenSharedObject(const std::string& objectName, std::string* why) {
    const int fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        return Fail(error,
                    error == ENOENT ? objectName + " does not exist" : "cannot open " + objectName,
                    why);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return Fail(error, "cannot examine " + objectName, why);
    }
    if (st.st_uid != geteuid() || (st.st_mode & 0077) != 0) {
        close(fd);
        if (why) {
            *why = objectName + " is refused: it belongs to another user or others may open it";
        }
        return -EACCES;
    }
    return fd;
}

off_t SharedObjectSize(int fd, uint32_t waitMs) {
    const uint32_t begin = Tick();
    for (;;) {
        struct stat st {};
        if (fstat(fd, &st) != 0) return -1;
        if (st.st_size != 0 || TickSince(begin) >= waitMs) return st.st_size;
        SleepMs(1);
    }
}

}  // namespace velmora

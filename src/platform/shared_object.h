// The POSIX shared-memory objects behind named mutexes and shared memory:
// creating and opening them with the checks both need.
//
// /dev/shm is shared by every user, so anyone may create an object under a
// name we are going to use. An object we open must therefore be ours and
// closed to others (mode 0600); one that is not is refused, never used.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace velmora {

// Creates `objectName` exclusively with mode 0600 whatever the umask. Answers
// the descriptor, or -errno (-EEXIST when the object exists); `why` says why.
int CreateSharedObject(const std::string& objectName, std::string* why);

// Opens an existing object for reading and writing. Answers the descriptor,
// or -errno (-ENOENT when it does not exist, -EACCES when it belongs to
// another user or others may open it); `why` says why.
int OpenSharedObject(const std::string& objectName, std::string* why);

// The size of an opened object. A creator sizes its object right after
// creating it, so a size of 0 is waited out for at most waitMs. -1 on failure.
off_t SharedObjectSize(int fd, uint32_t waitMs);

}  // namespace velmora

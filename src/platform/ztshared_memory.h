// Named shared memory of this user (POSIX shm_open + mmap, mode 0600).
//
// Built with a name, a size and a create flag. With the create flag it
// creates the object of that size (an object of that name that already
// exists is used unchanged); without it, it opens an existing object for
// reading and writing. A view of `size` bytes (0 = the whole object) is then
// mapped. A null View() is how every caller learns the object does not exist;
// it is also null when the object holds fewer than `size` bytes (a view past
// its end would fault on first touch) or is refused because another user owns
// it or others may open it. LastError() says which.
// The creator unlinks the name when it is destroyed, so later opens fail;
// processes that still have it mapped keep their view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class ZTSHARED_MEMORY {
public:
    ZTSHARED_MEMORY(const char* name, size_t size, bool create);
    ~ZTSHARED_MEMORY();
    ZTSHARED_MEMORY(const ZTSHARED_MEMORY&) = delete;
    ZTSHARED_MEMORY& operator=(const ZTSHARED_MEMORY&) = delete;

    uint8_t* View() const { return view_; }
    size_t Size() const { return size_; }
    const std::string& Name() const { return name_; }
    bool Created() const { return created_; }  // this object made (and will unlink) it
    const std::string& LastError() const { return error_; }

private:
    uint8_t* view_ = nullptr;
    size_t size_ = 0;
    std::string name_;
    std::string objectName_;
    bool created_ = false;
    std::string error_;
};

}  // namespace velmora

#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velmora {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// mkdir -p with mode 0700 for every directory it makes.
bool MakeDirs(const std::string& dir, std::string* why) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) == 0) {
            // The umask may have taken the owner's bits away.
            chmod(part.c_str(), 0700);
        } else if (errno != EEXIST) {
            if (why) *why = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

std::string RuntimeDir(std::string* why) {
    std::string dir = Env("ZTVL_ROOT");
    if (dir.empty()) {
        const std::string xdg = Env("XDG_RUNTIME_DIR");
        dir = !xdg.empty() ? xdg + "/velmora" : "/tmp/velmora-" + std::to_string(geteuid());
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!MakeDirs(dir, why)) return {};

    // The shared screen file and the broker's lock live here: a directory
    // that another user owns or may write to (one planted in /tmp, say) would
    // let that user replace them.
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        if (why) *why = "cannot examine " + dir + ": " + std::strerror(errno);
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        if (why) *why = dir + " is not a directory";
        return {};
    }
    if (st.st_uid != geteuid() || (st.st_mode & 0022) != 0) {
        if (why) *why = dir + " is refused: it belongs to another user or others may write to it";
        return {};
    }
    return dir;
}

std::string RuntimePath(const std::string& fileName, std::string* why) {
    if (fileName.empty() || fileName.find('/') != std::string::npos || fileName == "." ||
        fileName == "..") {
        if (why) *why = "\"" + fileName + "\" is not a plain file name";
        return {};
    }
    const std::string dir = RuntimeDir(why);
    return dir.empty() ? std::string() : dir + "/" + fileName;
}

}  // namespace velmora

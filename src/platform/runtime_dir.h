// The runtime directory: where the shared screen and pointer files, the
// broker's lock file and its critical log live.
//   $ZTVL_ROOT if set, else $XDG_RUNTIME_DIR/velmora, else /tmp/velmora-<uid>;
// created with mode 0700 when missing.
#pragma once

#include <string>

namespace velmora {

// The directory, created if needed; empty when it cannot be created
// (`why`, when given, receives the reason).
std::string RuntimeDir(std::string* why = nullptr);

// RuntimeDir() + "/" + fileName, or empty when the directory is unusable.
std::string RuntimePath(const std::string& fileName, std::string* why = nullptr);

}  // namespace velmora

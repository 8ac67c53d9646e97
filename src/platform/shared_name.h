// Names of the system's shared objects (named mutexes, shared memory) on Linux.
//
// Every name lives in one per-user namespace: "/zt<uid>.<name>", so two users
// never see each other's objects. Printable ASCII characters outside
// [A-Za-z0-9_.-] are replaced by '_'; an empty name, a name longer than
// kMaxSharedName characters, or one holding control or non-ASCII bytes is
// refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr size_t kMaxSharedName = 100;

// The POSIX shared-memory object name of `name`, or an empty string when the
// name is refused (`why`, when given, receives a sentence saying why).
std::string SharedObjectName(std::string_view name, std::string* why = nullptr);

// The object that backs the named mutex `name` (kept apart from a shared
// memory of the same name).
std::string SharedMutexObjectName(std::string_view name, std::string* why = nullptr);

}  // namespace velmora

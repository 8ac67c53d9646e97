#include "platform/shared_name.h"

#include <unistd.h>

namespace velmora {
namespace {

bool IsKept(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

// "/zt<uid><kind>" followed by the checked and cleaned name. The kind starts
// with a character that a cleaned name never holds right after the uid, so the
// mutex and memory namespaces cannot collide.
std::string BuildName(std::string_view name, const char* kind, std::string* why) {
    if (name.empty()) {
        if (why) *why = "the name is empty";
        return {};
    }
    if (name.size() > kMaxSharedName) {
        if (why) {
            *why = "the name has " + std::to_string(name.size()) + " characters; at most " +
                   std::to_string(kMaxSharedName) + " are allowed";
        }
        return {};
    }
    std::string cleaned;
    cleaned.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte >= 0x7F) {
            if (why) {
                *why = "the name holds a control or non-ASCII character at position " +
                       std::to_string(i + 1);
            }
            return {};
        }
        cleaned.push_back(IsKept(name[i]) ? name[i] : '_');
    }
    return "/zt" + std::to_string(geteuid()) + kind + cleaned;
}

}  // namespace

std::string SharedObjectName(std::string_view name, std::string* why) {
    return BuildName(name, ".", why);
}

std::string SharedMutexObjectName(std::string_view name, std::string* why) {
    return BuildName(name, "-mutex.", why);
}

}  // namespace velmora

// GUIDs: 16 random bytes in the version-4 layout, and their text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hex; the first three
// groups read as little-endian integers, as the classic GUID structure does).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmora {

struct Guid {
    std::array<uint8_t, 16> bytes{};
    bool operator==(const Guid&) const = default;
};

Guid NewGuid();
std::string GuidText(const Guid& guid);

}  // namespace velmora

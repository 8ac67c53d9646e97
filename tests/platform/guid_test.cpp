#include "platform/guid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace velmora {
namespace {

// "{XXXXXXXX-XXXX-4XXX-vXXX-XXXXXXXXXXXX}", upper-case hex, v one of 8 9 A B.
bool HasVersionFourTextForm(const std::string& text) {
    const std::string shape = "{xxxxxxxx-xxxx-4xxx-vxxx-xxxxxxxxxxxx}";
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const char c = text[i];
        const bool hex = std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(c);
        const bool ok = shape[i] == 'x'   ? hex
                        : shape[i] == 'v' ? (c == '8' || c == '9' || c == 'A' || c == 'B')
                                          : c == shape[i];
        if (!ok) return false;
    }
    return true;
}

TEST(Guid, TextReadsTheFirstThreeGroupsLittleEndian) {
    Guid guid;
    guid.bytes = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                  0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(GuidText(guid), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
    EXPECT_EQ(GuidText(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, NewGuidsAreDistinctVersionFourWithTheStandardVariant) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const Guid guid = NewGuid();
        EXPECT_EQ(guid.bytes[7] >> 4, 4);
        EXPECT_EQ(guid.bytes[8] & 0xC0, 0x80);
        const std::string text = GuidText(guid);
        EXPECT_TRUE(HasVersionFourTextForm(text)) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace velmora

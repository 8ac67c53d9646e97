#include "viewer/viewerscript.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace velmora {
namespace {

using Keys = std::vector<std::pair<int, int>>;  // code, flags

Keys Flat(const std::vector<KEY_EVENT>& events) {
    Keys out;
    for (const KEY_EVENT& e : events) out.emplace_back(e.virtualKey, int{e.flags});
    return out;
}

TEST(ViewerScript, TypesTextOnAUsLayout) {
    std::vector<KEY_EVENT> keys;
    std::string error;
    ASSERT_TRUE(ViewerScript::TextKeys("aZ1!;\"", &keys, &error)) << error;
    const int up = kfKeyUp;
    EXPECT_EQ(Flat(keys), (Keys{{0x41, 0},
                                {0x41, up},  // a
                                {0x10, 0},
                                {0x5A, 0},
                                {0x5A, up},
                                {0x10, up},  // Z
                                {0x31, 0},
                                {0x31, up},  // 1
                                {0x10, 0},
                                {0x31, 0},
                                {0x31, up},
                                {0x10, up},  // !
                                {0xBA, 0},
                                {0xBA, up},  // ;
                                {0x10, 0},
                                {0xDE, 0},
                                {0xDE, up},
                                {0x10, up}}));  // "
    EXPECT_FALSE(ViewerScript::TextKeys("é", &keys, &error));
    EXPECT_FALSE(ViewerScript::TextKeys("\t", &keys, &error));
}

TEST(ViewerScript, NamedKeysPressModifiersAroundTheKey) {
    std::vector<KEY_EVENT> keys;
    std::string error;
    ASSERT_TRUE(ViewerScript::NamedKeys("ctrl+alt+delete", &keys, &error)) << error;
    const int up = kfKeyUp, ext = kfExtended;
    // The first three codes make the server's secure-attention request.
    EXPECT_EQ(Flat(keys),
              (Keys{{0x11, 0}, {0x12, 0}, {0x2E, ext}, {0x2E, ext | up}, {0x12, up}, {0x11, up}}));
    keys.clear();
    ASSERT_TRUE(ViewerScript::NamedKeys("F5", &keys, &error));
    ASSERT_TRUE(ViewerScript::NamedKeys("0x41", &keys, &error));
    EXPECT_EQ(Flat(keys), (Keys{{0x74, 0}, {0x74, up}, {0x41, 0}, {0x41, up}}));
    for (const char* bad : {"", "hyper", "f25", "0x100", "ctrl+", "+a", "shift+!"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ViewerScript::NamedKeys(bad, &keys, &error));
    }
}

TEST(ViewerScript, ParsesCommandsAndRefusesMalformedOnes) {
    using Kind = ScriptCommand::Kind;
    ScriptCommand c;
    std::string error;
    ASSERT_EQ(ViewerScript::ParseLine("  click 10 20 right  # a comment", &c, &error), 1);
    EXPECT_EQ(c.kind, Kind::kMouse);
    EXPECT_EQ(c.actions, (std::vector<int32_t>{maRightDown, maRightUp}));
    EXPECT_EQ(c.x, 10);
    ASSERT_EQ(ViewerScript::ParseLine("wheel 1 2 -240", &c, &error), 1);
    EXPECT_EQ(c.wheel, -240);
    ASSERT_EQ(ViewerScript::ParseLine("type a #b", &c, &error), 1);
    EXPECT_EQ(c.keys.size(), 2u + 2u + 4u + 2u);  // a, space, #, b
    ASSERT_EQ(ViewerScript::ParseLine("settle 300 5000", &c, &error), 1);
    EXPECT_EQ(c.ms, 300u);
    EXPECT_EQ(c.limitMs, 5000u);
    ASSERT_EQ(ViewerScript::ParseLine("control on", &c, &error), 1);
    EXPECT_TRUE(c.on);
    EXPECT_EQ(ViewerScript::ParseLine("   # only a comment", &c, &error), 0);
    EXPECT_EQ(ViewerScript::ParseLine("", &c, &error), 0);
    for (const char* bad :
         {"control maybe", "move 1", "move 1 2 3", "click 1 2 thumb", "sleep", "sleep x",
          "sleep 10 20", "settle 10 0", "snapshot", "jump 1 2", "key"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ViewerScript::ParseLine(bad, &c, &error), -1);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace velmora

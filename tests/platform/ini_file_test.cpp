#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace velmora {
namespace {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/inifile.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/ZTVLSRV.INI";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string FileText() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir_, path_;
};

const char kSample[] =
    "; written by hand\n"
    "[Basic]\n"
    "  network = ADSL  \n"
    "\n"
    "[SOCKET]\n"
    "PORT=08888\n"
    "[LAN]\n"
    "FRAME CHECK TIME=55zz\n"
    "FRAME SERVICE DELAY=\n"
    "MAX SEND BLOCK=abc\n"
    "just a note\n"
    "[COLOR CONVERT]\n"
    "COLOR=-8\n"
    "[quoted]\n"
    "a=\"  spaced  \"\n"
    "b=0x1F\n"
    "[socket]\n"
    "PORT=1\n";

TEST_F(IniFileTest, ReadsLikeTheProfileFunctions) {
    WriteFile(kSample);
    IniFile ini(path_);
    ASSERT_EQ(ini.Load(), iniOk);
    EXPECT_EQ(ini.ReadString("BASIC", "NETWORK", "LAN"), "ADSL");
    EXPECT_EQ(ini.ReadString("quoted", "A", ""), "  spaced  ");
    EXPECT_EQ(ini.ReadString("basic", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("no such section", "NETWORK", "dflt"), "dflt");
    const struct {
        const char* section;
        const char* key;
        int32_t expected;
    } integers[] = {
        {"socket", "port", 8888},             // the first [SOCKET] wins
        {"LAN", "frame check time", 55},      // leading digits only
        {"LAN", "FRAME SERVICE DELAY", -77},  // empty value: the default
        {"LAN", "MAX SEND BLOCK", 0},         // no digits
        {"color convert", "COLOR", -8},       // signed
        {"QUOTED", "b", 31},                  // hexadecimal
        {"LAN", "JUST A NOTE", -77},          // a line without '=' is no key
        {"LAN", "COLOR", -77},                // keys belong to their section
    };
    for (const auto& c : integers) {
        EXPECT_EQ(ini.ReadInteger(c.section, c.key, -77), c.expected) << c.section << "/" << c.key;
    }
    EXPECT_TRUE(ini.ReadBool("color convert", "color", false));
    EXPECT_FALSE(ini.ReadBool("LAN", "MAX SEND BLOCK", true));
}

TEST_F(IniFileTest, IntegersParseLikeTheProfileIntegerReader) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"55zz", 55},  {"-12", -12},       {"+7", 7},         {" 42 ", 42}, {"0x10", 16},
        {"0XfF", 255}, {"-0x10", -16},     {"abc", 0},        {"-", 0},     {"0x", 0},
        {"", 99},      {"4294967295", -1}, {"4294967297", 1}, {"1.5", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniFile::ParseProfileInteger(c.text, 99), c.expected) << '"' << c.text << '"';
    }
}

TEST_F(IniFileTest, WritesUpdateInPlaceAndKeepEveryOtherLine) {
    WriteFile(kSample);
    IniFile ini(path_);
    ASSERT_EQ(ini.Load(), iniOk);
    ASSERT_EQ(ini.WriteString("BASIC", "NETWORK", "56K"), iniOk);
    ASSERT_EQ(ini.WriteInteger("lan", "FRAME SERVICE DELAY", 100), iniOk);
    ASSERT_EQ(ini.WriteInteger("LAN", "NEW KEY", 5), iniOk);
    ASSERT_EQ(ini.WriteBool("POINTER", "POINTER IMAGE PRIORITY PROCESS", true), iniOk);
    EXPECT_EQ(FileText(),
              "; written by hand\n"
              "[Basic]\n"
              "network=56K\n"
              "\n"
              "[SOCKET]\n"
              "PORT=08888\n"
              "[LAN]\n"
              "FRAME CHECK TIME=55zz\n"
              "FRAME SERVICE DELAY=100\n"
              "MAX SEND BLOCK=abc\n"
              "NEW KEY=5\n"
              "just a note\n"
              "[COLOR CONVERT]\n"
              "COLOR=-8\n"
              "[quoted]\n"
              "a=\"  spaced  \"\n"
              "b=0x1F\n"
              "[socket]\n"
              "PORT=1\n"
              "\n"
              "[POINTER]\n"
              "POINTER IMAGE PRIORITY PROCESS=1\n");
}

TEST_F(IniFileTest, NewFileGetsSectionsAndKeysWithSpacesThatReadBackExactly) {
    IniFile ini(path_);
    ASSERT_EQ(ini.Load(), iniNoFile);
    EXPECT_EQ(ini.ReadInteger("COLOR CONVERT", "COLOR", 16), 16);
    ASSERT_EQ(ini.WriteInteger("COLOR CONVERT", "COLOR", 8), iniOk);
    ASSERT_EQ(ini.WriteInteger("LAN", "FRAME CHECK TIME", 20), iniOk);
    ASSERT_EQ(ini.WriteString("BASIC", "NETWORK", "144K"), iniOk);
    EXPECT_EQ(FileText(),
              "[COLOR CONVERT]\nCOLOR=8\n\n[LAN]\nFRAME CHECK TIME=20\n\n[BASIC]\nNETWORK=144K\n");
    IniFile again(path_);
    ASSERT_EQ(again.Load(), iniOk);
    EXPECT_EQ(again.ReadInteger("COLOR CONVERT", "COLOR", 16), 8);
    EXPECT_EQ(again.ReadInteger("LAN", "FRAME CHECK TIME", 50), 20);
    EXPECT_EQ(again.ReadString("BASIC", "NETWORK", "LAN"), "144K");
}

TEST_F(IniFileTest, KeepsCrLfLineEndsAndFileMode) {
    WriteFile("[A]\r\nK=1\r\n");
    chmod(path_.c_str(), 0600);
    IniFile ini(path_);
    ASSERT_EQ(ini.Load(), iniOk);
    ASSERT_EQ(ini.WriteInteger("A", "K", 2), iniOk);
    ASSERT_EQ(ini.WriteString("A", "L", "x\ny"), iniOk);  // a value ends at a line break
    EXPECT_EQ(FileText(), "[A]\r\nK=2\r\nL=x\r\n");
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileTest, ReportsAFileThatCannotBeWritten) {
    IniFile ini(dir_ + "/missing-directory/ZTVLSRV.INI");
    ASSERT_EQ(ini.Load(), iniNoFile);
    EXPECT_EQ(ini.WriteInteger("SOCKET", "PORT", 9000), iniWriteFailed);
    EXPECT_EQ(ini.ReadInteger("SOCKET", "PORT", 8888), 9000);  // held until the next Load
}

}  // namespace
}  // namespace velmora

#include "server/app/settingsmodel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/ini_file.h"

namespace velmora {
namespace {

using C = SettingsControl;

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/settings.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/" + kConfigFileName;
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
    IniFile Loaded() const {
        IniFile ini(path_);
        EXPECT_GE(ini.Load(), iniNoFile);
        return ini;
    }

    std::string dir_, path_;
};

TEST_F(Settings, NoFileGivesTheDesignedDefaults) {
    const IniFile ini = Loaded();
    SettingsModel model;
    const VelmoraConfig c = model.Load(ini);
    EXPECT_EQ(c.network, "LAN");
    EXPECT_EQ(c.port, 8888);
    for (int type = 0; type < kNetworkTypes; ++type) EXPECT_EQ(c.Preset(type), kAbsentPreset);
    EXPECT_EQ(c.current, (NETWORK_PRESET{50, 10, 100}));
    EXPECT_EQ(c.controlType, 1);
    EXPECT_EQ(c.compressLevel, 6);
    EXPECT_EQ(c.colorBits, 16);
    EXPECT_EQ(c.maxUsers, 2);
    EXPECT_EQ(c.pointerFirst, 0);
    EXPECT_EQ(c.trace, 0);

    EXPECT_EQ(model.Value(C::CB_NETWORK), 0);
    EXPECT_EQ(model.Value(C::E_PORT), 8888);
    EXPECT_EQ(model.Value(C::E_DESKTOPCHGCHECKTIME), 50);
    EXPECT_EQ(model.Value(C::E_DESKTOPIMGSENDTIME), 10);
    EXPECT_EQ(model.Value(C::E_MAXSENDBLOCK), 100);
    EXPECT_EQ(model.Value(C::E_COMPRESS_LEVEL), 6);
    EXPECT_EQ(model.Value(C::E_MAXUSER), 2);
    EXPECT_TRUE(model.Checked(C::RB_16));
    EXPECT_FALSE(model.Checked(C::RB_24));
    EXPECT_TRUE(model.Checked(C::RB_AUTOSEND));
    EXPECT_FALSE(model.Enabled(C::BTN_APPLY));
    EXPECT_FALSE(model.Enabled(C::BTN_DEFAULT));
}

// Each type's section holds other values, so the preset put into effect
// shows which one was selected.
TEST_F(Settings, NetworkNameSelectsItsPresetAndAnUnknownNameTheLanOne) {
    const struct {
        const char* network;
        int selection;
    } cases[] = {
        {"LAN", 0},          {"ADSL", 1},   {"144kbps Modem", 2}, {"56K", 3},
        {"38kbps Modem", 4}, {"Cable", -1}, {"adsl", -1},         {"", -1},
    };
    for (const auto& c : cases) {
        WriteFile(std::string("[BASIC]\nNETWORK=") + c.network +
                  "\n[LAN]\nFRAME CHECK TIME=11\n[ADSL]\nFRAME CHECK TIME=22\n"
                  "[144K]\nFRAME CHECK TIME=33\n[56K]\nFRAME CHECK TIME=44\n"
                  "[38K]\nFRAME CHECK TIME=55\n");
        SettingsModel model;
        const VelmoraConfig config = model.Load(Loaded());
        EXPECT_EQ(model.Value(C::CB_NETWORK), c.selection) << c.network;
        const int effective = c.selection < 0 ? 0 : c.selection;
        EXPECT_EQ(config.current.frameCheckTime, 11 * (effective + 1)) << c.network;
        EXPECT_EQ(model.Value(C::E_DESKTOPCHGCHECKTIME), 11 * (effective + 1)) << c.network;
    }
}

TEST_F(Settings, ValuesBeyondTheBoundsAreShownClampedButKeptAsRead) {
    WriteFile(
        "[SOCKET]\nPORT=50\n[LAN]\nFRAME CHECK TIME=2000\nMAX SEND BLOCK=3\n"
        "[COMPRESS]\nDATA COMPRESS LEVEL=9\n[USER]\nCONNECTIONS=0\n[CONTROL]\nCONTROL TYPE=257\n");
    SettingsModel model;
    const VelmoraConfig c = model.Load(Loaded());
    EXPECT_EQ(c.port, 50);
    EXPECT_EQ(model.Value(C::E_PORT), 100);
    EXPECT_EQ(c.current.frameCheckTime, 2000);
    EXPECT_EQ(model.Value(C::E_DESKTOPCHGCHECKTIME), 1000);
    EXPECT_EQ(c.current.maxSendBlock, 3);
    EXPECT_EQ(model.Value(C::E_MAXSENDBLOCK), 10);
    EXPECT_EQ(c.compressLevel, 9);
    EXPECT_EQ(model.Value(C::E_COMPRESS_LEVEL), 6);
    EXPECT_EQ(c.maxUsers, 0);
    EXPECT_EQ(model.Value(C::E_MAXUSER), 1);
    EXPECT_EQ(c.controlType, 1);  // kept as 8 bits: 257 is 1
}

TEST_F(Settings, UnknownControlTypeKeepsTheFormsButtonAndApplyStoresOne) {
    WriteFile("[CONTROL]\nCONTROL TYPE=7\n");
    SettingsModel model;
    LiveConfig live(model.Load(Loaded()));
    EXPECT_EQ(live.ControlType(), 7);
    EXPECT_TRUE(model.Checked(C::RB_AUTOSEND));
    EXPECT_FALSE(model.Checked(C::RB_NOSEND));
    IniFile ini = Loaded();
    EXPECT_EQ(model.Apply(live, ini).saveResult, iniOk);
    EXPECT_EQ(live.ControlType(), 1);
    EXPECT_EQ(Loaded().ReadInteger("CONTROL", "CONTROL TYPE", 0), 1);
}

TEST_F(Settings, ColourDepthWithoutPixelFormatReadsAsSixteen) {
    WriteFile("[COLOR CONVERT]\nCOLOR=12\n");
    SettingsModel model;
    EXPECT_EQ(model.Load(Loaded()).colorBits, 16);
    EXPECT_TRUE(model.Checked(C::RB_16));
}

TEST_F(Settings, DefaultFillsTheSelectedPresetWithoutWritingTheFile) {
    const std::string text = "[BASIC]\nNETWORK=56K\n[56K]\nFRAME CHECK TIME=70\n";
    WriteFile(text);
    SettingsModel model;
    LiveConfig live(model.Load(Loaded()));
    model.Default(live);
    EXPECT_EQ(model.Value(C::E_DESKTOPCHGCHECKTIME), 50);
    EXPECT_EQ(model.Value(C::E_DESKTOPIMGSENDTIME), 100);
    EXPECT_EQ(model.Value(C::E_MAXSENDBLOCK), 40);
    EXPECT_TRUE(model.Enabled(C::BTN_APPLY));
    EXPECT_EQ(live.Get().k56, (NETWORK_PRESET{50, 100, 40}));
    EXPECT_EQ(live.Current(), (NETWORK_PRESET{70, 10, 100}));  // in effect only after Apply
    EXPECT_EQ(FileText(), text);

    IniFile ini = Loaded();
    model.Apply(live, ini);
    EXPECT_EQ(live.Current(), (NETWORK_PRESET{50, 100, 40}));
}

TEST_F(Settings, ChangingTheNetworkShowsThatTypesStoredPresetAndEnablesApplyOnly) {
    WriteFile("[ADSL]\nFRAME CHECK TIME=30\nFRAME SERVICE DELAY=31\nMAX SEND BLOCK=32\n");
    SettingsModel model;
    LiveConfig live(model.Load(Loaded()));
    model.OnNetworkChanged(1, live);
    EXPECT_EQ(model.Value(C::CB_NETWORK), 1);
    EXPECT_EQ(model.Value(C::E_DESKTOPCHGCHECKTIME), 30);
    EXPECT_EQ(model.Value(C::E_DESKTOPIMGSENDTIME), 31);
    EXPECT_EQ(model.Value(C::E_MAXSENDBLOCK), 32);
    EXPECT_TRUE(model.Enabled(C::BTN_APPLY));
    EXPECT_FALSE(model.Enabled(C::BTN_DEFAULT));
}

// Every control into the record and the file, in the designed key order; a
// modem type read back after a restart is the type that was applied.
TEST_F(Settings, ApplyStoresEveryControlAndSaveWritesEachKeyInOrder) {
    SettingsModel model;
    LiveConfig live(model.Load(Loaded()));
    model.OnSpinChanged(C::E_PORT, 9000);
    model.OnNetworkChanged(2, live);
    model.OnSpinChanged(C::E_DESKTOPCHGCHECKTIME, 120);
    model.OnSpinChanged(C::E_DESKTOPIMGSENDTIME, 2);  // below its bound: 5
    model.OnSpinChanged(C::E_MAXSENDBLOCK, 60);
    model.OnSpinChanged(C::E_COMPRESS_LEVEL, 3);
    model.OnSpinChanged(C::E_MAXUSER, 5);
    model.OnControlTypeClicked(C::RB_NOSEND);
    model.OnColorClicked(C::RB_8);
    model.OnCheckClicked(C::CHK_TRACE, true);
    EXPECT_TRUE(model.State().portChanged);
    EXPECT_TRUE(model.Enabled(C::BTN_DEFAULT));

    IniFile ini = Loaded();
    const auto outcome = model.Apply(live, ini);
    EXPECT_TRUE(outcome.showRestartNotice);
    EXPECT_TRUE(outcome.colorChanged);
    EXPECT_EQ(outcome.colorBits, 8);
    EXPECT_EQ(outcome.saveResult, iniOk);
    EXPECT_FALSE(model.Enabled(C::BTN_APPLY));
    EXPECT_FALSE(model.State().portChanged);
    EXPECT_FALSE(model.State().colorChanged);
    EXPECT_EQ(live.Current(), (NETWORK_PRESET{120, 5, 60}));

    EXPECT_EQ(FileText(),
              "[BASIC]\nNETWORK=144K\n\n[SOCKET]\nPORT=9000\n\n"
              "[LAN]\nFRAME CHECK TIME=50\nFRAME SERVICE DELAY=10\nMAX SEND BLOCK=100\n\n"
              "[ADSL]\nFRAME CHECK TIME=50\nFRAME SERVICE DELAY=10\nMAX SEND BLOCK=100\n\n"
              "[144K]\nFRAME CHECK TIME=120\nFRAME SERVICE DELAY=5\nMAX SEND BLOCK=60\n\n"
              "[56K]\nFRAME CHECK TIME=50\nFRAME SERVICE DELAY=10\nMAX SEND BLOCK=100\n\n"
              "[38K]\nFRAME CHECK TIME=50\nFRAME SERVICE DELAY=10\nMAX SEND BLOCK=100\n\n"
              "[POINTER]\nPOINTER IMAGE PRIORITY PROCESS=0\n\n[CONTROL]\nCONTROL TYPE=3\n\n"
              "[COMPRESS]\nDATA COMPRESS LEVEL=3\n\n[TRACE]\nTRACE=1\n\n"
              "[COLOR CONVERT]\nCOLOR=8\n\n[USER]\nCONNECTIONS=5\n");

    SettingsModel restarted;
    const VelmoraConfig reread = restarted.Load(Loaded());
    EXPECT_EQ(restarted.Value(C::CB_NETWORK), 2);
    EXPECT_EQ(reread.current, (NETWORK_PRESET{120, 5, 60}));
    EXPECT_TRUE(restarted.Checked(C::RB_NOSEND));
    EXPECT_TRUE(restarted.Checked(C::RB_8));
    EXPECT_TRUE(restarted.Checked(C::CHK_TRACE));
}

TEST_F(Settings, ApplyReportsAFileThatCannotBeWritten) {
    SettingsModel model;
    IniFile ini(dir_ + "/missing-directory/" + kConfigFileName);
    ASSERT_EQ(ini.Load(), iniNoFile);
    LiveConfig live(model.Load(ini));
    model.OnSpinChanged(C::E_MAXUSER, 4);
    const auto outcome = model.Apply(live, ini);
    EXPECT_EQ(outcome.saveResult, iniWriteFailed);
    EXPECT_EQ(live.MaxUsers(), 4);  // in effect even though not stored
    EXPECT_FALSE(outcome.showRestartNotice);
}

TEST(SettingsControls, CarryTheFormsBoundsAndTexts) {
    const struct {
        C id;
        int min, max, form;
    } spins[] = {{C::E_PORT, 100, 65535, 8888},          {C::E_DESKTOPCHGCHECKTIME, 5, 1000, 50},
                 {C::E_DESKTOPIMGSENDTIME, 5, 1000, 10}, {C::E_MAXSENDBLOCK, 10, 250, 100},
                 {C::E_COMPRESS_LEVEL, 1, 6, 1},         {C::E_MAXUSER, 1, 10, 2}};
    for (const auto& s : spins) {
        EXPECT_EQ(Spec(s.id).minValue, s.min) << Spec(s.id).name;
        EXPECT_EQ(Spec(s.id).maxValue, s.max) << Spec(s.id).name;
        EXPECT_EQ(Spec(s.id).formValue, s.form) << Spec(s.id).name;
    }
    for (int i = 0; i < kSettingsControls; ++i) {
        EXPECT_EQ(static_cast<int>(SettingsControls()[static_cast<size_t>(i)].id), i);
    }
    EXPECT_STREQ(Spec(C::RB_NOSEND).text, "제어 권 주지 않음");
    EXPECT_TRUE(Spec(C::E_PORT).editable);
    EXPECT_FALSE(Spec(C::E_MAXUSER).editable);
}

}  // namespace
}  // namespace velmora

// The settings page without its widgets: what every control shows, its
// bounds, which buttons are enabled, the change flags, and the Load, Apply,
// Save and Default behaviour. The page binds each widget to a control here,
// calls the handler of a user's change, and after each call shows State().
// Programmatic updates of a widget must not call the handlers (in Qt, block
// the widget's signals while showing the model).
//
// Not thread-safe: used by the main thread only. The live record it changes
// is shared through LiveConfig's lock.
#pragma once

#include <array>
#include <cstdint>

#include "server/app/liveconfig.h"
#include "server/app/velmoraconfig.h"

namespace velmora {

class IniFile;

enum class SettingsControl : uint8_t {
    E_PORT,
    CB_NETWORK,
    E_DESKTOPCHGCHECKTIME,
    E_DESKTOPIMGSENDTIME,
    E_MAXSENDBLOCK,
    E_COMPRESS_LEVEL,
    CHK_POINTERFIRST,
    RB_AUTOSEND,
    RB_CHKSEND,
    RB_NOSEND,
    RB_24,
    RB_16,
    RB_8,
    E_MAXUSER,
    CHK_TRACE,
    BTN_DEFAULT,
    BTN_APPLY,
};
inline constexpr int kSettingsControls = 17;

enum class ControlKind : uint8_t { SpinEdit, DropDown, CheckBox, RadioButton, Button };

// A control as the form defines it. Texts are UTF-8; "&" marks a shortcut.
struct ControlSpec {
    SettingsControl id;
    const char* name;
    ControlKind kind;
    const char* text;  // caption, or the label beside a spin edit or list
    int minValue;      // spin edits: bounds and the form's value
    int maxValue;
    int formValue;
    bool editable;  // spin edits: the value may be typed
    bool enabled;   // in the form
    bool checked;   // radio buttons and check boxes: in the form
};

const std::array<ControlSpec, kSettingsControls>& SettingsControls();
const ControlSpec& Spec(SettingsControl control);

// Questions and notices of the page: each with the caption kConfirmCaption,
// the information icon, and Yes/No buttons for the questions.
inline constexpr char kConfirmCaption[] = "확인";
inline constexpr char kApplyQuestion[] = "변경된 내용을 적용하시겠습니까?";
inline constexpr char kRestartNotice[] = "프로그램을 종료 후 다시 시작하십시오.";
inline constexpr char kDefaultQuestion[] = "현재 이미지 정보 설정치를 기본값으로 바꾸시겠습니까?";

struct SettingsState {
    int port = 8888;   // the values spin edits show, always within their bounds
    int network = -1;  // CB_NETWORK's selection 0..4, -1 for none
    int frameCheckTime = 50;
    int frameServiceDelay = 10;
    int maxSendBlock = 100;
    int compressLevel = 1;
    int maxUsers = 2;
    bool pointerFirst = false;
    bool trace = false;
    SettingsControl controlButton = SettingsControl::RB_AUTOSEND;  // the checked one of three
    SettingsControl colorButton = SettingsControl::RB_24;          // the checked one of three
    bool applyEnabled = false;
    bool defaultEnabled = false;
    bool portChanged = false;  // until the next Apply
    bool colorChanged = false;
};

class SettingsModel {
  public:
    SettingsModel() = default;  // the form's state

    const SettingsState& State() const { return state_; }
    int Value(SettingsControl spin) const;
    bool Checked(SettingsControl control) const;
    bool Enabled(SettingsControl control) const;

    // Start-up: reads the file into the record (returned, values as read)
    // and shows it; values beyond a spin edit's bounds show as the nearest
    // bound. Disables Apply and Default.
    VelmoraConfig Load(const IniFile& ini);

    // Handlers of a user's change.
    void OnSpinChanged(SettingsControl spin, int value);
    void OnNetworkChanged(int index, const LiveConfig& live);
    void OnControlTypeClicked(SettingsControl radio);          // RB_AUTOSEND .. RB_NOSEND
    void OnColorClicked(SettingsControl radio);                // RB_24 .. RB_8
    void OnCheckClicked(SettingsControl check, bool checked);  // no other effect

    struct ApplyOutcome {
        bool showRestartNotice;  // the port changed: show kRestartNotice
        bool colorChanged;       // hand colorBits to the capture thread's depth change
        uint8_t colorBits;
        int saveResult;  // iniOk, or iniWriteFailed: the file keeps its old values
    };
    // Apply, once the user answered Yes to kApplyQuestion: the controls into
    // the live record, then Save. Note: the trace box is read like every
    // other control, so a changed box is stored.
    ApplyOutcome Apply(LiveConfig& live, IniFile& ini);

    // Default, once the user answered Yes to kDefaultQuestion: the selected
    // type's preset in the live record becomes its row of kDefaultPresets and
    // is shown; `current` and the file change only on Apply.
    void Default(LiveConfig& live);

    // Save: the live record into the file.
    [[nodiscard]] static int Save(const LiveConfig& live, IniFile& ini);

  private:
    void ShowPreset(const NETWORK_PRESET& preset);
    void EnableButtons();

    SettingsState state_;
};

}  // namespace velmora

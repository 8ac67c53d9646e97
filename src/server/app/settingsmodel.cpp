#include "server/app/settingsmodel.h"

#include <algorithm>

#include "platform/ini_file.h"

namespace velmora {
namespace {

using C = SettingsControl;
using K = ControlKind;

// clang-format off
constexpr std::array<ControlSpec, kSettingsControls> kControls = {{
    {C::E_PORT, "E_PORT", K::SpinEdit, "Port :", 100, 65535, 8888, true, true, false},
    {C::CB_NETWORK, "CB_NETWORK", K::DropDown, "네트워크:", 0, kNetworkTypes - 1, -1, false, true, false},
    {C::E_DESKTOPCHGCHECKTIME, "E_DESKTOPCHGCHECKTIME", K::SpinEdit, "바탕화면 변경 검사시간(ms):", 5, 1000, 50, false, true, false},
    {C::E_DESKTOPIMGSENDTIME, "E_DESKTOPIMGSENDTIME", K::SpinEdit, "이미지 전송 지연시간(ms):", 5, 1000, 10, false, true, false},
    {C::E_MAXSENDBLOCK, "E_MAXSENDBLOCK", K::SpinEdit, "최대 전송 블럭 수:", 10, 250, 100, false, true, false},
    {C::E_COMPRESS_LEVEL, "E_COMPRESS_LEVEL", K::SpinEdit, "이미지 압축 정도:", 1, 6, 1, false, true, false},
    {C::CHK_POINTERFIRST, "CHK_POINTERFIRST", K::CheckBox, "포인터 이미지 우선 처리", 0, 0, 0, false, false, false},
    {C::RB_AUTOSEND, "RB_AUTOSEND", K::RadioButton, "요청 시 자동 이양", 0, 0, 0, false, true, true},
    {C::RB_CHKSEND, "RB_CHKSEND", K::RadioButton, "요청 시 이양 여부 확인", 0, 0, 0, false, false, false},
    {C::RB_NOSEND, "RB_NOSEND", K::RadioButton, "제어 권 주지 않음", 0, 0, 0, false, true, false},
    {C::RB_24, "RB_24", K::RadioButton, "24 bit", 0, 0, 0, false, true, true},
    {C::RB_16, "RB_16", K::RadioButton, "16 bit", 0, 0, 0, false, true, false},
    {C::RB_8, "RB_8", K::RadioButton, "8 bit", 0, 0, 0, false, true, false},
    {C::E_MAXUSER, "E_MAXUSER", K::SpinEdit, "최대(명):", 1, 10, 2, false, true, false},
    {C::CHK_TRACE, "CHK_TRACE", K::CheckBox, "추적", 0, 0, 0, false, true, false},
    {C::BTN_DEFAULT, "BTN_DEFAULT", K::Button, "초기값(&D)", 0, 0, 0, false, false, false},
    {C::BTN_APPLY, "BTN_APPLY", K::Button, "적용(&A)", 0, 0, 0, false, false, false},
}};
// clang-format on

int Clamp(SettingsControl spin, int value) {
    const ControlSpec& s = Spec(spin);
    return std::clamp(value, s.minValue, s.maxValue);
}

// The radio buttons of the control-right policy and of the colour depth, in
// the order of their values.
constexpr C kControlButtons[] = {C::RB_AUTOSEND, C::RB_CHKSEND, C::RB_NOSEND};
constexpr C kColorButtons[] = {C::RB_24, C::RB_16, C::RB_8};
constexpr uint8_t kColorBits[] = {24, 16, 8};

}  // namespace

const std::array<ControlSpec, kSettingsControls>& SettingsControls() {
    return kControls;
}

const ControlSpec& Spec(SettingsControl control) {
    return kControls[static_cast<size_t>(control)];
}

int SettingsModel::Value(SettingsControl spin) const {
    switch (spin) {
        case C::E_PORT:
            return state_.port;
        case C::CB_NETWORK:
            return state_.network;
        case C::E_DESKTOPCHGCHECKTIME:
            return state_.frameCheckTime;
        case C::E_DESKTOPIMGSENDTIME:
            return state_.frameServiceDelay;
        case C::E_MAXSENDBLOCK:
            return state_.maxSendBlock;
        case C::E_COMPRESS_LEVEL:
            return state_.compressLevel;
        case C::E_MAXUSER:
            return state_.maxUsers;
        default:
            return 0;
    }
}

bool SettingsModel::Checked(SettingsControl control) const {
    if (control == C::CHK_POINTERFIRST) return state_.pointerFirst;
    if (control == C::CHK_TRACE) return state_.trace;
    return control == state_.controlButton || control == state_.colorButton;
}

bool SettingsModel::Enabled(SettingsControl control) const {
    if (control == C::BTN_APPLY) return state_.applyEnabled;
    if (control == C::BTN_DEFAULT) return state_.defaultEnabled;
    return Spec(control).enabled;
}

void SettingsModel::ShowPreset(const NETWORK_PRESET& preset) {
    state_.frameCheckTime = Clamp(C::E_DESKTOPCHGCHECKTIME, preset.frameCheckTime);
    state_.frameServiceDelay = Clamp(C::E_DESKTOPIMGSENDTIME, preset.frameServiceDelay);
    state_.maxSendBlock = Clamp(C::E_MAXSENDBLOCK, preset.maxSendBlock);
}

void SettingsModel::EnableButtons() {
    state_.applyEnabled = true;
    state_.defaultEnabled = true;
}

VelmoraConfig SettingsModel::Load(const IniFile& ini) {
    const VelmoraConfig config = ReadConfig(ini);
    state_.network = NetworkIndex(config.network);
    state_.port = Clamp(C::E_PORT, config.port);
    ShowPreset(config.current);  // the selected type's preset, or LAN without a selection
    state_.pointerFirst = config.pointerFirst != 0;
    if (config.controlType >= 1 && config.controlType <= 3) {
        state_.controlButton = kControlButtons[config.controlType - 1];
    }  // another value leaves the buttons as they are
    state_.compressLevel = Clamp(C::E_COMPRESS_LEVEL, config.compressLevel);
    state_.trace = config.trace != 0;
    for (int i = 0; i < 3; ++i) {
        if (config.colorBits == kColorBits[i]) state_.colorButton = kColorButtons[i];
    }
    state_.maxUsers = Clamp(C::E_MAXUSER, config.maxUsers);
    state_.applyEnabled = false;
    state_.defaultEnabled = false;
    state_.portChanged = false;
    return config;
}

void SettingsModel::OnSpinChanged(SettingsControl spin, int value) {
    const int shown = Clamp(spin, value);
    switch (spin) {
        case C::E_PORT:
            state_.port = shown;
            state_.portChanged = true;
            break;
        case C::E_DESKTOPCHGCHECKTIME:
            state_.frameCheckTime = shown;
            break;
        case C::E_DESKTOPIMGSENDTIME:
            state_.frameServiceDelay = shown;
            break;
        case C::E_MAXSENDBLOCK:
            state_.maxSendBlock = shown;
            break;
        case C::E_COMPRESS_LEVEL:
            state_.compressLevel = shown;
            break;
        case C::E_MAXUSER:
            state_.maxUsers = shown;
            break;
        default:
            return;  // not a spin edit
    }
    EnableButtons();
}

void SettingsModel::OnNetworkChanged(int index, const LiveConfig& live) {
    if (index < -1 || index >= kNetworkTypes) return;
    state_.network = index;
    state_.applyEnabled = true;
    if (index >= 0) ShowPreset(live.Get().Preset(index));
}

void SettingsModel::OnControlTypeClicked(SettingsControl radio) {
    for (C button : kControlButtons) {
        if (radio == button) {
            state_.controlButton = radio;
            EnableButtons();
        }
    }
}

void SettingsModel::OnColorClicked(SettingsControl radio) {
    for (C button : kColorButtons) {
        if (radio == button) {
            state_.colorButton = radio;
            state_.colorChanged = true;
            EnableButtons();
        }
    }
}

void SettingsModel::OnCheckClicked(SettingsControl check, bool checked) {
    if (check == C::CHK_POINTERFIRST) state_.pointerFirst = checked;
    if (check == C::CHK_TRACE) state_.trace = checked;
}

SettingsModel::ApplyOutcome SettingsModel::Apply(LiveConfig& live, IniFile& ini) {
    ApplyOutcome outcome{};
    outcome.showRestartNotice = state_.portChanged;
    const SettingsState& s = state_;
    live.Update([&s](VelmoraConfig& c) {
        c.port = static_cast<uint16_t>(s.port);
        if (s.network >= 0) {
            c.network = std::string(kNetworkNames[static_cast<size_t>(s.network)]);
            NETWORK_PRESET& preset = c.Preset(s.network);
            preset = {static_cast<uint16_t>(s.frameCheckTime),
                      static_cast<uint16_t>(s.frameServiceDelay),
                      static_cast<uint16_t>(s.maxSendBlock)};
            c.current = preset;
        }
        c.pointerFirst = s.pointerFirst ? 1 : 0;
        for (uint8_t i = 0; i < 3; ++i) {
            if (s.controlButton == kControlButtons[i]) c.controlType = static_cast<uint8_t>(i + 1);
            if (s.colorButton == kColorButtons[i]) c.colorBits = kColorBits[i];
        }
        c.compressLevel = static_cast<uint8_t>(s.compressLevel);
        c.trace = s.trace ? 1 : 0;
        c.maxUsers = static_cast<int16_t>(s.maxUsers);
    });
    outcome.saveResult = Save(live, ini);
    outcome.colorChanged = state_.colorChanged;
    outcome.colorBits = live.ColorBits();
    state_.colorChanged = false;
    state_.portChanged = false;
    state_.applyEnabled = false;
    return outcome;
}

void SettingsModel::Default(LiveConfig& live) {
    const int type = state_.network;
    if (type >= 0) {
        const NETWORK_PRESET defaults = kDefaultPresets[static_cast<size_t>(type)];
        live.Update([type, defaults](VelmoraConfig& c) { c.Preset(type) = defaults; });
        ShowPreset(defaults);
    }
    state_.applyEnabled = true;
}

int SettingsModel::Save(const LiveConfig& live, IniFile& ini) {
    return WriteConfig(live.Get(), ini);
}

}  // namespace velmora

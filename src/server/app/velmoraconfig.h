// The server's configuration record and its file "ZTVLSRV.INI" in the current
// directory. ReadConfig and WriteConfig are the file side of the settings
// page's Load and Save (settingsmodel.h); a server without a window uses them
// directly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class IniFile;

// Timing of one network type (milliseconds, blocks).
struct NETWORK_PRESET {
    uint16_t frameCheckTime;     // desktop-change check interval
    uint16_t frameServiceDelay;  // image send delay
    uint16_t maxSendBlock;       // largest number of blocks per transmission
    bool operator==(const NETWORK_PRESET&) const = default;
};

inline constexpr int kNetworkTypes = 5;
// Names stored in [BASIC] NETWORK, which are also the presets' section names.
inline constexpr std::array<std::string_view, kNetworkTypes> kNetworkNames = {"LAN", "ADSL", "144K",
                                                                              "56K", "38K"};
// The drop-down's item texts, in the same order.
inline constexpr std::array<std::string_view, kNetworkTypes> kNetworkItems = {
    "LAN", "ADSL", "144kbps Modem", "56kbps Modem", "38kbps Modem"};
// A preset's values when its keys are absent from the file.
inline constexpr NETWORK_PRESET kAbsentPreset = {50, 10, 100};
// The Default button's values per network type.
inline constexpr std::array<NETWORK_PRESET, kNetworkTypes> kDefaultPresets = {
    {{20, 50, 70}, {30, 60, 60}, {50, 100, 50}, {50, 100, 40}, {100, 100, 40}}};

inline constexpr char kConfigFileName[] = "ZTVLSRV.INI";

struct VelmoraConfig {
    std::string network = "LAN";  // one of kNetworkNames when written by the server
    uint16_t port = 8888;         // UDP port P; the engine also binds P + 1
    NETWORK_PRESET lan = kAbsentPreset;
    NETWORK_PRESET adsl = kAbsentPreset;
    NETWORK_PRESET k144 = kAbsentPreset;
    NETWORK_PRESET k56 = kAbsentPreset;
    NETWORK_PRESET k38 = kAbsentPreset;
    NETWORK_PRESET current = kAbsentPreset;  // the values in effect
    uint8_t pointerFirst = 0;                // stored and shown only
    uint8_t controlType = 1;                 // 1 grant, 2 ask first, 3 never grant
    uint8_t compressLevel = 6;               // read when the send thread starts
    uint8_t trace = 0;                       // stored and shown only
    uint8_t colorBits = 16;                  // 24, 16 or 8
    int16_t maxUsers = 2;

    // The preset of network type 0..4 (LAN, ADSL, 144K, 56K, 38K).
    NETWORK_PRESET& Preset(int type);
    const NETWORK_PRESET& Preset(int type) const;
};

// Position 0..4 of a network name, or -1. Both the stored names ("56K") and
// the drop-down texts ("56kbps Modem") are recognised, exactly as written.
int NetworkIndex(std::string_view network);

// Current directory + "/ZTVLSRV.INI".
std::string ConfigFilePath();

// Reads every key (absent keys give the defaults; integers are cut to the
// field's width as read) and puts the preset of the named network type, or
// the LAN preset for an unknown name, into `current`. A colour depth other
// than 24, 16 or 8 reads as the default 16, since no pixel format exists
// for it.
VelmoraConfig ReadConfig(const IniFile& ini);

// Writes every key in the designed order; CONTROL TYPE only when it is 1..3
// and COLOR only when it is 24, 16 or 8. iniOk, or iniWriteFailed when any
// write failed (all are still attempted).
[[nodiscard]] int WriteConfig(const VelmoraConfig& config, IniFile& ini);

}  // namespace velmora

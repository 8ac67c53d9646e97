#include "server/app/velmoraconfig.h"

#include <unistd.h>

#include <climits>

#include "platform/ini_file.h"

namespace velmora {
namespace {

constexpr std::string_view kFrameCheckTime = "FRAME CHECK TIME";
constexpr std::string_view kFrameServiceDelay = "FRAME SERVICE DELAY";
constexpr std::string_view kMaxSendBlock = "MAX SEND BLOCK";

bool IsDepth(int bits) {
    return bits == 24 || bits == 16 || bits == 8;
}

}  // namespace

NETWORK_PRESET& VelmoraConfig::Preset(int type) {
    switch (type) {
        case 1:
            return adsl;
        case 2:
            return k144;
        case 3:
            return k56;
        case 4:
            return k38;
        default:
            return lan;
    }
}

const NETWORK_PRESET& VelmoraConfig::Preset(int type) const {
    return const_cast<VelmoraConfig&>(*this).Preset(type);
}

int NetworkIndex(std::string_view network) {
    for (int i = 0; i < kNetworkTypes; ++i) {
        if (network == kNetworkItems[static_cast<size_t>(i)] ||
            network == kNetworkNames[static_cast<size_t>(i)]) {
            return i;
        }
    }
    return -1;
}

std::string ConfigFilePath() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return kConfigFileName;
    return std::string(cwd) + "/" + kConfigFileName;
}

VelmoraConfig ReadConfig(const IniFile& ini) {
    VelmoraConfig c;
    c.network = ini.ReadString("BASIC", "NETWORK", "LAN");
    c.port = static_cast<uint16_t>(ini.ReadInteger("SOCKET", "PORT", 8888));
    for (int type = 0; type < kNetworkTypes; ++type) {
        const std::string_view section = kNetworkNames[static_cast<size_t>(type)];
        NETWORK_PRESET& p = c.Preset(type);
        p.frameCheckTime = static_cast<uint16_t>(
            ini.ReadInteger(section, kFrameCheckTime, kAbsentPreset.frameCheckTime));
        p.frameServiceDelay = static_cast<uint16_t>(
            ini.ReadInteger(section, kFrameServiceDelay, kAbsentPreset.frameServiceDelay));
        p.maxSendBlock = static_cast<uint16_t>(
            ini.ReadInteger(section, kMaxSendBlock, kAbsentPreset.maxSendBlock));
    }
    const int selected = NetworkIndex(c.network);
    c.current = c.Preset(selected < 0 ? 0 : selected);
    c.pointerFirst = ini.ReadBool("POINTER", "POINTER IMAGE PRIORITY PROCESS", false) ? 1 : 0;
    c.controlType = static_cast<uint8_t>(ini.ReadInteger("CONTROL", "CONTROL TYPE", 1));
    c.compressLevel = static_cast<uint8_t>(ini.ReadInteger("COMPRESS", "DATA COMPRESS LEVEL", 6));
    c.trace = ini.ReadBool("TRACE", "TRACE", false) ? 1 : 0;
    c.colorBits = static_cast<uint8_t>(ini.ReadInteger("COLOR CONVERT", "COLOR", 16));
    if (!IsDepth(c.colorBits)) c.colorBits = 16;
    c.maxUsers = static_cast<int16_t>(ini.ReadInteger("USER", "CONNECTIONS", 2));
    return c;
}

int WriteConfig(const VelmoraConfig& c, IniFile& ini) {
    int result = iniOk;
    const auto keep = [&result](int r) {
        if (r < 0) result = r;
    };
    keep(ini.WriteString("BASIC", "NETWORK", c.network));
    keep(ini.WriteInteger("SOCKET", "PORT", c.port));
    for (int type = 0; type < kNetworkTypes; ++type) {
        const std::string_view section = kNetworkNames[static_cast<size_t>(type)];
        const NETWORK_PRESET& p = c.Preset(type);
        keep(ini.WriteInteger(section, kFrameCheckTime, p.frameCheckTime));
        keep(ini.WriteInteger(section, kFrameServiceDelay, p.frameServiceDelay));
        keep(ini.WriteInteger(section, kMaxSendBlock, p.maxSendBlock));
    }
    keep(ini.WriteBool("POINTER", "POINTER IMAGE PRIORITY PROCESS", c.pointerFirst != 0));
    if (c.controlType >= 1 && c.controlType <= 3) {
        keep(ini.WriteInteger("CONTROL", "CONTROL TYPE", c.controlType));
    }
    keep(ini.WriteInteger("COMPRESS", "DATA COMPRESS LEVEL", c.compressLevel));
    keep(ini.WriteBool("TRACE", "TRACE", c.trace != 0));
    if (IsDepth(c.colorBits)) keep(ini.WriteInteger("COLOR CONVERT", "COLOR", c.colorBits));
    keep(ini.WriteInteger("USER", "CONNECTIONS", c.maxUsers));
    return result;
}

}  // namespace velmora

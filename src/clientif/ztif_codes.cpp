#include "clientif/ztif_codes.h"

namespace velmora {
namespace {

struct Named {
    int32_t value;
    const char* name;
};

// States 7 and 8 have no display name on purpose.
constexpr Named kStates[] = {
    {nsError, "nsError"},
    {nsNotUse, "nsNotUse"},
    {nsNewConnection, "nsNewConnection"},
    {nsConnected, "nsConnected"},
    {nsConnecting, "nsConnecting"},
    {nsDisConnecting, "nsDisConnecting"},
    {nsDisConnected, "nsDisConnected"},
};

constexpr Named kErrors[] = {
    {nleOk, "nleOk"},
    {nleServerNotRun, "nleServerNotRun"},
    {nleServerConnectFail, "nleServerConnectFail"},
    {nleServerConnectFull, "nleServerConnectFull"},
    {nleShareMemAllocFail, "nleShareMemAllocFail"},
    {nleShareMemError, "nleShareMemError"},
    {nleShareMemOverFlow, "nleShareMemOverFlow"},
    {nleHostExcuteNotFound, "nleHostExcuteNotFound"},
    {nleInvalidConnect, "nleInvalidConnect"},
    {nleTimeout, "nleTimeout"},
    {nleInvalidPacket, "nleInvalidPacket"},
    {nleSendFail, "nleSendFail"},
    {nlePacketRcvBufferOverFlow, "nlePacketRcvBufferOverFlow"},
    {nleClientNoResponse, "nleClientNoResponse"},
    {nleNetworkFail, "nleNetworkFail"},
    {nleBrokerNotStart, "nleBrokerNotStart"},
    {nleHostExcuteError, "nleHostExcuteError"},
    {nleNotConnected, "nleNotConnected"},
    {nleUnknownError, "nleUnknownError"},
};

template <size_t N>
std::string NameOf(const Named (&table)[N], int32_t value) {
    for (const Named& entry : table) {
        if (entry.value == value) return entry.name;
    }
    return "?\?\?-" + std::to_string(value);  // escaped: "??-" reads as a trigraph
}

}  // namespace

std::string SlotStateName(int32_t state) {
    return NameOf(kStates, state);
}

std::string ErrorCodeName(int32_t code) {
    return NameOf(kErrors, code);
}

}  // namespace velmora

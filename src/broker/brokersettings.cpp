#include "broker/brokersettings.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace velmora {
namespace {

struct Field {
    const char* name;
    uint32_t BrokerSettings::*u32;
    int32_t BrokerSettings::*i32;
};

constexpr Field kFields[] = {
    {"startSettleMs", &BrokerSettings::startSettleMs, nullptr},
    {"shutdownSettleMs", &BrokerSettings::shutdownSettleMs, nullptr},
    {"socketWaitMs", &BrokerSettings::socketWaitMs, nullptr},
    {"controlPollMs", &BrokerSettings::controlPollMs, nullptr},
    {"idleWaitMs", &BrokerSettings::idleWaitMs, nullptr},
    {"activePassMs", &BrokerSettings::activePassMs, nullptr},
    {"quietPassMs", &BrokerSettings::quietPassMs, nullptr},
    {"quietAfterMs", &BrokerSettings::quietAfterMs, nullptr},
    {"maxInFlight", &BrokerSettings::maxInFlight, nullptr},
    {"deliveryStallMs", &BrokerSettings::deliveryStallMs, nullptr},
    {"takeStallMs", &BrokerSettings::takeStallMs, nullptr},
    {"managerActivePollMs", &BrokerSettings::managerActivePollMs, nullptr},
    {"managerQuietPollMs", &BrokerSettings::managerQuietPollMs, nullptr},
    {"maxSetupThreads", &BrokerSettings::maxSetupThreads, nullptr},
    {"maxKeptSlots", nullptr, &BrokerSettings::maxKeptSlots},
    {"setupRoundTripMs", &BrokerSettings::setupRoundTripMs, nullptr},
    {"setupPollMs", &BrokerSettings::setupPollMs, nullptr},
    {"disconnectWaitMs", &BrokerSettings::disconnectWaitMs, nullptr},
    {"lifeCheckIntervalMs", &BrokerSettings::lifeCheckIntervalMs, nullptr},
    {"serverSilenceMs", &BrokerSettings::serverSilenceMs, nullptr},
    {"applicationSilenceMs", &BrokerSettings::applicationSilenceMs, nullptr},
    {"pingWaitMs", &BrokerSettings::pingWaitMs, nullptr},
    {"lifeCheckAckWaitMs", &BrokerSettings::lifeCheckAckWaitMs, nullptr},
};

bool ParseNumber(const std::string& text, long long low, long long high, long long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
    *out = v;
    return true;
}

bool ApplyOne(const std::string& name, const std::string& value, BrokerSettings& settings) {
    if (name == "bindAddress") {
        in_addr a{};
        if (inet_pton(AF_INET, value.c_str(), &a) != 1) return false;
        settings.bindAddressRaw = a.s_addr;
        return true;
    }
    for (const Field& f : kFields) {
        if (name != f.name) continue;
        long long v = 0;
        if (f.u32 != nullptr) {
            if (!ParseNumber(value, 0, UINT32_MAX, &v)) return false;
            settings.*f.u32 = static_cast<uint32_t>(v);
        } else {
            if (!ParseNumber(value, INT32_MIN, INT32_MAX, &v)) return false;
            settings.*f.i32 = static_cast<int32_t>(v);
        }
        return true;
    }
    return false;
}

}  // namespace

bool ApplyBrokerSettings(const std::string& text, BrokerSettings& settings,
                         std::string* complaints) {
    bool ok = true;
    std::stringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        if (entry.empty()) continue;
        const size_t eq = entry.find('=');
        const bool applied = eq != std::string::npos &&
                             ApplyOne(entry.substr(0, eq), entry.substr(eq + 1), settings);
        if (!applied) {
            ok = false;
            if (complaints != nullptr)
                *complaints += "broker settings: \"" + entry + "\" is not understood\n";
        }
    }
    return ok;
}

BrokerSettings BrokerSettingsFromEnvironment(std::string* complaints) {
    BrokerSettings settings;
    const char* text = std::getenv("ZTBROKER_TEST_SETTINGS");
    if (text != nullptr) (void)ApplyBrokerSettings(text, settings, complaints);
    return settings;
}

}  // namespace velmora

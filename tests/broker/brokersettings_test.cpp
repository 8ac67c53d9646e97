#include "broker/brokersettings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(BrokerSettingsText, AppliesWhatItUnderstandsAndNamesTheRest) {
    BrokerSettings s;
    std::string complaints;
    EXPECT_FALSE(ApplyBrokerSettings(
        "lifeCheckIntervalMs=200,,maxKeptSlots=-1,bindAddress=192.0.2.1,"
        "noSuchSetting=3,serverSilenceMs=12x,pingWaitMs=4294967296,bindAddress=1.2.3",
        s, &complaints));
    EXPECT_EQ(s.lifeCheckIntervalMs, 200u);
    EXPECT_EQ(s.maxKeptSlots, -1);
    EXPECT_EQ(s.bindAddressRaw, inet_addr("192.0.2.1"));
    EXPECT_EQ(s.serverSilenceMs, BrokerSettings{}.serverSilenceMs) << "a bad value changes nothing";
    EXPECT_EQ(s.pingWaitMs, BrokerSettings{}.pingWaitMs);
    for (const char* bad :
         {"noSuchSetting=3", "serverSilenceMs=12x", "pingWaitMs=4294967296", "bindAddress=1.2.3"})
        EXPECT_NE(complaints.find(bad), std::string::npos) << bad;
    EXPECT_TRUE(ApplyBrokerSettings("", s, nullptr));
}

}  // namespace
}  // namespace velmora

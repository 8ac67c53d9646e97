#include <gtest/gtest.h>

#include <string>

#include "clientif/brokernames.h"
#include "clientif/ztif_codes.h"
#include "clientif/ztinstance_slot.h"

namespace velmora {
namespace {

TEST(BrokerNames, BuildsEverySharedObjectNameFromTheBrokerNameAndSlot) {
    EXPECT_EQ(InstanceListLockName("ZTVLVIEW_BROKER"), "ZTVLVIEW_BROKERSHARE");
    EXPECT_EQ(ReceiveQueueName("ZTVLVIEW_BROKER", 0), "ZTVLVIEW_BROKERR0");
    EXPECT_EQ(SendQueueName("ZTVLVIEW_BROKER", 499), "ZTVLVIEW_BROKERS499");
    EXPECT_EQ(ReceiveQueueLockName("ZTVLVIEW_BROKER", 17), "ZTVLVIEW_BROKERRM17");
    EXPECT_EQ(SendQueueLockName("ZTVLVIEW_BROKER", 17), "ZTVLVIEW_BROKERSM17");
    EXPECT_EQ(BrokerLockFileName("ZTVLVIEW_BROKER"), "ZTVLVIEW_BROKER.lock");
    // No broker name can lead its lock file out of the runtime directory.
    EXPECT_EQ(BrokerLockFileName("../x/y z"), ".._x_y_z.lock");
}

TEST(BrokerNames, RefusesNamesThatDoNotFitTheSlotWithAClearReason) {
    struct Case {
        std::string name;
        bool accepted;
        const char* reason;
    };
    const Case cases[] = {
        {"A", true, ""},
        {std::string(29, 'n'), true, ""},
        {std::string(30, 'n'), false, "has 30 characters; at most 29"},
        {"", false, "empty"},
        {"tab\there", false, "control or non-ASCII character at position 4"},
        {"caf\xc3\xa9", false, "non-ASCII"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        EXPECT_EQ(CheckBrokerName(c.name, &why), c.accepted);
        if (!c.accepted) {
            EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        }
    }
}

TEST(IpcCodes, NamesAsTheBrokerWindowShowsThem) {
    EXPECT_EQ(SlotStateName(nsConnected), "nsConnected");
    EXPECT_EQ(SlotStateName(nsDisConnected), "nsDisConnected");
    EXPECT_EQ(SlotStateName(nsCreating), "?\?\?-7");
    EXPECT_EQ(SlotStateName(nsBrokerExit), "?\?\?-8");
    EXPECT_EQ(ErrorCodeName(nleOk), "nleOk");
    EXPECT_EQ(ErrorCodeName(nleHostExcuteError), "nleHostExcuteError");
    EXPECT_EQ(ErrorCodeName(nleUnknownError), "nleUnknownError");
    EXPECT_EQ(ErrorCodeName(nleSetUpFailed), "?\?\?--18");
}

TEST(InstanceSlot, AFreedSlotKeepsNothingOfItsConnection) {
    uint8_t list[kInstanceSlotSize * 2];
    std::memset(list, 0xA5, sizeof(list));
    ZTINSTANCE_SLOT& slot = SlotAt(list, 1);
    ResetSlot(slot);
    EXPECT_EQ(SlotState(slot), nsNotUse);
    EXPECT_EQ(slot.errorCode.get(), nleInvalidConnect);
    // Little-endian -8 at offset 60, zero everywhere else after the state.
    const uint8_t* raw = list + kInstanceSlotSize;
    EXPECT_EQ(raw[0], nsNotUse);
    for (size_t i = 1; i < kInstanceSlotSize; ++i) {
        const uint8_t expected = i == 60 ? 0xF8 : (i > 60 && i < 64 ? 0xFF : 0);
        ASSERT_EQ(raw[i], expected) << "offset " << i;
    }
    // The slot before is untouched.
    EXPECT_EQ(list[kInstanceSlotSize - 1], 0xA5);
}

}  // namespace
}  // namespace velmora

#include "platform/tick.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Tick, DifferencesAreTakenModulo32Bits) {
    EXPECT_EQ(TickDiff(5u, 0xFFFFFFFBu), 10u);
    EXPECT_EQ(TickDiff(100u, 40u), 60u);
}

TEST(Tick, AdvancesWithSleep) {
    const uint32_t before = Tick();
    SleepMs(20);
    EXPECT_GE(TickSince(before), 19u);
}

}  // namespace
}  // namespace velmora

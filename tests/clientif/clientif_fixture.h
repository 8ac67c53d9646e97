// Shared set-up of the client-interface tests: a private runtime directory
// (where the brokers' lock files go), a broker name of this process that no
// other test uses, and the removal of every shared object of that name.
#pragma once

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "clientif/brokerlock.h"
#include "clientif/ztclientif.h"
#include "platform/tick.h"

namespace velmora::test {

class ClientIfFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/velmora-clientif-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        runtimeDir_ = dir;
        setenv("ZTVL_ROOT", dir, 1);
        static int serial = 0;
        name_ = "cif" + std::to_string(getpid()) + "_" + std::to_string(++serial);
        ZtifResetForTesting();
    }

    void TearDown() override {
        ZtifResetForTesting();
        BrokerLock::RemoveSharedObjects(name_);
        std::error_code ignored;
        std::filesystem::remove_all(runtimeDir_, ignored);
        unsetenv("ZTVL_ROOT");
    }

    const char* Name() const { return name_.c_str(); }
    std::string LockPath() const { return BrokerLock::LockPath(name_); }

    // Waits for a condition that another thread or process brings about;
    // false after a generous bound, so a fault fails the test instead of
    // hanging it. No figure of time is asserted.
    template <typename Condition>
    static bool Eventually(Condition condition, uint32_t boundMs = 10000) {
        const uint32_t begin = Tick();
        while (!condition()) {
            if (TickSince(begin) > boundMs) return false;
            SleepMs(1);
        }
        return true;
    }

    std::string runtimeDir_;
    std::string name_;
};

}  // namespace velmora::test

// The library starting a broker program: the stand-in fake_ztbroker, built
// next to this test program and named through the library's settings, so the
// real ZTBROKER.DLL is never involved.
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "clientif/brokernames.h"
#include "clientif/clientif_fixture.h"
#include "clientif/instancelist.h"
#include "clientif/ztclientif.h"
#include "platform/child_process.h"

namespace velmora::test {
namespace {

constexpr uint32_t kWaitMs = 10000;

std::string OwnFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    const std::string exe(buffer, static_cast<size_t>(n > 0 ? n : 0));
    return exe.substr(0, exe.rfind('/'));
}

class BrokerStartTest : public ClientIfFixture {
  protected:
    void SetUp() override {
        ClientIfFixture::SetUp();
        report_ = runtimeDir_ + "/report";
        setenv("ZTIF_FAKE_BROKER_REPORT", report_.c_str(), 1);
        settings_.brokerProgram = OwnFolder() + "/fake_ztbroker";
        settings_.startCheckMs = 50;
        settings_.listWaitMs = kWaitMs;
        settings_.stopPollMs = 10;
        settings_.stopLimitMs = kWaitMs;  // a fault fails the test rather than hang it
        ZtifSetSettings(settings_);
    }
    void TearDown() override {
        // A broker still running (a failed case) is asked to go.
        ZtifStopBroker(Name());
        if (const pid_t pid = ReportedPid(); pid > 0) kill(pid, SIGKILL);
        unsetenv("ZTIF_FAKE_BROKER_MODE");
        unsetenv("ZTIF_FAKE_BROKER_REPORT");
        ClientIfFixture::TearDown();
    }

    void Mode(const char* mode) { setenv("ZTIF_FAKE_BROKER_MODE", mode, 1); }
    void Settings(const ZtifSettings& settings) {
        settings_ = settings;
        ZtifSetSettings(settings_);
    }

    // What the started fake wrote: its pid and its two arguments.
    pid_t ReportedPid(std::string* arguments = nullptr) const {
        std::ifstream in(report_);
        long pid = 0;
        std::string name, mode;
        if (!(in >> pid >> name >> mode)) return 0;
        if (arguments) *arguments = name + " " + mode;
        return static_cast<pid_t>(pid);
    }

    std::string report_;
    ZtifSettings settings_;
};

TEST_F(BrokerStartTest, AStartedBrokerGetsItsNameAndModeServesAndIsReapedAfterTheStop) {
    Mode("echo");
    for (const int32_t show : {1, 0}) {
        SCOPED_TRACE(show);
        ZTIF_CONNECTION* c = ZtifConnect(Name(), "127.0.0.1", 8888, 4, show, kWaitMs);
        ASSERT_NE(c, nullptr) << ZtifLastErrorText();
        std::string arguments;
        const pid_t pid = ReportedPid(&arguments);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(arguments, name_ + (show == 1 ? " SHOW" : " HIDE"));

        // A second connect finds the broker alive and starts none.
        std::remove(report_.c_str());
        ZTIF_CONNECTION* second = ZtifConnect(Name(), "127.0.0.1", 8888, 4, show, kWaitMs);
        ASSERT_NE(second, nullptr) << ZtifLastErrorText();
        EXPECT_EQ(ReportedPid(), 0);
        EXPECT_NE(second->slotIndex, c->slotIndex);

        const char message[] = "through another process";
        ASSERT_EQ(ZtifSend(c, message, sizeof(message), 0, kWaitMs), int32_t{sizeof(message)});
        char back[sizeof(message)] = {};
        ASSERT_TRUE(Eventually([&] { return ZtifPeek(c) != 0; }));
        EXPECT_EQ(ZtifReceive(c, back, sizeof(back), kWaitMs), int32_t{sizeof(message)});
        EXPECT_STREQ(back, message);
        EXPECT_EQ(ZtifDisconnect(second), 1);
        EXPECT_EQ(ZtifDisconnect(c), 1);

        ZtifStopBroker(Name());
        EXPECT_FALSE(InstanceList(name_, {}).IsOpen());
        // Reaped, not a zombie: the pid is gone.
        EXPECT_EQ(kill(pid, 0), -1);
        EXPECT_EQ(errno, ESRCH);
        ZtifResetForTesting();
        ZtifSetSettings(settings_);
    }
}

TEST_F(BrokerStartTest, BrokerProgramsThatCannotServeSayWhy) {
    const std::string notExecutable = runtimeDir_ + "/plain-file";
    std::ofstream(notExecutable) << "not a program\n";
    struct Case {
        const char* what;
        std::string program;  // empty: the fake
        const char* mode;
        int32_t expected;
        const char* text;
    };
    const Case cases[] = {
        {"missing, looked up by name", "no-such-broker-program", "echo", nleHostExcuteNotFound,
         "was found neither next to this program"},
        {"missing path", "/nonexistent/ZTBROKER.DLL", "echo", nleHostExcuteNotFound,
         "does not exist or cannot be run"},
        {"not executable", notExecutable, "echo", nleHostExcuteNotFound, "cannot be run"},
        {"ends at once with -1", "", "exit-1", nleHostExcuteError, "exit code -1"},
        {"ends without a list", "", "exit-0", nleServerConnectFail, "ended without making"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZtifSettings settings = ZtifGetSettings();
        if (!c.program.empty()) settings.brokerProgram = c.program;
        ZtifSetSettings(settings);
        Mode(c.mode);
        EXPECT_EQ(ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, kWaitMs), nullptr);
        EXPECT_EQ(ZtifLastError(), c.expected);
        EXPECT_NE(ZtifLastErrorText().find(c.text), std::string::npos) << ZtifLastErrorText();
        ZtifSetSettings(settings_);
    }
}

TEST_F(BrokerStartTest, ABrokerThatNeverMakesItsListIsWaitedForThenMinus2) {
    Mode("no-list");
    setenv("ZTIF_FAKE_BROKER_LIFE_MS", "60000", 1);
    ZtifSettings settings = settings_;
    settings.listWaitMs = 100;
    Settings(settings);
    EXPECT_EQ(ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, kWaitMs), nullptr);
    EXPECT_EQ(ZtifLastError(), nleServerConnectFail);
    EXPECT_NE(ZtifLastErrorText().find("within 100 ms"), std::string::npos) << ZtifLastErrorText();
    unsetenv("ZTIF_FAKE_BROKER_LIFE_MS");
}

// A broker killed outright leaves its instance list behind. The library
// treats the list as gone, and the next connect replaces it with a new
// broker.
TEST_F(BrokerStartTest, AKilledBrokerIsSeenAsGoneAndReplaced) {
    Mode("echo");
    ZTIF_CONNECTION* c = ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, kWaitMs);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();
    const pid_t first = ReportedPid();
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGKILL), 0);
    ASSERT_TRUE(Eventually([&] { return !BrokerLock::IsBrokerAlive(LockPath()); }));
    ASSERT_TRUE(InstanceList(name_, {}).IsOpen());  // what it left

    uint8_t byte = 1;
    EXPECT_EQ(ZtifSend(c, &byte, 1, 0, kWaitMs), -1);
    EXPECT_EQ(ZtifPeek(c), -1);
    EXPECT_EQ(ZtifReceive(c, &byte, 1, kWaitMs), -1);
    EXPECT_EQ(ZtifConnectionError(c), nleInvalidConnect);
    EXPECT_EQ(ZtifDisconnect(c), 0);

    std::remove(report_.c_str());
    ZTIF_CONNECTION* again = ZtifConnect(Name(), "127.0.0.1", 8888, 4, 0, kWaitMs);
    ASSERT_NE(again, nullptr) << ZtifLastErrorText();
    const pid_t second = ReportedPid();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(again->slotIndex, 0);  // a fresh list
    EXPECT_EQ(ZtifSend(again, &byte, 1, 0, kWaitMs), 1);
    EXPECT_EQ(ZtifDisconnect(again), 1);
}

// The stop of a broker that died returns too: its list can no longer vanish
// by itself, so what it left is removed.
TEST_F(BrokerStartTest, StopBrokerReturnsForABrokerThatDied) {
    ProcessSignal ready;
    ChildProcess broker([&] {
        BrokerLock lock;
        if (lock.Acquire(Name()) != BrokerLock::kAcquired) return 1;
        ready.Post();
        pause();
        return 0;
    });
    ASSERT_TRUE(ready.Await());
    kill(broker.Pid(), SIGKILL);
    EXPECT_EQ(broker.Wait(), 128 + SIGKILL);
    ZtifStopBroker(Name());
    EXPECT_FALSE(InstanceList(name_, {}).IsOpen());
}

}  // namespace
}  // namespace velmora::test

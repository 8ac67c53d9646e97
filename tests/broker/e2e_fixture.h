// Shared set-up of the broker's end-to-end tests: a private runtime
// directory, a broker name no other test uses, real ZTBROKER.DLL processes
// started by the client-interface library (found next to the test program),
// real server engines that echo, and helpers for processes: spawning the
// test application or the broker by hand, waiting for their exit, finding
// the broker of our name among the running processes.
//
// Every broker a test caused is asked to stop at the end and, should it not,
// ended by its process id.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "broker/echo_server.h"
#include "clientif/ztclientif.h"
#include "platform/tick.h"

namespace velmora::test {

// Starts a program of the build's bin folder with stdout and stderr into
// outputPath. -1 when it cannot be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& outputPath);
// The exit code (as the int8 a program returned) once the process ended, or
// -1000 when it had not ended within boundMs.
int WaitForExit(pid_t pid, uint32_t boundMs);
// Processes running ZTBROKER.DLL for this broker name.
std::vector<pid_t> BrokerProcesses(const std::string& name);
std::string ReadText(const std::string& path);
// The folder of the running test program.
std::string ProgramFolder();

class BrokerEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const char* Name() const { return name_.c_str(); }
    std::string RuntimeFile(const std::string& file) const { return runtimeDir_ + "/" + file; }
    // Shortened broker constants for the brokers started from now on.
    static void BrokerSettingsForTest(const std::string& settings);

    ZTIF_CONNECTION* Connect(const EchoServer& server, uint32_t timeoutMs = 10000) {
        return ZtifConnect(Name(), "127.0.0.1", server.Port(), 4, 0, timeoutMs);
    }
    // Sends the message and compares its echo byte by byte.
    static ::testing::AssertionResult EchoOnce(ZTIF_CONNECTION* c, const std::vector<uint8_t>& m);

    template <typename Condition>
    static bool Eventually(Condition condition, uint32_t boundMs = 20000) {
        const uint32_t begin = Tick();
        while (!condition()) {
            if (TickSince(begin) > boundMs) return false;
            SleepMs(2);
        }
        return true;
    }

    std::string runtimeDir_;
    std::string name_;
    std::vector<pid_t> children_;  // processes a test spawned itself
};

}  // namespace velmora::test

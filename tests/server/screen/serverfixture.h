// A whole server in the test process: ServerProgram started on a free port
// pair with its own settings file and runtime directory (so the instance
// lock and the screen source's files are the test's own), a synthetic screen
// source unless the test asks for x11.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/app/liveconfig.h"
#include "server/app/serverprogram.h"
#include "server/screen/tscreencapture.h"
#include "testwait.h"

namespace velmora::testing {

class ServerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-server-XXXXXX";
        dir_ = mkdtemp(name);
        setenv("ZTVL_ROOT", (dir_ + "/run").c_str(), 1);
        port_ = FreePortPair();
        ASSERT_NE(port_, 0);
        ini_ = {
            {"SOCKET", {{"PORT", std::to_string(port_)}}},
            {"USER", {{"CONNECTIONS", "10"}}},
            {"COLOR CONVERT", {{"COLOR", "24"}}},
            {"SCREEN SOURCE",
             {{"SOURCE", "synthetic"}, {"SCENE", "static"}, {"SIZE", "320x200"}, {"RATE", "100"}}},
        };
    }
    void TearDown() override {
        if (program_ != nullptr) program_->Shutdown();
        program_.reset();
        (void)!std::system(("rm -rf " + dir_).c_str());
    }

    // Writes the settings and starts the server; waits until the screen
    // source runs.
    void StartServer() {
        std::ofstream ini(dir_ + "/ZTVLSRV.INI");
        for (const auto& [section, keys] : ini_) {
            ini << "[" << section << "]\n";
            for (const auto& [key, value] : keys) ini << key << "=" << value << "\n";
        }
        ini.close();
        ServerOptions options;
        options.headless = true;
        options.configFile = dir_ + "/ZTVLSRV.INI";
        ServerReport report;
        report.trace = [this](const std::string& t) { Note("trace: " + t); };
        report.userConnected = [this](const std::string& n, const std::string&) {
            Note("connected: " + n);
        };
        report.userDisconnected = [this](const std::string& n) { Note("disconnected: " + n); };
        program_ = std::make_unique<ServerProgram>(options, report);
        std::string error;
        ASSERT_EQ(program_->Start(&error), ServerProgram::kStarted) << error;
        ASSERT_TRUE(WaitUntil([&] { return program_->Status() != 0; }));
        ASSERT_EQ(program_->Status(), TScreentCapture::kRunning);
    }

    void Note(const std::string& line) {
        std::lock_guard<std::mutex> guard(notesLock_);
        notes_.push_back(line);
    }
    bool Noted(const std::string& line) {
        std::lock_guard<std::mutex> guard(notesLock_);
        for (const auto& n : notes_) {
            if (n == line) return true;
        }
        return false;
    }

    std::string dir_;
    uint16_t port_ = 0;
    std::map<std::string, std::map<std::string, std::string>> ini_;
    std::unique_ptr<ServerProgram> program_;
    std::mutex notesLock_;
    std::vector<std::string> notes_;
};

}  // namespace velmora::testing

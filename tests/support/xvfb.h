// A private X server for tests and benchmarks: Xvfb on a display number it
// picks itself (-displayfd, so parallel test programs never collide), with
// the openbox window manager when asked, both ended when the object goes
// away. Both are started with a parent-death signal, so a test program that
// crashes leaves neither behind (the signal follows the thread that called
// Start: call it from the main thread).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class PrivateXServer {
  public:
    PrivateXServer() = default;
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // Starts Xvfb with one width x height x 24 screen and waits until it
    // accepts connections; then, with a window manager, openbox, and waits
    // until it manages the screen. False with a sentence in `error`.
    bool Start(int width, int height, bool windowManager, std::string* error);
    // Ends the window manager and the server and reaps both.
    void Stop();

    // ":N", valid after Start.
    const std::string& Display() const { return display_; }

    // Runs a program (searched on PATH) with DISPLAY set to this server and
    // waits at most limitMs for it: its exit status, or -1 when it could not
    // run or had to be killed. Its output goes to /dev/null.
    int Run(const std::vector<std::string>& argv, uint32_t limitMs = 10000) const;

  private:
    // fork + exec with DISPLAY set and the standard streams on /dev/null.
    pid_t Launch(const std::vector<std::string>& argv) const;
    bool WaitForFile(const char* path, uint32_t limitMs);

    std::string display_;
    pid_t server_ = 0;
    pid_t manager_ = 0;
};

}  // namespace velmora

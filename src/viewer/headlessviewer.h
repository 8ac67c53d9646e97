// VelmoraViewer --headless: one view, as the remote-screen window would make
// it, without a window. It connects, logs on, keeps the picture, writes PNG
// snapshots (at exit, on SIGUSR1, every N ms, or by command), prints its
// figures, runs scripted control-right requests and mouse and key input, and
// stops the broker at exit as the viewer's main window does.
//
// Signals (SIGINT, SIGTERM, SIGUSR1) are taken through a signalfd on the
// main thread; they are blocked before any thread starts.
//
// Lock: outputLock_ guards standard output (the view thread prints control
// answers and the lost connection); the observer's other state is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "viewer/headlessoptions.h"
#include "viewer/tvelmoraview.h"
#include "viewer/viewerscript.h"
#include "viewer/viewobserver.h"

namespace velmora {

class HeadlessViewer final : public ViewObserver {
  public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitNoConnection = 1;
    static constexpr int kExitBadArguments = 2;
    static constexpr int kExitLost = 3;

    explicit HeadlessViewer(HeadlessOptions options);
    ~HeadlessViewer() override;

    // Runs until the end (see HeadlessOptions); returns the exit code.
    int Run();

    // ViewObserver, called on the view thread.
    void OnScreenChanged(int width, int height) override;
    void OnPictureChanged(const ViewRect* rects, int count) override;
    void OnControlAnswer(int flag, int code) override;
    void OnMemberListChanged() override;
    void OnConnectionLost() override;

  private:
    bool OpenSignals(std::string* error);
    // Waits up to ms for signals, the lost connection and (with readInput)
    // standard input, running the periodic snapshot and figures; false once
    // the program should end.
    bool Pump(uint32_t ms, bool readInput);
    bool Connect();
    bool RunScript();
    void RunCommands();
    bool Execute(const ScriptCommand& command);
    bool ControlRequest(bool on);
    bool Settle(uint32_t quietMs, uint32_t limitMs);
    void Snapshot(const std::string& file);
    void PrintFigures();
    void PrintMembers();
    void Print(const std::string& line, bool error = false);
    void Finish();

    const HeadlessOptions options_;
    std::unique_ptr<TVelmoraView> view_;
    int signalFd_ = -1;
    int wakeFd_ = -1;  // eventfd: the view thread wakes the main thread
    bool ending_ = false;
    bool inputOpen_ = true;
    std::string inputPartial_;
    std::deque<std::string> inputLines_;
    uint32_t startTick_ = 0;  // when the logon ended
    uint32_t nextSnapshot_ = 0;
    uint32_t nextFigures_ = 0;

    std::atomic<uint32_t> lastChange_{0};      // tick of the last picture change
    std::atomic<uint32_t> controlAnswers_{0};  // answers seen so far
    std::atomic<int> lastControlCode_{0};      // the code of the last one
    std::atomic<bool> lost_{false};
    std::mutex outputLock_;
};

}  // namespace velmora

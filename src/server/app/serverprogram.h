// The server program without its window: the start-up and shut-down of
// everything the server runs, in a fixed order, and the session
// factory. The headless entry drives it; the window will drive the same
// object.
//
// Start: one instance per user, "ZTVLSRV.INI" from the current directory,
// the engine opened on the configured port P and P + 1 (a port that cannot
// be bound fails the start with a clear message), the session factory, the
// engine started, the window-event hooks installed, the capture thread
// started. The capture thread's start-up status (Status()) then tells the
// driver whether the screen source came up (1), failed (negative: shut down)
// or is still starting (0).
//
// Shut-down: the capture thread is stopped, the engine shut down (which
// ends every session), the hooks removed. The capture object itself lives
// until the engine is gone, since ending sessions still call into it.
//
// Threads: Start, Status and Shutdown run on the driver's thread; the
// reports are called from the sessions' and the capture thread's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/app/instancelock.h"
#include "server/app/serveroptions.h"
#include "server/screen/viewersession.h"

namespace velmora {

class IniFile;
class LiveConfig;
class TScreentCapture;
class UserList;
class XScreenSaverGuard;
class XTestInjector;
class ZTSERVER;
class ZTSERVERCLIENT_THREAD;
class ZthookEvents;

// Where the program's texts go. Each may be called from any thread.
struct ServerReport {
    std::function<void(const std::string& text)> trace;
    std::function<void(const std::string& text)> status;  // the sharing status
    std::function<void(const std::string& text, const std::string& caption)> error;
    // A viewer logged on (with the logon time as "yy-mm-dd hh:nn:ss"), or
    // its session ended.
    std::function<void(const std::string& name, const std::string& time)> userConnected;
    std::function<void(const std::string& name)> userDisconnected;
};

class ServerProgram {
  public:
    static constexpr int kStarted = 1;
    static constexpr int kAlreadyRunning = -1;
    static constexpr int kNoRuntimeDir = -2;
    static constexpr int kPortUnavailable = -3;
    static constexpr int kEngineFailed = -4;
    static constexpr int kCaptureFailed = -5;

    // The engine's size (100 managers of 4 connections) and socket buffers.
    static constexpr int32_t kManagers = 100;
    static constexpr int32_t kHostsPerManager = 4;
    static constexpr uint32_t kSocketBuffer = 300000;
    // The wait after the engine's shut-down, before the session list goes.
    static constexpr uint32_t kFinalWaitMs = 1000;

    ServerProgram(ServerOptions options, ServerReport report);
    ~ServerProgram();
    ServerProgram(const ServerProgram&) = delete;
    ServerProgram& operator=(const ServerProgram&) = delete;

    // kStarted, or a negative code with a sentence in `error` (everything
    // started so far is stopped again).
    [[nodiscard]] int Start(std::string* error);
    // The capture thread's start-up status: 0 starting, 1 running, negative
    // when the screen source could not be started.
    int Status() const;
    void Shutdown();

    uint16_t Port() const { return port_; }
    UserList* Users() { return users_.get(); }
    LiveConfig* Config() { return config_.get(); }
    TScreentCapture* Capture() { return capture_.get(); }

  private:
    std::unique_ptr<ZTSERVERCLIENT_THREAD> CreateSession(int32_t connectionType);
    void Trace(const std::string& text);

    ServerOptions options_;
    ServerReport report_;
    InstanceLock lock_;
    uint16_t port_ = 0;
    bool hooked_ = false;
    bool started_ = false;

    std::unique_ptr<IniFile> ini_;
    std::unique_ptr<LiveConfig> config_;
    std::unique_ptr<UserList> users_;
    std::unique_ptr<XTestInjector> injector_;
    std::unique_ptr<XScreenSaverGuard> saver_;
    std::unique_ptr<ZthookEvents> windowEvents_;
    std::unique_ptr<TScreentCapture> capture_;
    std::unique_ptr<ZTSERVER> engine_;
    SessionServices services_;
};

}  // namespace velmora

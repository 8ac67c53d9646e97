// The server's session with one viewer: the logon exchange, then sending
// what the capture and send threads queued and acting on what the viewer
// sends (mouse, keys, control requests), until the viewer goes or the session
// is asked to stop. VelClient runs it on the engine's per-peer thread.
//
// Logon: a viewer reconnecting from an address that already has a session
// replaces it (the old session disconnects its peer with reason 0 and ends);
// sessions being replaced do not count against the user limit.
//
// Viewer messages are recognised by exact length (17 mouse, 33 control
// request, 642 keys); anything else, including a message longer than the
// 4000-byte receive buffer, is ignored.
//
// Threads: Run() and everything it calls run on the session's thread; the
// ScreenSession side (queue, flags) is shared with the capture and send
// threads (see ScreenSession).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/screen/screensession.h"

namespace velmora {

class InputInjector;
class LiveConfig;
class SessionLink;
class TScreentCapture;
class UserList;
class ViewerSession;

// What every session shares: the session list, the capture thread, the
// injector and the live configuration, and the program's reports (called on
// the session's thread; they must not throw).
struct SessionServices {
    UserList* users = nullptr;
    TScreentCapture* capture = nullptr;
    InputInjector* injector = nullptr;  // none: viewer input is ignored
    LiveConfig* config = nullptr;
    std::function<void(ViewerSession&)> onConnect;     // a viewer logged on
    std::function<void(ViewerSession&)> onDisconnect;  // the session ended
    std::function<void(const std::string&)> onTrace;   // "Mouse Left Button Down"
};

class ViewerSession : public ScreenSession {
  public:
    static constexpr size_t kReceiveBuffer = 4000;
    static constexpr uint32_t kLogonWaitMs = 10000;
    static constexpr uint32_t kSendWaitMs = 1000;
    static constexpr uint32_t kReceiveWaitMs = 5;
    // Disconnect reason for a session replaced by a newer one.
    static constexpr int32_t kReplacedReason = 0;
    static constexpr const char* kLeftButtonTrace = "Mouse Left Button Down";

    // How a session ended (Run's answer).
    static constexpr int kEndedByStop = 1;
    static constexpr int kNoLogon = -1;      // no LOGON_REQUEST in time, or the peer went
    static constexpr int kRefused = -2;      // over the user limit
    static constexpr int kLogonUnsent = -3;  // the answer or the screen record did not go
    static constexpr int kPeerGone = -4;
    static constexpr int kReplaced = -5;

    explicit ViewerSession(const SessionServices& services) : services_(services) {}

    // The whole session on `link`; `stop` is looked at between steps. The
    // session is listed in the user list by whoever created it; Run removes
    // it when it ends.
    int Run(SessionLink& link, const std::function<bool()>& stop);

    // Mouse, keys and control requests by length; anything else is ignored.
    // Public for tests; the session's loop calls it.
    void HandleViewerMessage(const uint8_t* data, size_t length);

  private:
    int LogOn(SessionLink& link, const std::function<bool()>& stop);
    void ReplaceOlderSession(const std::string& address);
    int CountForLimit() const;
    void Serve(SessionLink& link, const std::function<bool()>& stop, int* result);
    void End();
    void Mouse(const uint8_t* data, size_t length);
    void Keys(const uint8_t* data, size_t length);
    void Control(const uint8_t* data, size_t length);
    void Trace(const std::string& text);

    const SessionServices& services_;
    std::array<uint8_t, kReceiveBuffer> receive_{};
    std::vector<uint8_t> sending_;
};

}  // namespace velmora

// The capture thread: watches the shared desktop while at least one viewer
// session is active. Each pass (frameCheckTime apart) it follows screen size
// changes, checks that the screen source still shares, follows window drags
// (DragFollower), scans for changed blocks and queues them with the send
// thread, and sends pointer updates at most every 200 ms. It also serves the
// sessions: the full picture for a new session, the member list and the
// control-right decision.
//
// The screen comes from the screen source program through ZTVL (attach
// starts it, detach stops it). Texts for the user (status, the "source
// missing" error) and trace lines go to the callbacks of CaptureEnvironment.
//
// Locks: captureLock_ serialises the pass's scan (and drag following) with
// screen changes, colour-depth changes and full pictures, and guards the ZTVL
// object and the pointer encoder; controlLock_ serialises control-right
// decisions; infoLock_ guards the screen description (leaf). Order:
// controlLock_ or captureLock_ (never both), then the send thread's encode
// lock, then the user list's lock, then a session's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ztcritical_section.h"
#include "platform/ztthread.h"
#include "server/app/liveconfig.h"
#include "server/screen/appmessages.h"
#include "server/screen/dragfollower.h"
#include "server/screen/tlz.h"
#include "server/screen/tsendcapture.h"
#include "server/screen/userlist.h"
#include "server/screen/ztvl.h"

namespace velmora {

class InputInjector;
class ScreenSaverGuard;
class ScreenSession;
class WindowEventSource;

// The waits of the capture thread; tests shorten them.
struct CaptureTimings {
    uint32_t idleSleepMs = 100;        // a pass while no session is active
    uint32_t pointerPeriodMs = 200;    // pointer updates at most this often
    uint32_t driverCheckMs = 1000;     // the source's sharing flag is looked at this often
    uint32_t settleMs = 1000;          // after the source was attached or remapped again
    uint32_t controlHandOverMs = 500;  // between "taken" and "granted"
    uint32_t stopDrainLimitMs = 3000;  // longest wait for the send queue at stop
    uint32_t minPassSleepMs = 5;       // when a pass took longer than frameCheckTime
};

struct CaptureEnvironment {
    InputInjector* injector = nullptr;          // modifier keys are released through it
    WindowEventSource* windowEvents = nullptr;  // none: no drag notices
    ScreenSaverGuard* screenSaver = nullptr;    // none: the saver is left alone
    // The sharing status text, each time it changes.
    std::function<void(const std::string& text)> onStatus;
    // An error box: text and caption (the source could not be started).
    std::function<void(const std::string& text, const std::string& caption)> onError;
    // Trace lines (details of failures).
    std::function<void(const std::string& text)> onTrace;
};

class TScreentCapture : public ZTTHREAD {
  public:
    // Initialised(): the start-up status the program watches.
    static constexpr int kStarting = 0;
    static constexpr int kRunning = 1;
    static constexpr int kSourceMissing = -1;

    static constexpr const char* kSourceMissingText =
        "ZTVL Display Driver를 찿을 수 없습니다. 드라이브가 설치되어 있지 않으면 설치하십시오.";
    static constexpr const char* kErrorCaption = "오류";
    static constexpr const char* kSharingText = "데스크탑 공유중...";
    static constexpr const char* kNotSharingText = "데스크탑 공유하지 않음";

    static constexpr int kChangedListSize = 1024;
    static constexpr int kFullPictureBatch = 100;
    // A full picture fills the session's queue, which nobody drains meanwhile:
    // it is cut into at most this many messages, so a large screen's picture
    // is not pushed out of the 20-message queue by its own tail.
    static constexpr int kFullPictureMessages = 16;

    TScreentCapture(ZTVL::Options source, LiveConfig& config, UserList& users,
                    CaptureEnvironment environment, CaptureTimings timings = {});
    ~TScreentCapture() override;

    // Starts the thread; false when it could not be created.
    bool Start();
    int Initialised() const { return initialised_.load(); }
    // Asks the thread to end and waits until it has cleaned up.
    void Stop();

    // Main thread: the screen's size changed; acted on at the next pass.
    void RequestResolutionChange(int width, int height);
    // Main thread: viewers get `depth` (24, 16 or 8) from now on.
    void SetColourDepth(int depth);

    // Sessions.
    SCREEN_INFO ScreenInfo() const;
    // Sends the session the pointer with its shape and the whole screen,
    // then marks it active (before the capture goes on, so it misses no
    // change found afterwards).
    void SendFullPicture(ScreenSession& session);
    void SendMemberList();
    // The requester asks for the control right: true when it got it.
    bool DecideControlRequest(ScreenSession& requester);

    TSendCapture& Sender() { return sender_; }
    // The screen source (for tests: where its files are, its process).
    const ZTVL& Source() const { return ztvl_; }

  private:
    class DragBridge;

    static uint32_t ThreadProc(void* self);
    void Loop();
    bool StartUp();
    void ShutDown();
    void Pass();
    void ShowStatus();
    bool CheckSource();
    void ScanAndQueue();
    // Under captureLock_: pause, map the source's files again, tell viewers.
    void ChangeScreen();
    void SendPointerUpdate(ScreenSession* session);
    void BroadcastScreenInfo();
    void ReleaseModifiers();
    void Trace(const std::string& text);
    FrameView View() const;

    LiveConfig& config_;
    UserList& users_;
    CaptureEnvironment env_;
    const CaptureTimings timings_;

    ZTCRITICAL_SECTION captureLock_;
    std::mutex controlLock_;
    mutable std::mutex infoLock_;

    ZTVL ztvl_;
    TSendCapture sender_;
    TLZ pointerLz_;
    std::vector<uint8_t> pointerBits_;
    std::vector<uint8_t> pointerMessage_;
    DragFollower drag_;
    std::vector<int32_t> changed_;
    SCREEN_INFO screenInfo_{};

    std::atomic<int> initialised_{kStarting};
    std::atomic<bool> resolutionPending_{false};
    std::atomic<int> pendingWidth_{0}, pendingHeight_{0};
    uint32_t lastPointerMs_ = 0;
    uint32_t lastSourceCheckMs_ = 0;
    int shownSharing_ = -1;  // the status last shown: -1 none, 0 or 1
};

}  // namespace velmora

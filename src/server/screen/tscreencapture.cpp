#include "server/screen/tscreencapture.h"

#include <algorithm>
#include <utility>

#include "platform/tick.h"
#include "server/screen/inputinjector.h"
#include "server/screen/screensaverguard.h"
#include "server/screen/windoweventsource.h"

namespace velmora {

// What drag following needs, served by the capture thread.
class TScreentCapture::DragBridge final : public DragContext {
  public:
    explicit DragBridge(TScreentCapture& capture) : c_(capture) {}
    uint32_t Now() override { return Tick(); }
    void Sleep(uint32_t ms) override { SleepMs(ms); }
    bool ShouldStop() override { return c_.StopRequested(); }
    bool TakeWindowEvent(HOOKEVENT* record) override { return c_.env_.windowEvents->Take(record); }
    void PointerPosition(int32_t* x, int32_t* y) override {
        c_.env_.windowEvents->PointerPosition(x, y);
    }
    void SendWindowDrag(const WINDOW_DRAG& notice) override {
        c_.users_.Broadcast(RecordBytes(notice), sizeof notice);
    }
    void SendPointerUpdate() override { c_.SendPointerUpdate(nullptr); }
    int ScanBlocks(int32_t* list, int capacity) override {
        return c_.ztvl_.ScanChangedBlocks(list, capacity);
    }
    int BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list,
                       int capacity) override {
        return c_.ztvl_.BlocksCovering(minX, minY, maxX, maxY, list, capacity);
    }
    int GridBlocks() override { return c_.ztvl_.Grid().Count(); }
    void QueueBlocks(const int32_t* numbers, int count) override {
        c_.sender_.QueueBlocks(numbers, count);
    }
    bool SendQueueEmpty() override { return c_.sender_.QueueEmpty(); }

  private:
    TScreentCapture& c_;
};

TScreentCapture::TScreentCapture(ZTVL::Options source, LiveConfig& config, UserList& users,
                                 CaptureEnvironment environment, CaptureTimings timings)
    : config_(config),
      users_(users),
      env_(std::move(environment)),
      timings_(timings),
      ztvl_(std::move(source)),
      sender_(config, users),
      changed_(kChangedListSize) {
    threadProc = &TScreentCapture::ThreadProc;
    pointerLz_.SetLevel(6);
}

TScreentCapture::~TScreentCapture() {
    Stop();
}

bool TScreentCapture::Start() {
    return Run(true);
}

void TScreentCapture::Stop() {
    if (IsStarted()) StopAndWait(10);
}

uint32_t TScreentCapture::ThreadProc(void* self) {
    static_cast<TScreentCapture*>(self)->Loop();
    return 0;
}

void TScreentCapture::Loop() {
    BeginLoop();
    if (StartUp()) {
        while (!StopRequested()) Pass();
        ShutDown();
    }
    EndLoop();
}

void TScreentCapture::Trace(const std::string& text) {
    if (env_.onTrace) env_.onTrace(text);
}

FrameView TScreentCapture::View() const {
    if (!ztvl_.Mapped()) return {};
    return {&ztvl_.Grid(), ztvl_.FrameBuffer(), ztvl_.Grid().FrameBytes()};
}

bool TScreentCapture::StartUp() {
    CsGuard guard(captureLock_);
    if (env_.screenSaver != nullptr) env_.screenSaver->Suspend();
    if (ztvl_.Attach() != ZTVL::kOk) {
        Trace(ztvl_.LastError());
        if (env_.onError) env_.onError(kSourceMissingText, kErrorCaption);
        if (env_.screenSaver != nullptr) env_.screenSaver->Restore();
        initialised_.store(kSourceMissing);
        return false;
    }
    if (ztvl_.MapFiles() != ZTVL::kOk) Trace("screen source: " + ztvl_.LastError());
    (void)ztvl_.SetSharing(1);
    {
        std::lock_guard<std::mutex> info(infoLock_);
        screenInfo_ =
            MakeScreenInfo(config_.ColorBits(), int16_t(ztvl_.Width()), int16_t(ztvl_.Height()));
    }
    ReleaseModifiers();
    sender_.SetFrame(View());
    if (!sender_.Start()) Trace("the send thread could not be started");
    lastPointerMs_ = lastSourceCheckMs_ = Tick();
    initialised_.store(kRunning);
    return true;
}

void TScreentCapture::ShutDown() {
    const uint32_t begin = Tick();
    while (!sender_.QueueEmpty() && TickSince(begin) < timings_.stopDrainLimitMs) SleepMs(10);
    {
        CsGuard guard(captureLock_);
        (void)ztvl_.SetSharing(0);
        (void)ztvl_.Detach();
    }
    sender_.Stop();
    if (env_.screenSaver != nullptr) env_.screenSaver->Restore();
    ReleaseModifiers();
}

void TScreentCapture::ReleaseModifiers() {
    if (env_.injector != nullptr) ReleaseModifierKeys(*env_.injector);
}

void TScreentCapture::RequestResolutionChange(int width, int height) {
    pendingWidth_.store(width);
    pendingHeight_.store(height);
    resolutionPending_.store(true);
}

void TScreentCapture::SetColourDepth(int depth) {
    CsGuard guard(captureLock_);
    sender_.Pause();
    {
        std::lock_guard<std::mutex> info(infoLock_);
        screenInfo_.depth = uint8_t(depth);
    }
    // The live record's depth is the one the send thread encodes with.
    config_.Update([depth](VelmoraConfig& c) { c.colorBits = uint8_t(depth); });
    if (ztvl_.ReattachAndRemap() != ZTVL::kOk) Trace("screen source: " + ztvl_.LastError());
    (void)ztvl_.SetSharing(1);
    sender_.SetFrame(View());
    SleepMs(timings_.settleMs);
    BroadcastScreenInfo();
    sender_.Resume();
}

void TScreentCapture::ChangeScreen() {
    sender_.Pause();
    if (ztvl_.ReattachAndRemap() != ZTVL::kOk) Trace("screen source: " + ztvl_.LastError());
    (void)ztvl_.SetSharing(1);
    bool sizeChanged = false;
    {
        std::lock_guard<std::mutex> info(infoLock_);
        sizeChanged = screenInfo_.width != ztvl_.Width() || screenInfo_.height != ztvl_.Height();
        screenInfo_.width = int16_t(ztvl_.Width());
        screenInfo_.height = int16_t(ztvl_.Height());
    }
    sender_.SetFrame(View());
    SleepMs(timings_.settleMs);
    if (sizeChanged) BroadcastScreenInfo();
    sender_.Resume();
}

void TScreentCapture::Pass() {
    // 1. A new screen size, announced by the program or found in the file.
    if (resolutionPending_.exchange(false)) {
        CsGuard guard(captureLock_);
        const SCREEN_INFO info = ScreenInfo();
        if (pendingWidth_.load() != info.width || pendingHeight_.load() != info.height) {
            ChangeScreen();
        }
    }
    if (ztvl_.NeedsRemap()) {
        CsGuard guard(captureLock_);
        ChangeScreen();
    }
    // 2. The status text.
    ShowStatus();
    // 3. Nobody watches: sleep.
    if (users_.CountActive() == 0) {
        if (env_.screenSaver != nullptr) env_.screenSaver->Recheck();
        SleepMs(timings_.idleSleepMs);
        return;
    }
    // 4. The source stopped sharing (it ended or switched modes).
    if (TickSince(lastSourceCheckMs_) >= timings_.driverCheckMs) {
        if (CheckSource()) SleepMs(timings_.settleMs);
        lastSourceCheckMs_ = Tick();
    }
    // 5 - 7.
    const uint32_t start = Tick();
    ScanAndQueue();
    // 8, 9.
    const uint32_t took = TickSince(start);
    const uint32_t period = config_.Current().frameCheckTime;
    SleepMs(took < period ? period - took : timings_.minPassSleepMs);
    if (env_.screenSaver != nullptr) env_.screenSaver->Recheck();
}

void TScreentCapture::ShowStatus() {
    const int sharing = ztvl_.Sharing() == 1 ? 1 : 0;
    if (sharing == shownSharing_) return;
    shownSharing_ = sharing;
    if (env_.onStatus) env_.onStatus(sharing == 1 ? kSharingText : kNotSharingText);
}

bool TScreentCapture::CheckSource() {
    if (ztvl_.Sharing() != 0) return false;
    CsGuard guard(captureLock_);
    if (!ztvl_.Mapped() || ztvl_.NeedsRemap()) {
        ChangeScreen();
        return false;  // ChangeScreen waited already
    }
    if (ztvl_.Attach() != ZTVL::kOk) {
        Trace("screen source: " + ztvl_.LastError());
        return false;
    }
    (void)ztvl_.SetSharing(1);
    return true;
}

void TScreentCapture::ScanAndQueue() {
    CsGuard guard(captureLock_);
    HOOKEVENT record{};
    if (env_.windowEvents != nullptr && env_.windowEvents->Take(&record) &&
        record.message == kWmEnterSizeMove && env_.windowEvents->FullWindowDrag()) {
        DragBridge bridge(*this);
        drag_.Run(bridge, record, lastPointerMs_);
    }
    int n = ztvl_.ScanChangedBlocks(changed_.data(), kChangedListSize);
    n = std::max(n, 0);
    // Drag blocks that do not fit wait for the next pass.
    std::vector<int32_t>& pending = drag_.PendingBlocks();
    const int take = std::min<int>(kChangedListSize - n, int(pending.size()));
    std::copy_n(pending.begin(), take, changed_.begin() + n);
    pending.erase(pending.begin(), pending.begin() + take);
    n += take;
    if (n > 0) sender_.QueueBlocks(changed_.data(), n);
    if (TickSince(lastPointerMs_) >= timings_.pointerPeriodMs) {
        SendPointerUpdate(nullptr);
        lastPointerMs_ = Tick();
    }
}

}  // namespace velmora

#include "server/screen/tsendcapture.h"

#include <algorithm>

#include "platform/tick.h"
#include "server/screen/screensession.h"

namespace velmora {

TSendCapture::TSendCapture(const LiveConfig& config, UserList& users)
    : config_(config), users_(users), batch_(kMaxBatch) {
    threadProc = &TSendCapture::ThreadProc;
}

TSendCapture::~TSendCapture() {
    Stop();
}

bool TSendCapture::Start() {
    {
        std::lock_guard<std::mutex> guard(encodeLock_);
        encoder_.SetLevel(config_.Get().compressLevel);
    }
    enabled_.store(true);
    return Run(true);
}

void TSendCapture::Stop() {
    if (IsStarted()) StopAndWait(10);
}

uint32_t TSendCapture::ThreadProc(void* self) {
    static_cast<TSendCapture*>(self)->Loop();
    return 0;
}

void TSendCapture::Loop() {
    BeginLoop();
    while (!StopRequested()) {
        const uint32_t start = Tick();
        if (!enabled_.load()) {
            SleepMs(kDisabledSleepMs);
            continue;
        }
        Pass();
        const uint32_t delay = config_.Current().frameServiceDelay;
        const uint32_t took = TickSince(start);
        SleepMs(took < delay ? delay - took : 1);
    }
    EndLoop();
}

void TSendCapture::Pass() {
    std::lock_guard<std::mutex> guard(encodeLock_);
    if (!enabled_.load()) return;  // paused between the look and the lock
    // maxSendBlock comes from a hand-editable file: 0 would stall the picture
    // and more than kMaxBatch would overrun the batch.
    const int max = std::clamp<int>(config_.Current().maxSendBlock, 1, kMaxBatch);
    const int count = queue_.Take(max, batch_.data());
    if (count == 0 || users_.CountActive() == 0) return;
    (void)EncodeLocked(batch_.data(), count, nullptr);
}

void TSendCapture::SetFrame(const FrameView& view) {
    std::lock_guard<std::mutex> guard(encodeLock_);
    view_ = view;
    (void)queue_.Reset(view.grid != nullptr ? view.grid->Count() : 0);
    encoder_.ClearColourCache();
}

int TSendCapture::EncodeAndSend(const int32_t* numbers, int count, ScreenSession* session) {
    std::lock_guard<std::mutex> guard(encodeLock_);
    return EncodeLocked(numbers, count, session);
}

int TSendCapture::EncodeLocked(const int32_t* numbers, int count, ScreenSession* session) {
    const int length = encoder_.Encode(view_, numbers, count, config_.ColorBits());
    if (length <= 0) {
        if (length < 0) failures_.fetch_add(1);
        return length;
    }
    const auto& message = encoder_.Message();
    int copies = 0;
    if (session != nullptr) {
        copies = session->QueueMessage(message.data(), message.size()) ? 1 : 0;
    } else {
        copies = users_.Broadcast(message.data(), message.size());
    }
    batches_.fetch_add(1);
    blocks_.fetch_add(uint64_t(count));
    payloadBytes_.fetch_add(encoder_.PayloadBytes());
    messageBytes_.fetch_add(message.size());
    copies_.fetch_add(uint64_t(copies));
    return length;
}

void TSendCapture::Pause() {
    // Taking the lock waits for a batch in progress; the thread looks at the
    // flag again under the lock, so no batch starts after this returns.
    std::lock_guard<std::mutex> guard(encodeLock_);
    enabled_.store(false);
}

void TSendCapture::Resume() {
    enabled_.store(true);
}

SendStats TSendCapture::Stats() const {
    return {batches_.load(),      blocks_.load(), payloadBytes_.load(),
            messageBytes_.load(), copies_.load(), failures_.load()};
}

}  // namespace velmora

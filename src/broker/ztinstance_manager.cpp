#include "broker/ztinstance_manager.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "broker/serverlifecheck.h"
#include "broker/ztcreatedisconnectthread.h"
#include "broker/ztcreatenewthread.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"

namespace velmora {
namespace {

// How often the whole list is walked even when the slots in use are few.
constexpr uint32_t kFullScanMs = 1000;

}  // namespace

// The list is 124000 bytes; walking all of it is most of what an idle
// manager costs. Applications claim the first free slot, so a request never
// lies beyond the first slot after the highest one seen in use: only that
// far is walked, and the whole list once a second for anything else.
ZTINSTANCE_MANAGER::Requests ZTINSTANCE_MANAGER::FindRequests(uint32_t now) {
    int32_t limit = std::min(kInstanceSlots, highestInUse_ + 2);
    if (TickDiff(now, lastFullScan_) >= kFullScanMs) {
        lastFullScan_ = now;
        limit = kInstanceSlots;
    }
    Requests r;
    for (int32_t i = 0; i < limit; ++i) {
        const int32_t state = SlotState(engine_.Slot(i));
        if (state == nsNotUse) continue;
        if (i > highestInUse_) highestInUse_ = i;
        if (state == nsNewConnection && r.connect < 0) r.connect = i;
        if (state == nsDisConnected && r.close < 0) r.close = i;
    }
    return r;
}

namespace {}  // namespace

ZTINSTANCE_MANAGER::ZTINSTANCE_MANAGER(ZTCLIENT& engine, std::function<void()> onExitRequest,
                                       EchoSocketOpener pingOpener)
    : engine_(engine),
      settings_(engine.Settings()),
      onExitRequest_(std::move(onExitRequest)),
      pingOpener_(std::move(pingOpener)) {
    threadProc = &ZTINSTANCE_MANAGER::Proc;
    managerRunning_.store(true);
    (void)Run(true);
}

ZTINSTANCE_MANAGER::~ZTINSTANCE_MANAGER() {
    Stop();
}

void ZTINSTANCE_MANAGER::Stop() {
    stopWanted_.store(true);
    managerRunning_.store(false);
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        RequestStop();
    }
    stopCv_.notify_all();
    (void)StopAndWait(5);
    // The loop has ended: the workers are ours now. Set-ups give up, life
    // checks stop early, closes finish their bounded wait.
    for (auto& worker : workers_) worker->RequestStop();
    workers_.clear();
    serverCheck_ = nullptr;
}

void ZTINSTANCE_MANAGER::SetupEnded() {
    int32_t n = setups_.load();
    while (n > 0 && !setups_.compare_exchange_weak(n, n - 1)) {
    }
}

uint32_t ZTINSTANCE_MANAGER::Proc(void* self) {
    static_cast<ZTINSTANCE_MANAGER*>(self)->Loop();
    return 0;
}

void ZTINSTANCE_MANAGER::WaitForStop(uint32_t ms) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopRequested(); });
}

void ZTINSTANCE_MANAGER::Loop() {
    BeginLoop();
    const uint32_t start = Tick();
    lastServerCheck_ = lastApplicationCheck_ = lastActivity_ = start;
    while (!StopRequested()) {
        ReapWorkers();
        const uint32_t now = Tick();
        if (Pass(now)) lastActivity_ = now;
        const bool quiet = TickDiff(now, lastActivity_) >= settings_.quietAfterMs;
        WaitForStop(quiet ? settings_.managerQuietPollMs : settings_.managerActivePollMs);
    }
    EndLoop();
}

bool ZTINSTANCE_MANAGER::Pass(uint32_t now) {
    if (!engine_.HasInstanceList()) return false;
    bool activity = false;
    const Requests requests = FindRequests(now);
    if (SlotState(engine_.Slot(0)) == nsBrokerExit) {
        if (!exitPosted_) {
            exitPosted_ = true;
            if (onExitRequest_) onExitRequest_();
        }
    } else {
        const int32_t request = requests.connect;
        if (request >= 0 && setups_.load() < static_cast<int32_t>(settings_.maxSetupThreads)) {
            ZTINSTANCE_SLOT& slot = engine_.Slot(request);
            if (ChangeSlotState(slot, nsNewConnection, nsCreating)) {
                const int32_t running = setups_.fetch_add(1) + 1;
                if (running > maxSetupsSeen_.load()) maxSetupsSeen_.store(running);
                StartWorker(
                    std::make_unique<ZTCREATENEWTHREAD>(*this, request, slot.connectionType.get()));
            }
            activity = true;
        }
    }
    const int32_t closing = requests.close;
    if (closing >= 0 && ChangeSlotState(engine_.Slot(closing), nsDisConnected, nsDisConnecting)) {
        StartWorker(std::make_unique<ZTCREATEDISCONNECTTHREAD>(engine_, closing));
        activity = true;
    }
    if (TickDiff(now, lastServerCheck_) >= settings_.lifeCheckIntervalMs) {
        lastServerCheck_ = now;
        if (serverCheck_ == nullptr) {
            auto check = std::make_unique<ServerLifeCheck>(engine_, pingOpener_);
            serverCheck_ = check.get();
            StartWorker(std::move(check));
        }
    }
    if (TickDiff(now, lastApplicationCheck_) >= settings_.lifeCheckIntervalMs) {
        lastApplicationCheck_ = now;
        CheckApplications(now);
    }
    return activity;
}

void ZTINSTANCE_MANAGER::StartWorker(std::unique_ptr<ZTTHREAD> worker) {
    if (worker->Run(true)) {
        workers_.push_back(std::move(worker));
        return;
    }
    // No thread: a set-up that never ran must not hold its place.
    if (dynamic_cast<ZTCREATENEWTHREAD*>(worker.get()) != nullptr) SetupEnded();
    if (worker.get() == serverCheck_) serverCheck_ = nullptr;
}

void ZTINSTANCE_MANAGER::ReapWorkers() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->HasExited()) {
            if (it->get() == serverCheck_) serverCheck_ = nullptr;
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void ZTINSTANCE_MANAGER::CheckServers() {
    ServerLifeCheck check(engine_, pingOpener_);
    check.RunOnce();
}

void ZTINSTANCE_MANAGER::CheckApplications(uint32_t now) {
    if (!engine_.HasInstanceList()) return;
    const uint32_t limit = settings_.applicationSilenceMs;
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        ZTINSTANCE_SLOT& slot = engine_.Slot(i);
        const int32_t state = SlotState(slot);
        const bool silent = TickDiff(now, slot.lastApplicationSendTick.get()) > limit;
        if (!silent) continue;
        if (state == nsError) {
            // A failed request that no application collected.
            (void)ChangeSlotState(slot, nsError, nsNotUse);
        } else if (state == nsConnected) {
            const int8_t counter = LoadShared(slot.silenceCounter);
            if (counter <= 0) {
                slot.lastApplicationSendTick = now;
                StoreShared(slot.silenceCounter, static_cast<int8_t>(counter + 1));
            } else if (ChangeSlotState(slot, nsConnected, nsDisConnected)) {
                engine_.Logf(false, "%d 의 APPLICATION이 오랫동안 응답이 없어 연결을 해제합니다",
                             i);
            }
        }
    }
}

void ZTINSTANCE_MANAGER::Error(ZTCLIENTINSTANCE& connection) {
    (void)ChangeSlotState(connection.Slot(), nsConnected, nsDisConnected);
}

}  // namespace velmora

// The host table's records: take, release, marks, managers, and the two
// datagrams the router and the managers send for a record (acknowledgements
// and refusals).
#include <cstring>

#include "platform/tick.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztserver.h"
#include "server/engine/ztserverclient_thread.h"
#include "server/engine/ztservermaster_thread.h"
#include "transport/controlmessages.h"

namespace velmora {

namespace {

// The estimate a connection starts with: every sample 90 ms, averaged over
// the smallest 90 %.
constexpr uint32_t kInitialRttMs = 90;
constexpr uint32_t kInitialRttPercent = 90;

}  // namespace

ZTHOSTLIST* ZTSERVER::Take(uint32_t addressRaw, uint16_t key, uint16_t portRaw, uint16_t ackPortRaw,
                           int32_t connectionType) {
    // Only the router takes records, so the one found stays free while it is
    // prepared outside the table lock (which stays a leaf).
    ZTHOSTLIST* host = nullptr;
    {
        CsGuard guard(tableLock_);
        for (const auto& h : hosts_) {
            if (h->State() == hsFree) {
                host = h.get();
                break;
            }
        }
    }
    if (host == nullptr) return nullptr;
    if (!host->HasLists()) host->CreateLists();
    // Kept lists were emptied at release; a packet routed to the record
    // while it was being released may have slipped in since.
    host->EmptyLists();
    PacketOrigin origin;
    origin.connectionKey = key;
    origin.senderAddressRaw = localAddress_;
    host->sender->SetOrigin(origin);
    host->sender->StartEstimate(kInitialRttMs, kInitialRttPercent);
    std::memset(host->peerId, 0, sizeof(host->peerId));
    host->sendTimeouts.store(0);
    host->txRate.store(0);
    host->rxRate.store(0);
    host->bytesSent.store(0);
    host->bytesReceived.store(0);
    host->lastSendProgress.store(0);
    host->lastReceive.store(0);
    host->rxWindowStart = host->txWindowStart = 0;
    host->rxWindowBytes.store(0);
    host->txWindowBytes.store(0);
    host->pauseSent = false;
    host->lastLifeCheck = Tick();
    host->rx = ZTHOSTLIST::ReceiveState{};
    {
        CsGuard guard(tableLock_);
        host->allocation_ = haInUse;
        host->generation_.fetch_add(1);
        host->address = addressRaw;
        host->connectionKey = key;
        host->port = portRaw;
        host->ackPort = ackPortRaw;
        host->connectionType = connectionType;
        host->state_.store(hsConnecting);
    }

    std::unique_ptr<ZTSERVERCLIENT_THREAD> thread;
    try {
        // The memory-block service gives type 3 its own thread; the
        // application is not asked for one.
        if (connectionType == ctMemoryService) {
            if (createMemoryServiceThread) thread = createMemoryServiceThread(*host);
        } else if (mode == emClientThread && callbacks.OnCreateClientThread) {
            thread = callbacks.OnCreateClientThread(*host, connectionType);
        }
    } catch (...) {
        thread.reset();
    }
    if (thread) {
        thread->Attach(*this, *host);
        if (thread->Run(false)) host->thread = std::move(thread);
    }
    if (mode == emMasterThread && master_) {
        ZTSERVERMASTER_THREAD* master = master_.get();
        Guarded([master](ZTHOSTLIST& h) { master->HostAdded(h); }, *host);
    }
    Guarded(callbacks.OnHostConnect, *host);
    return host;
}

bool ZTSERVER::CompleteConnect(ZTHOSTLIST& host) {
    int32_t expected = hsConnecting;
    if (!host.state_.compare_exchange_strong(expected, hsConnected)) return false;
    if (host.thread) host.thread->Run(true);
    host.dataSignal.Raise();
    return true;
}

bool ZTSERVER::MarkDropping(ZTHOSTLIST& host, uint32_t generation) {
    for (;;) {
        int32_t state = host.state_.load();
        if (state != hsConnected && state != hsConnecting) return false;
        if (host.generation_.load() != generation) return false;
        if (host.state_.compare_exchange_weak(state, hsDropping)) break;
    }
    host.dataSignal.Raise();
    return true;
}

bool ZTSERVER::StopClientThread(ZTHOSTLIST& host) {
    ZTSERVERCLIENT_THREAD* thread = host.thread.get();
    thread->RequestStop();
    host.dataSignal.Raise();
    return thread->StopAndWait(1, settings_.clientStopLimitMs);
}

bool ZTSERVER::Release(ZTHOSTLIST& host, bool keepLists) {
    if (host.State() != hsFree) {
        Guarded(callbacks.OnHostDisconnect, host);
        if (mode == emMasterThread && master_) {
            ZTSERVERMASTER_THREAD* master = master_.get();
            Guarded([master](ZTHOSTLIST& h) { master->HostRemoved(h); }, host);
        }
        if (host.thread && !StopClientThread(host)) {
            // The thread may still hold the record (or a lock of its lists):
            // nothing of it is touched until the thread has left.
            host.thread->orphaned_.store(true);
            host.orphaned_.store(true);
            int32_t state = host.state_.load();
            while (state != hsDropping && !host.state_.compare_exchange_weak(state, hsDropping)) {
            }
            return false;
        }
    }
    CompleteRelease(host, keepLists);
    return true;
}

bool ZTSERVER::FinishOrphan(ZTHOSTLIST& host, bool keepLists) {
    if (host.thread && !host.thread->HasExited()) return false;
    CompleteRelease(host, keepLists);
    return true;
}

void ZTSERVER::CompleteRelease(ZTHOSTLIST& host, bool keepLists) {
    if (host.thread) {
        try {
            host.thread->ThreadFinish();
        } catch (...) {
        }
        host.thread.reset();
    }
    if (keepLists) {
        host.EmptyLists();
    } else {
        host.DestroyLists();
    }
    {
        CsGuard guard(tableLock_);
        host.allocation_ = keepLists && host.HasLists() ? haKept : haNone;
        host.address = 0;
        host.connectionKey = 0;
        host.connectionType = 0;
        host.sendTimeouts.store(0);
        host.txRate.store(0);
        host.rxRate.store(0);
        host.lastSendProgress.store(0);
        host.lastReceive.store(0);
        host.orphaned_.store(false);
        host.state_.store(hsFree);
    }
    host.dataSignal.Raise();
}

void ZTSERVER::ReleaseAllAtShutdown() {
    // Every application thread is asked first, so that they end together
    // rather than one limit after another; records still in use stop
    // counting as connected, so their threads' calls answer at once.
    for (const auto& host : hosts_) {
        if (host->thread) host->thread->RequestStop();
        (void)MarkDropping(*host, host->Generation());
    }
    for (auto& host : hosts_) {
        if (host->State() == hsFree && host->Allocation() == haNone) continue;
        const bool released =
            host->orphaned_.load() ? FinishOrphan(*host, false) : Release(*host, false);
        if (released || (host->thread && StopClientThread(*host) && FinishOrphan(*host, false)))
            continue;
        // Note: a thread that has not left after a second limit keeps its
        // object and its record alive for the rest of the process; it must
        // not call the engine after the engine is destroyed.
        (void)host->thread.release();
        (void)host.release();
    }
    hosts_.clear();
}

ZTHOSTS* ZTSERVER::FindManagerWithRoom() {
    CsGuard guard(tableLock_);
    for (const auto& manager : managers_)
        if (manager->Count() < static_cast<uint32_t>(manager->Capacity())) return manager.get();
    return nullptr;
}

ZTHOSTS* ZTSERVER::CreateManager() {
    CsGuard guard(tableLock_);
    managers_.push_back(std::make_unique<ZTHOSTS>(*this, hostsPerManager_));
    ZTHOSTS* manager = managers_.back().get();
    managerCount_.fetch_add(1);
    if (settings_.startManagerThreads && manager->Run(true)) manager->SetNice(-10);
    return manager;
}

void ZTSERVER::SendAck(const ZTHOSTLIST& host, PACKETRETURN answer, const ZTPACKET_INLIST& inList) {
    answer.pendingFrames = static_cast<uint16_t>(inList.FrameCount());
    (void)udp_.SendTo(sendSocket_.Get(), answer.senderAddress.raw(), host.ackPort, kAckSendWaitMs,
                      &answer, sizeof(answer));
}

void ZTSERVER::Refuse(const PACKETRECEIVED& entry) {
    ZTPACKET packet = entry.packet;
    MakeRefusal(packet);
    (void)udp_.SendTo(receiveSocket_.Get(), entry.sourceAddress.raw(), entry.sourcePort.raw(),
                      settings_.refusalWaitMs, &packet, sizeof(packet));
}

}  // namespace velmora

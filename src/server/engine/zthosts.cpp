#include "server/engine/zthosts.h"

#include <algorithm>

#include "platform/tick.h"
#include "server/engine/zthostlifecheck.h"
#include "server/engine/ztserver.h"
#include "server/engine/ztservermaster_thread.h"
#include "transport/controlmessages.h"

namespace velmora {

namespace {

// Where a record's frames go: from the engine's receive socket (port P) to
// the peer's address and source port. The transmission of a frame stops as
// soon as the record leaves hsConnected.
class HostSink : public DatagramSink {
  public:
    HostSink(const ZTUDP& udp, int socket, const ZTHOSTLIST& host)
        : udp_(udp), socket_(socket), host_(host) {}
    int32_t Send(const void* data, size_t length) override {
        return udp_.SendTo(socket_, host_.address, host_.port, kPacketSendWaitMs, data, length);
    }
    bool Active() const override { return host_.State() == hsConnected; }

  private:
    const ZTUDP& udp_;
    int socket_;
    const ZTHOSTLIST& host_;
};

}  // namespace

ZTHOSTS::ZTHOSTS(ZTSERVER& engine, int32_t capacity) : engine_(engine), capacity_(capacity) {
    threadProc = &ZTHOSTS::Proc;
}

ZTHOSTS::~ZTHOSTS() {
    Stop();
}

void ZTHOSTS::Add(ZTHOSTLIST& host) {
    {
        CsGuard guard(lock_);
        hosts_.push_back(&host);
        count_.fetch_add(1);
        host.manager.store(this);
    }
    Wake();
}

uint32_t ZTHOSTS::Proc(void* parameter) {
    auto* self = static_cast<ZTHOSTS*>(static_cast<ZTTHREAD*>(parameter));
    const EngineSettings& settings = self->engine_.Settings();
    self->BeginLoop();
    while (!self->StopRequested()) {
        const uint64_t seen = self->wake_.Count();
        self->Pass(Tick());
        self->wake_.Wait(seen, self->count_.load() != 0 ? settings.managerBusySleepMs
                                                        : settings.managerIdleSleepMs);
    }
    self->EndLoop();
    return 0;
}

void ZTHOSTS::Stop() {
    RequestStop();
    wake_.Raise();
    (void)StopAndWait(1);
    CsGuard guard(lock_);
    // A probe's wait ends at its stop request.
    lifeChecks_.clear();
    for (ZTHOSTLIST* host : hosts_) host->manager.store(nullptr);
    hosts_.clear();
    leaving_.clear();
    count_.store(0);
}

void ZTHOSTS::Pass(uint32_t now) {
    CsGuard guard(lock_);
    Reap();
    for (auto it = hosts_.begin(); it != hosts_.end();) {
        ZTHOSTLIST& host = **it;
        if (host.State() != hsDropping) {
            Serve(host, now);
            ++it;
            continue;
        }
        it = hosts_.erase(it);
        count_.fetch_sub(1);
        host.manager.store(nullptr);
        if (!engine_.Release(host, true)) leaving_.push_back(&host);
        // Release may have waited; the walk starts again from the beginning.
        it = hosts_.begin();
    }
}

void ZTHOSTS::Reap() {
    std::erase_if(lifeChecks_,
                  [](const std::unique_ptr<ZTHOSTLIFECHECK>& check) { return check->HasExited(); });
    std::erase_if(leaving_, [this](ZTHOSTLIST* host) { return engine_.FinishOrphan(*host, true); });
}

void ZTHOSTS::Serve(ZTHOSTLIST& host, uint32_t now) {
    DeliverFrames(host);
    if (auto packet = host.controlCompleteList->Get()) HandleControl(host, *packet);

    HostSink sink(udp_, engine_.receiveSocket_.Get(), host);
    host.sender->SenderPass(now, sink);
    host.sender->ApplyAcknowledgements(kControlChannel, *host.controlAcks, now);
    if (host.State() == hsConnected)
        host.sender->ApplyAcknowledgements(kDataChannel, *host.dataAcks, now);
    FlowAndRates(host, now);
    LifeCheck(host, now);
}

void ZTHOSTS::DeliverFrames(ZTHOSTLIST& host) {
    while (auto answer = host.controlInList->DeliverNext(*host.controlCompleteList))
        engine_.SendAck(host, *answer, *host.controlInList);
    bool delivered = false;
    while (auto answer = host.dataInList->DeliverNext(*host.dataCompleteList)) {
        engine_.SendAck(host, *answer, *host.dataInList);
        delivered = true;
    }
    if (delivered) host.dataSignal.Raise();
}

void ZTHOSTS::HandleControl(ZTHOSTLIST& host, const ZTPACKET& packet) {
    ControlMessage m;
    // Unknown codes, messages shorter than their payload and packets of
    // longer messages are ignored.
    if (!IsSinglePacketMessage(packet) || ReadControlPacket(packet, m) != cmOk) return;
    switch (m.code) {
        case ccConnect: {
            // Only a record still connecting completes; one marked meanwhile
            // stays marked, and a connected one keeps what it has.
            if (host.State() != hsConnecting) break;
            host.connectionType = m.connectionType;
            std::copy(std::begin(m.peerId), std::end(m.peerId), std::begin(host.peerId));
            if (m.connectionType != ctMemoryService && engine_.mode == emClientThread &&
                !host.thread)
                SleepMs(engine_.Settings().connectWithoutThreadSleepMs);
            (void)engine_.CompleteConnect(host);
            break;
        }
        case ccEcho: {
            const CONTROL_ECHO reply =
                MakeEchoReply(packet.data, PacketPayloadLength(packet), Tick());
            (void)engine_.HostSend(host, kControlChannel, 1, &reply, sizeof(reply),
                                   engine_.Settings().echoReplyWaitMs);
            break;
        }
        case ccFlow:
            host.sender->SetPaused(m.flow != kFlowResume);
            break;
        default:  // ccDisconnect: the router has marked the record already
            break;
    }
}

void ZTHOSTS::FlowAndRates(ZTHOSTLIST& host, uint32_t now) {
    const EngineSettings& settings = engine_.Settings();
    const uint32_t limit = settings.flowThreshold;
    const uint32_t packets = host.dataCompleteList->Count();
    const uint32_t frames = host.dataInList->FrameCount();
    if (host.dataInList->BusyReplied() && !host.pauseSent && (packets > limit || frames > limit)) {
        host.pauseSent = true;
        const CONTROL_FLOW pause = MakeFlow(kFlowPause);
        (void)engine_.HostSend(host, kControlChannel, 0, &pause, sizeof(pause), 0);
    }
    if (host.pauseSent && packets < limit && frames < limit) {
        host.pauseSent = false;
        const CONTROL_FLOW resume = MakeFlow(kFlowResume);
        (void)engine_.HostSend(host, kControlChannel, 0, &resume, sizeof(resume), 0);
    }

    if (host.rxWindowStart == 0) host.rxWindowStart = now;
    if (TickDiff(now, host.rxWindowStart) >= settings.rateWindowMs) {
        host.rxRate.store(host.rxWindowBytes.exchange(0));
        host.rxWindowStart = now;
    }
    if (host.txWindowStart == 0) host.txWindowStart = now;
    if (TickDiff(now, host.txWindowStart) > settings.rateWindowMs) {
        host.txRate.store(host.txWindowBytes.exchange(0));
        host.txWindowStart = now;
    }

    if (packets == 0) return;
    Guarded(engine_.callbacks.OnDataWaiting, 1u);
    if (engine_.mode == emNotify) {
        Guarded(engine_.callbacks.OnFrameReady, host);
    } else if (engine_.mode == emMasterThread && engine_.master_) {
        ZTSERVERMASTER_THREAD* master = engine_.master_.get();
        Guarded([master](ZTHOSTLIST& h) { master->FrameReady(h); }, host);
    }
}

bool ZTHOSTS::ProbeRunning(const ZTHOSTLIST& host) const {
    return std::any_of(lifeChecks_.begin(), lifeChecks_.end(),
                       [&](const std::unique_ptr<ZTHOSTLIFECHECK>& check) {
                           return &check->Host() == &host && !check->HasExited();
                       });
}

void ZTHOSTS::LifeCheck(ZTHOSTLIST& host, uint32_t now) {
    const uint32_t interval = engine_.Settings().lifeCheckIntervalMs;
    if (TickDiff(now, host.lastLifeCheck) < interval) return;
    host.lastLifeCheck = now;
    if (TickDiff(now, host.lastSendProgress.load()) <= interval &&
        TickDiff(now, host.lastReceive.load()) <= interval)
        return;
    // One probe per record at a time, whatever the interval and the wait.
    if (ProbeRunning(host)) return;
    auto check = std::make_unique<ZTHOSTLIFECHECK>(engine_, host);
    if (check->Run(true)) lifeChecks_.push_back(std::move(check));
}

}  // namespace velmora

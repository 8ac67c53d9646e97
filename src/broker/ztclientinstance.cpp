#include "broker/ztclientinstance.h"

#include <chrono>

#include "broker/ztclient.h"
#include "clientif/brokernames.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"
#include "platform/ztsecurity.h"
#include "transport/controlmessages.h"

namespace velmora {
namespace {

// The data backlog at which the broker asks the server to pause, and below
// which it asks it to resume.
constexpr uint32_t kFlowBacklog = 250;

bool Sending(int32_t state) {
    return state == nsConnected || state == nsConnecting || state == nsDisConnecting;
}

}  // namespace

// Transmission of the connection's frames: to the slot's server while the
// slot is in one of the sending states.
class ZTCLIENTINSTANCE::Sink : public DatagramSink {
  public:
    explicit Sink(ZTCLIENTINSTANCE& owner) : owner_(owner) {}
    int32_t Send(const void* data, size_t length) override {
        return owner_.engine_.SendPacket(owner_.index_, data, length);
    }
    bool Active() const override { return Sending(SlotState(owner_.Slot())); }

  private:
    ZTCLIENTINSTANCE& owner_;
};

// The sender's events: the engine's status hooks and this connection's
// figures.
class ZTCLIENTINSTANCE::Events : public SenderEvents {
  public:
    explicit Events(ZTCLIENTINSTANCE& owner) : owner_(owner) {}
    void FrameSent(const ZTPacketFrame&) override {
        CallStatusHook(owner_.engine_.StatusHooks().onFrameSent);
    }
    void FrameTimedOut() override { CallStatusHook(owner_.engine_.StatusHooks().onFrameTimeout); }
    void AckBusy() override { CallStatusHook(owner_.engine_.StatusHooks().onAckBusy); }
    void FrameDone(uint32_t bytes) override {
        owner_.bytesSent_.fetch_add(bytes);
        owner_.sendSecondBytes_.fetch_add(bytes);
    }
    void RoundTrip(uint32_t average) override { owner_.Slot().roundTripMs = average; }

  private:
    ZTCLIENTINSTANCE& owner_;
};

ZTCLIENTINSTANCE::ZTCLIENTINSTANCE(ZTCLIENT& engine, int32_t slotIndex)
    : engine_(engine),
      index_(slotIndex),
      events_(std::make_unique<Events>(*this)),
      sink_(std::make_unique<Sink>(*this)),
      sender_(kBrokerSenderParams, events_.get()) {
    threadProc = &ZTCLIENTINSTANCE::Proc;
}

ZTCLIENTINSTANCE::~ZTCLIENTINSTANCE() {
    Stop();
}

ZTINSTANCE_SLOT& ZTCLIENTINSTANCE::Slot() {
    return engine_.Slot(index_);
}

ZTCLIENTINSTANCE::CreateResult ZTCLIENTINSTANCE::CreateQueues(const char* name) {
    receiveMemory_ = std::make_unique<ZTSHARED_MEMORY>(ReceiveQueueName(name, index_).c_str(),
                                                       kReceiveQueueSize, true);
    if (receiveMemory_->View() == nullptr) return kReceiveQueueFailed;
    sendMemory_ = std::make_unique<ZTSHARED_MEMORY>(SendQueueName(name, index_).c_str(),
                                                    kSendQueueSize, true);
    if (sendMemory_->View() == nullptr) return kSendQueueFailed;
    if (!receiveLock_.Create(ReceiveQueueLockName(name, index_).c_str())) return kReceiveLockFailed;
    if (!sendLock_.Create(SendQueueLockName(name, index_).c_str())) return kSendLockFailed;
    receiveQueue_ = ReceiveQueue(receiveMemory_->View(), receiveMemory_->Size(), &receiveLock_);
    sendQueue_ = SendQueue(sendMemory_->View(), sendMemory_->Size(), &sendLock_);
    InitialiseQueues();
    return kCreated;
}

void ZTCLIENTINSTANCE::InitialiseQueues() {
    receiveQueue_.Initialise();
    sendQueue_.Initialise();
}

void ZTCLIENTINSTANCE::Prepare(uint32_t ownAddressRaw, uint32_t rttMs) {
    ownAddressRaw_.store(ownAddressRaw);
    PacketOrigin origin;
    origin.connectionKey = static_cast<uint16_t>(index_);
    origin.ackPortRaw = engine_.AckPortRaw();
    origin.senderAddressRaw = ownAddressRaw;
    sender_.SetOrigin(origin);
    sender_.Reset();
    sender_.StartEstimate(rttMs, 100);
    taker_.Reset();
    pauseSent_ = false;
    lastWork_ = Tick();
}

void ZTCLIENTINSTANCE::Clear() {
    sender_.Reset();
    taker_.Reset();
    hooks_.store(nullptr);
    pauseSent_ = false;
}

void ZTCLIENTINSTANCE::Stop() {
    RequestStop();
    Wake();
    (void)StopAndWait(5);
    sender_.Reset();
}

void ZTCLIENTINSTANCE::Wake() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        woken_ = true;
    }
    wakeCv_.notify_one();
}

void ZTCLIENTINSTANCE::WaitForWork(uint32_t ms) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wakeCv_.wait_for(lock, std::chrono::milliseconds(ms),
                     [this] { return woken_ || StopRequested(); });
    woken_ = false;
}

uint32_t ZTCLIENTINSTANCE::Proc(void* self) {
    auto* connection = static_cast<ZTCLIENTINSTANCE*>(self);
    connection->BeginLoop();
    const uint32_t code = ZTSECURITY::RunGuarded(&ZTCLIENTINSTANCE::GuardedLoop, connection);
    if (code != 0) connection->CloseAfterFault(code);
    connection->EndLoop();
    return code;
}

void ZTCLIENTINSTANCE::GuardedLoop(void* self) {
    static_cast<ZTCLIENTINSTANCE*>(self)->Loop();
}

void ZTCLIENTINSTANCE::CloseAfterFault(uint32_t code) {
    engine_.Logf(true, "[0x%08x] %s", code, ZTSECURITY::ExceptionName(code).c_str());
    idle_.store(true);  // nothing runs here any more; a close must not wait for it
    ConnectionHooks* hooks = hooks_.load();
    if (hooks != nullptr) hooks->Error(*this);
}

void ZTCLIENTINSTANCE::Loop() {
    const BrokerSettings& settings = engine_.Settings();
    while (!StopRequested()) {
        if (LoadShared(Slot().cacheState) == kCacheKept) {
            idle_.store(true);
            WaitForWork(settings.idleWaitMs);
            continue;
        }
        idle_.store(false);
        const uint32_t now = Tick();
        if (Turn(now)) lastWork_ = now;
        const bool quiet = TickDiff(Tick(), lastWork_) >= settings.quietAfterMs;
        WaitForWork(quiet ? settings.quietPassMs : settings.activePassMs);
    }
}

bool ZTCLIENTINSTANCE::Turn(uint32_t now) {
    ZTCLIENT::SlotLists& lists = engine_.Lists(index_);
    bool work = HandOnFrames(kControlChannel);
    work = HandOnFrames(kDataChannel) || work;

    if ((current_ = lists.completeList[kControlChannel].Get())) {
        HandleControl(*current_);
        current_.reset();
        work = true;
    }

    FlowControl();
    UpdateRates(now);
    ConnectionHooks* hooks = hooks_.load();
    if (hooks != nullptr) work = Deliver(hooks) || work;

    if (hooks != nullptr && sender_.InFlight() <= engine_.Settings().maxInFlight &&
        sender_.Idle()) {
        const int32_t taken = hooks->Take(*this);
        if (taken < 0) hooks->Error(*this);
        if (taken != 0 || taker_.InMessage()) work = true;
    }

    sender_.SenderPass(now, *sink_);
    framesWaiting_.store(sender_.InFlight());
    Slot().framesWaiting = sender_.InFlight();

    sender_.ApplyAcknowledgements(kControlChannel, lists.acks[kControlChannel], now);
    sender_.ApplyAcknowledgements(kDataChannel, lists.acks[kDataChannel], now);
    return work || sender_.InFlight() > 0 || lists.inList[kDataChannel].FrameCount() > 0 ||
           lists.inList[kControlChannel].FrameCount() > 0;
}

bool ZTCLIENTINSTANCE::HandOnFrames(uint8_t channel) {
    ZTCLIENT::SlotLists& lists = engine_.Lists(index_);
    bool any = false;
    while (auto answer = lists.inList[channel].DeliverNext(lists.completeList[channel])) {
        engine_.SendAck(index_, *answer, lists.inList[channel].FrameCount());
        any = true;
    }
    return any;
}

void ZTCLIENTINSTANCE::HandleControl(const ZTPACKET& packet) {
    if (IsRefusal(packet)) {
        engine_.Logf(true,
                     "서버에서 연결을 종료했습니다. 등록되지 않은 사용자의 패킷을 받았음."
                     "(PGT=%d,PG=%d,PID=%d)",
                     packet.frameSeq.get(), packet.framePackets, packet.seq.get());
        if (ConnectionHooks* hooks = hooks_.load()) hooks->Error(*this);
        return;
    }
    ControlMessage message;
    if (ReadControlPacket(packet, message) != cmOk) return;
    switch (message.code) {
        case ccDisconnect:
            if (ConnectionHooks* hooks = hooks_.load()) hooks->Error(*this);
            engine_.Logf(false, "서버에서 연결을 종료했습니다.(ErrorCode = %ld)",
                         static_cast<long>(message.reason));
            break;
        case ccEcho:
            if (message.hasEchoTick) {
                Slot().lifeReplyTick = Tick();
                Slot().lifeReplyValue = message.echoTick;
            }
            break;
        case ccFlow:
            sender_.SetPaused(message.flow != kFlowResume);
            break;
        default:
            break;  // anything else is not for the broker
    }
}

void ZTCLIENTINSTANCE::FlowControl() {
    ZTCLIENT::SlotLists& lists = engine_.Lists(index_);
    ZTPACKET_INLIST& in = lists.inList[kDataChannel];
    const uint32_t waiting = lists.completeList[kDataChannel].Count();
    if (in.BusyReplied() && !pauseSent_ &&
        (waiting > kFlowBacklog || in.FrameCount() > kFlowBacklog)) {
        const CONTROL_FLOW pause = MakeFlow(kFlowPause);
        (void)engine_.SendControl(index_, kControlChannel, 0, sizeof(pause), &pause, 0);
        pauseSent_ = true;
        sender_.AddRoundTripSample(sender_.Average() + 10);
    }
    if (pauseSent_ && waiting < kFlowBacklog && in.FrameCount() < kFlowBacklog) {
        const CONTROL_FLOW resume = MakeFlow(kFlowResume);
        (void)engine_.SendControl(index_, kControlChannel, 0, sizeof(resume), &resume, 0);
        pauseSent_ = false;
    }
}

void ZTCLIENTINSTANCE::UpdateRates(uint32_t now) {
    if (TickDiff(now, receiveSecondStart_) > 999) {
        receiveRate_.store(receiveSecondBytes_);
        Slot().receiveRate = receiveSecondBytes_;
        receiveSecondBytes_ = 0;
        receiveSecondStart_ = now;
    }
    if (TickDiff(now, sendSecondStart_) > 1000) {
        const uint32_t bytes = sendSecondBytes_.exchange(0);
        sendRate_.store(bytes);
        Slot().sendRate = bytes;
        sendSecondStart_ = now;
    }
}

bool ZTCLIENTINSTANCE::Deliver(ConnectionHooks* hooks) {
    ZTPACKET_COMPLETELIST& complete = engine_.Lists(index_).completeList[kDataChannel];
    bool any = false;
    while ((current_ = complete.Get())) {
        const ZTPACKET& packet = *current_;
        any = true;
        receiveSecondBytes_ += static_cast<uint32_t>(kPacketDataSize);
        bytesReceived_.fetch_add(kPacketDataSize);
        packetsWaiting_.store(complete.Count());
        Slot().packetsWaiting = complete.Count();
        CallStatusHook(engine_.StatusHooks().onPacketDelivered);
        if (hooks->Deliver(*this, packet) < 0) hooks->Error(*this);
        current_.reset();
        if (StopRequested()) break;
    }
    return any;
}

}  // namespace velmora

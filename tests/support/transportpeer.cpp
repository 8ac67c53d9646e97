#include "support/transportpeer.h"

#include <chrono>
#include <utility>

#include "platform/tick.h"
#include "platform/ztthread.h"

namespace velmora {

// Wakes the connection thread before its pass wait is over.
class TransportPeer::Signal {
  public:
    void Raise() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            raised_ = true;
        }
        cv_.notify_one();
    }
    void Wait(uint32_t ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_; });
        raised_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool raised_ = false;
};

class TransportPeer::Events : public SenderEvents {
  public:
    void FrameSent(const ZTPacketFrame&) override { framesSent.fetch_add(1); }
    void FrameTimedOut() override { timeouts.fetch_add(1); }
    void AckBusy() override { busy.fetch_add(1); }
    std::atomic<uint64_t> framesSent{0}, timeouts{0}, busy{0};
};

class TransportPeer::Worker : public ZTTHREAD {
  public:
    explicit Worker(std::function<void(Worker&)> body) : body_(std::move(body)) {
        threadProc = &Worker::Proc;
    }
    ~Worker() override { StopAndWait(1); }

  private:
    static uint32_t Proc(void* self) {
        auto* w = static_cast<Worker*>(self);
        w->body_(*w);
        return 0;
    }
    std::function<void(Worker&)> body_;
};

TransportPeer::TransportPeer(const PeerConfig& config)
    : config_(config),
      queue_(config.queueCapacity),
      events_(std::make_unique<Events>()),
      sender_(config.params, events_.get()),
      wake_(std::make_unique<Signal>()) {}

TransportPeer::~TransportPeer() {
    Stop();
}

uint32_t TransportPeer::OwnAddressRaw() const {
    return config_.addressRaw != 0 ? config_.addressRaw : LoopbackAddressRaw();
}

bool TransportPeer::Open() {
    dataSocket_ = SocketHandle(OpenUdpSocket(OwnAddressRaw(), 0));
    ackSocket_ = SocketHandle(OpenUdpSocket(OwnAddressRaw(), 0));
    if (!dataSocket_.Valid() || !ackSocket_.Valid()) return false;
    (void)SetReceiveBuffer(dataSocket_.Get(), config_.socketBuffer, kPacketSize);
    (void)SetSendBuffer(ackSocket_.Get(), config_.socketBuffer, kPacketReturnSize);

    receiver_ = std::make_unique<PacketReceiver>(dataSocket_.Get(), queue_);
    ackReceiver_ = std::make_unique<AckReceiver>(
        ackSocket_.Get(),
        [this](const PACKETRETURN& r) -> ZTACKS_LIST* {
            if (r.connectionKey.get() != config_.connectionKey) return nullptr;
            return &ackLists_[r.channel == kDataChannel ? 0 : 1];
        },
        // An acknowledgement is work for the connection thread: the next pass
        // need not wait for the pass time-out.
        [this] { wake_->Raise(); });
    PacketOrigin origin;
    origin.connectionKey = config_.connectionKey;
    origin.ackPortRaw = AckPortRaw();
    origin.senderAddressRaw = OwnAddressRaw();
    sender_.SetOrigin(origin);
    sender_.Reset();
    sender_.StartEstimate(config_.initialRttMs, 100);
    for (auto& inList : inLists_) inList.Reset();
    return true;
}

uint16_t TransportPeer::DataPortRaw() const {
    return BoundPortRaw(dataSocket_.Get());
}
uint16_t TransportPeer::AckPortRaw() const {
    return BoundPortRaw(ackSocket_.Get());
}

void TransportPeer::SetRemote(uint32_t addressRaw, uint16_t dataPortRaw, uint16_t ackPortRaw) {
    remoteAddressRaw_ = addressRaw;
    dataSink_ =
        std::make_unique<UdpSink>(dataSocket_.Get(), addressRaw, dataPortRaw, kPacketSendWaitMs);
    ackSink_ = std::make_unique<UdpSink>(ackSocket_.Get(), addressRaw, ackPortRaw, kAckSendWaitMs);
}

void TransportPeer::AdvertiseAckPort(uint16_t ackPortRaw) {
    PacketOrigin origin;
    origin.connectionKey = config_.connectionKey;
    origin.ackPortRaw = ackPortRaw;
    origin.senderAddressRaw = OwnAddressRaw();
    sender_.SetOrigin(origin);
}

void TransportPeer::SetOnMessage(OnMessage callback) {
    std::lock_guard<std::mutex> lock(inboxMutex_);
    onMessage_ = std::move(callback);
}

bool TransportPeer::Start() {
    if (!dataSink_ || !workers_.empty()) return false;
    workers_.push_back(
        std::make_unique<Worker>([this](Worker& w) { receiver_->RunUntilStopped(w); }));
    workers_.push_back(std::make_unique<Worker>([this](Worker& w) {
        w.BeginLoop();
        while (!w.StopRequested()) RouterTurn();
        w.EndLoop();
    }));
    workers_.push_back(
        std::make_unique<Worker>([this](Worker& w) { ackReceiver_->RunUntilStopped(w); }));
    workers_.push_back(std::make_unique<Worker>([this](Worker& w) {
        w.BeginLoop();
        while (!w.StopRequested()) ConnectionTurn();
        w.EndLoop();
    }));
    bool ok = true;
    for (auto& w : workers_) ok = w->Run(true) && ok;
    return ok;
}

void TransportPeer::Stop() {
    for (auto& w : workers_) w->RequestStop();
    wake_->Raise();
    workers_.clear();  // each waits for its thread
}

void TransportPeer::SendAck(PACKETRETURN answer, uint8_t channel) {
    answer.pendingFrames = static_cast<uint16_t>(inLists_[channel].FrameCount());
    answer.senderAddress.setRaw(OwnAddressRaw());
    (void)ackSink_->Send(&answer, sizeof(answer));
    acksSent_.fetch_add(1, std::memory_order_relaxed);
}

void TransportPeer::RouterTurn() {
    if (!queue_.WaitForEntry(1)) return;
    PACKETRECEIVED entry;
    bool delivered = false;
    while (queue_.Pop(entry) > 0) {
        const ZTPACKET& p = entry.packet;
        if (p.connectionKey.get() != config_.connectionKey || p.channel > kControlChannel) continue;
        const size_t before = completeLists_[p.channel].Count();
        if (auto answer = inLists_[p.channel].AddPacket(p, completeLists_[p.channel]))
            SendAck(*answer, p.channel);
        delivered = delivered || completeLists_[p.channel].Count() != before;
    }
    if (delivered) wake_->Raise();
}

void TransportPeer::DeliverReady(uint8_t channel) {
    while (auto answer = inLists_[channel].DeliverNext(completeLists_[channel]))
        SendAck(*answer, channel);
    while (auto packet = completeLists_[channel].Get()) {
        std::vector<uint8_t>& message = messages_[channel];
        const auto r = assemblers_[channel].Add(*packet, message, config_.maxMessage);
        const uint8_t* data = message.data();
        size_t size = message.size();
        if (r == MessageAssembler::kSinglePacket) {
            data = packet->data;
            size = packet->dataLength.get();
        } else if (r < 0) {
            assemblyErrors_.fetch_add(1);
            continue;
        } else if (r != MessageAssembler::kComplete) {
            continue;
        }
        messagesDelivered_.fetch_add(1);
        std::unique_lock<std::mutex> lock(inboxMutex_);
        if (onMessage_) {
            onMessage_(channel, data, size);
        } else {
            inbox_.emplace_back(channel, std::vector<uint8_t>(data, data + size));
            inboxCv_.notify_one();
        }
    }
}

void TransportPeer::ConnectionTurn() {
    DeliverReady(kControlChannel);
    DeliverReady(kDataChannel);
    const uint32_t now = Tick();
    sender_.SenderPass(now, *dataSink_);
    sender_.ApplyAcknowledgements(kControlChannel, ackLists_[1], now);
    sender_.ApplyAcknowledgements(kDataChannel, ackLists_[0], now);
    passes_.fetch_add(1, std::memory_order_relaxed);
    wake_->Wait(config_.passWaitMs);
}

int32_t TransportPeer::Send(uint8_t channel, const void* data, uint32_t length, uint32_t waitMs) {
    for (;;) {
        if (sender_.InFlight() <= config_.maxInFlight) {
            const int32_t r = waitMs == 0 ? sender_.Queue(channel, 0, data, length, Tick())
                                          : sender_.Send(channel, 0, data, length, waitMs,
                                                         SystemClock::Instance(), nullptr);
            wake_->Raise();
            // A refused message (0) is tried again; an empty message also
            // answers 0, but is queued by then.
            if (r != FrameSender::kRefused || length == 0) return r;
        }
        SleepMs(1);
    }
}

bool TransportPeer::Receive(std::vector<uint8_t>& message, uint8_t& channel, uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(inboxMutex_);
    if (!inboxCv_.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [this] { return !inbox_.empty(); }))
        return false;
    channel = inbox_.front().first;
    message = std::move(inbox_.front().second);
    inbox_.pop_front();
    return true;
}

PeerStats TransportPeer::Stats() const {
    PeerStats s;
    s.messagesDelivered = messagesDelivered_.load();
    s.assemblyErrors = assemblyErrors_.load();
    s.passes = passes_.load();
    s.acksSent = acksSent_.load();
    s.framesSent = events_->framesSent.load();
    s.timeouts = events_->timeouts.load();
    s.busy = events_->busy.load();
    return s;
}

}  // namespace velmora

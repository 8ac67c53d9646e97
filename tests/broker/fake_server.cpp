#include "broker/fake_server.h"

#include <utility>

#include <arpa/inet.h>

#include "transport/ztudp.h"

namespace velmora::test {

class FakeServer::Echo : public ZTTHREAD {
  public:
    explicit Echo(FakeServer& owner) : owner_(owner) { threadProc = &Echo::Proc; }
    ~Echo() override { (void)StopAndWait(1); }

  private:
    static uint32_t Proc(void* self) {
        auto* echo = static_cast<Echo*>(self);
        echo->owner_.Serve(*echo);
        return 0;
    }
    FakeServer& owner_;
};

FakeServer::FakeServer(uint16_t key, const Impairment& link) : link_(link) {
    PeerConfig config;
    config.connectionKey = key;
    config.params = kServerSenderParams;
    config.initialRttMs = 20;
    peer_ = std::make_unique<TransportPeer>(config);
    relay_ = std::make_unique<LossyRelay>(key + 1);
}

FakeServer::~FakeServer() {
    Silence();
}

bool FakeServer::Start(uint16_t brokerDataPortRaw, uint16_t brokerAckPortRaw) {
    if (!peer_->Open()) return false;
    const uint32_t lo = LoopbackAddressRaw();
    relayPortRaw_ =
        relay_->AddLinkPair(lo, peer_->DataPortRaw(), peer_->AckPortRaw(), link_, link_);
    if (relayPortRaw_ == 0) return false;
    // The server answers the broker directly; the relay carries the other way.
    peer_->SetRemote(lo, brokerDataPortRaw, brokerAckPortRaw);
    if (!relay_->Start() || !peer_->Start()) return false;
    echoThread_ = std::make_unique<Echo>(*this);
    return echoThread_->Run(true);
}

void FakeServer::Silence() {
    echoThread_.reset();
    if (peer_) peer_->Stop();
    if (relay_) relay_->Stop();
}

uint16_t FakeServer::Port() const {
    return ntohs(relayPortRaw_);
}

int32_t FakeServer::Send(uint8_t channel, const void* data, uint32_t length, uint32_t waitMs) {
    return peer_->Send(channel, data, length, waitMs);
}

void FakeServer::Serve(ZTTHREAD& thread) {
    thread.BeginLoop();
    std::vector<uint8_t> message;
    uint8_t channel = 0;
    while (!thread.StopRequested()) {
        if (!peer_->Receive(message, channel, 20)) continue;
        if (channel == kControlChannel) {
            std::lock_guard<std::mutex> lock(mutex_);
            controls_.push_back(message.empty() ? 0 : message[0]);
            continue;
        }
        dataMessages_.fetch_add(1);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastData_ = message;
        }
        if (echo_.load())
            (void)peer_->Send(kDataChannel, message.data(), static_cast<uint32_t>(message.size()));
    }
    thread.EndLoop();
}

std::vector<uint8_t> FakeServer::Controls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

bool FakeServer::SawControl(uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint8_t c : controls_)
        if (c == code) return true;
    return false;
}

std::vector<uint8_t> FakeServer::LastData() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastData_;
}

}  // namespace velmora::test

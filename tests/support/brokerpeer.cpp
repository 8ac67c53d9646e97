#include "support/brokerpeer.h"

#include <chrono>
#include <utility>

namespace velmora {

BrokerPeer::BrokerPeer(uint16_t connectionKey, PeerConfig config)
    : peer_([&] {
          config.connectionKey = connectionKey;
          return config;
      }()) {
    for (size_t i = 0; i < kPeerIdSize; ++i)
        peerId_[i] = static_cast<uint8_t>(connectionKey * 31 + i);
    peer_.SetOnMessage(
        [this](uint8_t channel, const uint8_t* data, size_t size) { Take(channel, data, size); });
}

BrokerPeer::~BrokerPeer() {
    Stop();
}

bool BrokerPeer::Open() {
    return peer_.Open();
}

void BrokerPeer::SetServer(uint32_t addressRaw, uint16_t dataPortRaw, uint16_t ackPortRaw) {
    peer_.SetRemote(addressRaw, dataPortRaw, ackPortRaw);
}

void BrokerPeer::SetOnData(OnData callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    onData_ = std::move(callback);
}

bool BrokerPeer::Start() {
    return peer_.Start();
}

void BrokerPeer::Stop() {
    peer_.Stop();
}

int32_t BrokerPeer::Connect(int32_t connectionType, uint32_t waitMs) {
    const CONTROL_CONNECT connect = MakeConnect(connectionType, peerId_);
    return SendControl(&connect, sizeof(connect), waitMs);
}

int32_t BrokerPeer::SendControl(const void* data, uint32_t length, uint32_t waitMs) {
    return peer_.Send(kControlChannel, data, length, waitMs);
}

int32_t BrokerPeer::Send(const void* data, uint32_t length, uint32_t waitMs) {
    return peer_.Send(kDataChannel, data, length, waitMs);
}

void BrokerPeer::Take(uint8_t channel, const uint8_t* data, size_t size) {
    OnData onData;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (channel == kControlChannel) {
            ControlMessage m;
            if (ReadControlMessage(data, size, m) == cmOk && m.code == ccFlow)
                peer_.SetPaused(m.flow != kFlowResume);
            controls_.push_back(Control{std::vector<uint8_t>(data, data + size), false});
        } else if (!onData_) {
            inbox_.emplace_back(data, data + size);
        } else {
            onData = onData_;
        }
    }
    cv_.notify_all();
    if (onData) onData(data, size);
}

bool BrokerPeer::Receive(std::vector<uint8_t>& message, uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !inbox_.empty(); }))
        return false;
    message = std::move(inbox_.front());
    inbox_.pop_front();
    return true;
}

bool BrokerPeer::WaitControl(uint8_t code, std::vector<uint8_t>* message, uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    Control* found = nullptr;
    const auto ready = [&] {
        for (Control& c : controls_) {
            if (!c.taken && !c.bytes.empty() && c.bytes[0] == code) {
                found = &c;
                return true;
            }
        }
        return false;
    };
    if (!cv_.wait_for(lock, std::chrono::milliseconds(waitMs), ready)) return false;
    found->taken = true;
    if (message != nullptr) *message = found->bytes;
    return true;
}

size_t BrokerPeer::ControlCount(uint8_t code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Control& c : controls_) n += !c.bytes.empty() && c.bytes[0] == code ? 1 : 0;
    return n;
}

}  // namespace velmora

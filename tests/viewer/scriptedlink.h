// A ViewLink that plays a server from a script: messages queued by the test
// are what the view receives, and what the view sends is recorded. Receive
// never waits: an empty queue answers 0 at once, as a time-out would.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientif/ztif_codes.h"
#include "viewer/viewlink.h"

namespace velmora::testing {

// Shared between the test and the link the view owns.
struct ScriptedServer {
    std::mutex lock;
    std::deque<std::vector<uint8_t>> inbound;
    std::vector<std::vector<uint8_t>> sent;
    int32_t connectResult = nleOk;
    int32_t peekFailure = 0;     // once set, Peek answers it (the broker went away)
    int32_t receiveFailure = 0;  // once set, Receive answers it
    bool connected = false;
    bool disconnected = false;
    ViewLinkTarget target;

    void Queue(std::vector<uint8_t> message) {
        std::lock_guard<std::mutex> guard(lock);
        inbound.push_back(std::move(message));
    }
    size_t SentCount() {
        std::lock_guard<std::mutex> guard(lock);
        return sent.size();
    }
    std::vector<std::vector<uint8_t>> Sent() {
        std::lock_guard<std::mutex> guard(lock);
        return sent;
    }
    size_t Waiting() {
        std::lock_guard<std::mutex> guard(lock);
        return inbound.size();
    }
};

class ScriptedLink final : public ViewLink {
  public:
    explicit ScriptedLink(std::shared_ptr<ScriptedServer> server) : server_(std::move(server)) {}

    int32_t Connect(const ViewLinkTarget& target, std::string* why) override {
        std::lock_guard<std::mutex> guard(server_->lock);
        server_->target = target;
        if (server_->connectResult != nleOk) {
            *why = "scripted connect failure";
            return server_->connectResult;
        }
        server_->connected = true;
        return nleOk;
    }
    bool Connected() const override {
        std::lock_guard<std::mutex> guard(server_->lock);
        return server_->connected;
    }
    int32_t Send(const void* data, int32_t length, uint8_t, uint32_t) override {
        std::lock_guard<std::mutex> guard(server_->lock);
        const auto* p = static_cast<const uint8_t*>(data);
        server_->sent.emplace_back(p, p + length);
        return length;
    }
    int32_t Peek() override {
        std::lock_guard<std::mutex> guard(server_->lock);
        if (!server_->inbound.empty()) return static_cast<int32_t>(server_->inbound.front().size());
        return server_->peekFailure;
    }
    int32_t Receive(void* buffer, int32_t size, uint32_t) override {
        std::lock_guard<std::mutex> guard(server_->lock);
        if (server_->receiveFailure != 0) return server_->receiveFailure;
        if (server_->inbound.empty()) return 0;
        const std::vector<uint8_t>& m = server_->inbound.front();
        if (m.size() > static_cast<size_t>(size)) return -3;
        std::memcpy(buffer, m.data(), m.size());
        const auto n = static_cast<int32_t>(m.size());
        server_->inbound.pop_front();
        return n;
    }
    void Disconnect() override {
        std::lock_guard<std::mutex> guard(server_->lock);
        if (server_->connected) server_->disconnected = true;
        server_->connected = false;
    }

  private:
    std::shared_ptr<ScriptedServer> server_;
};

}  // namespace velmora::testing

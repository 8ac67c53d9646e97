#include "clientif/clientifstate.h"

#include <algorithm>

namespace velmora {

ClientIfState& ClientIfState::Instance() {
    static ClientIfState state;
    return state;
}

ClientIfState::~ClientIfState() {
    StopKeepAlive();
}

ZTIF_CONNECTION* ClientIfState::Fail(int32_t code, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    lastError_.store(code);
    lastErrorText_ = text;
    return nullptr;
}

std::string ClientIfState::LastErrorText() {
    std::lock_guard<std::mutex> guard(lock_);
    return lastErrorText_;
}

ZtifSettings ClientIfState::Settings() {
    std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

void ClientIfState::SetSettings(const ZtifSettings& settings) {
    std::lock_guard<std::mutex> guard(lock_);
    settings_ = settings;
}

Guid ClientIfState::ApplicationGuid() {
    std::lock_guard<std::mutex> guard(lock_);
    if (guidToMake_) {
        guid_ = NewGuid();
        guidToMake_ = false;
    }
    return guid_;
}

void ClientIfState::SetApplicationGuid(const Guid& guid) {
    std::lock_guard<std::mutex> guard(lock_);
    guid_ = guid;
    guidToMake_ = false;
}

bool ClientIfState::KeepAlive(const std::string& brokerName) {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(keepAliveNames_.begin(), keepAliveNames_.end(), brokerName) ==
        keepAliveNames_.end()) {
        keepAliveNames_.push_back(brokerName);
    }
    if (keepAlive_ && !keepAlive_->Ended()) return true;
    // A thread that ended by itself has returned (or is returning without
    // the library lock), so destroying it here only joins it.
    keepAlive_.reset();
    keepAlive_ = std::make_unique<KeepAliveThread>(lock_, keepAliveNames_, settings_.keepAliveMs,
                                                   &ClientIfState::AfterKeepAliveRound, this);
    if (keepAlive_->Start()) return true;
    keepAlive_.reset();
    return false;
}

void ClientIfState::ForgetIfIdle(const std::string& brokerName, const InstanceList& list) {
    std::lock_guard<std::mutex> guard(lock_);
    if (list.CountInState(nsConnected) == 0) std::erase(keepAliveNames_, brokerName);
}

void ClientIfState::ClearKeepAlive() {
    std::lock_guard<std::mutex> guard(lock_);
    keepAliveNames_.clear();
}

void ClientIfState::AfterKeepAliveRound(void* self) {
    // A broker that ended on its own is reaped here at the latest.
    static_cast<ClientIfState*>(self)->starter_.ReapEnded();
}

void ClientIfState::StopKeepAlive() {
    std::unique_ptr<KeepAliveThread> thread;
    {
        std::lock_guard<std::mutex> guard(lock_);
        thread = std::move(keepAlive_);
    }
    // Stopped without the library lock: its round takes that lock.
    thread.reset();
}

void ClientIfState::Reset() {
    StopKeepAlive();
    std::lock_guard<std::mutex> guard(lock_);
    lastError_.store(nleOk);
    closing_.store(false);
    lastErrorText_.clear();
    guidToMake_ = true;
    settings_ = ZtifSettings{};
    keepAliveNames_.clear();
}

}  // namespace velmora

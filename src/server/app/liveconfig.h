// The configuration record in effect while the server runs. The capture and
// send threads and the sessions read it while they work; the settings page's
// Apply and Default change it. Readers take a copy (or one field) under the
// lock, so a change is seen whole or not at all.
//
// Lock: mutex_ guards config_; it is a leaf lock (nothing else is taken or
// called while it is held, except the change function given to Update).
#pragma once

#include <mutex>

#include "server/app/velmoraconfig.h"

namespace velmora {

class LiveConfig {
  public:
    explicit LiveConfig(VelmoraConfig initial = {}) : config_(std::move(initial)) {}

    VelmoraConfig Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return config_;
    }
    void Set(const VelmoraConfig& config) {
        std::lock_guard<std::mutex> lock(mutex_);
        config_ = config;
    }
    // Runs change(VelmoraConfig&) under the lock; it must not block.
    template <typename Change>
    void Update(Change&& change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(config_);
    }

    // The fields the running threads read on every pass, without a copy.
    NETWORK_PRESET Current() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return config_.current;
    }
    uint8_t ColorBits() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return config_.colorBits;
    }
    uint8_t ControlType() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return config_.controlType;
    }
    int16_t MaxUsers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return config_.maxUsers;
    }

  private:
    mutable std::mutex mutex_;
    VelmoraConfig config_;
};

}  // namespace velmora

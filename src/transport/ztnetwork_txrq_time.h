// The round-trip estimator behind the retransmission time-out: a ring of 64
// millisecond samples and an average over the smallest of them.
//
// Not thread-safe: the sender's pending lock guards it.
#pragma once

#include <cstdint>

namespace velmora {

class ZTNETWORK_TXRQ_TIME {
  public:
    static constexpr uint32_t kSamples = 64;

    void AddSample(uint32_t ms);
    void Fill(uint32_t ms);

    // average = the mean of the ceil(64 * percent / 100) smallest samples,
    // truncated (100 takes all 64, 90 takes 58). percent is clamped so that
    // at least one and at most 64 samples count.
    uint32_t Compute(uint32_t percent);

    uint32_t Average() const { return average_; }

  private:
    uint32_t samples_[kSamples] = {};
    uint32_t next_ = 0;
    uint32_t average_ = 0;
};

// The retransmission time-out for an estimate: twice the average, at most
// capMs, and 100 ms when that comes to 0.
constexpr uint32_t RetransmitTimeout(uint32_t average, uint32_t capMs) {
    const uint64_t twice = 2ull * average;
    const uint32_t capped = twice > capMs ? capMs : static_cast<uint32_t>(twice);
    return capped == 0 ? 100 : capped;
}

}  // namespace velmora

#include "transport/ztnetwork_txrq_time.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velmora {

void ZTNETWORK_TXRQ_TIME::AddSample(uint32_t ms) {
    samples_[next_] = ms;
    next_ = (next_ + 1) % kSamples;
}

void ZTNETWORK_TXRQ_TIME::Fill(uint32_t ms) {
    std::fill(std::begin(samples_), std::end(samples_), ms);
    next_ = 0;
}

uint32_t ZTNETWORK_TXRQ_TIME::Compute(uint32_t percent) {
    // Single precision, as the count has always been evaluated.
    const float exact = static_cast<float>(kSamples) *
                        static_cast<float>(std::min<uint32_t>(percent, 100)) / 100.0f;
    const uint32_t n = std::clamp<uint32_t>(static_cast<uint32_t>(std::ceil(exact)), 1, kSamples);
    uint32_t sorted[kSamples];
    std::copy(std::begin(samples_), std::end(samples_), sorted);
    std::sort(std::begin(sorted), std::end(sorted));
    uint64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum += sorted[i];
    average_ = static_cast<uint32_t>(sum / n);
    return average_;
}

}  // namespace velmora

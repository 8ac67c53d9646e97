// Deterministic message contents for transfer tests and benchmarks: message
// `index` of stream `stream` has a size and bytes that both ends can compute,
// so a receiver checks every byte without keeping a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velmora {

class MessagePattern {
  public:
    MessagePattern(uint64_t stream, uint32_t maxSize) : stream_(stream), maxSize_(maxSize) {}

    uint32_t Size(uint32_t index) const {
        return static_cast<uint32_t>(Mix(stream_ * 0x9E3779B97F4A7C15ull + index) %
                                     (static_cast<uint64_t>(maxSize_) + 1));
    }

    void Fill(uint32_t index, std::vector<uint8_t>& out) const {
        out.resize(Size(index));
        uint64_t state = Mix(stream_ ^ (static_cast<uint64_t>(index) << 32) ^ 0xABCDEF);
        size_t i = 0;
        for (; i + 8 <= out.size(); i += 8) {
            state = Next(state);
            std::memcpy(&out[i], &state, 8);
        }
        state = Next(state);
        for (; i < out.size(); ++i) out[i] = static_cast<uint8_t>(state >> (8 * (i % 8)));
    }

    // True when data/size is exactly message `index`.
    bool Matches(uint32_t index, const uint8_t* data, size_t size) const {
        if (size != Size(index)) return false;
        std::vector<uint8_t> want;
        Fill(index, want);
        return size == 0 || std::memcmp(want.data(), data, size) == 0;
    }

  private:
    static uint64_t Mix(uint64_t x) {
        x ^= x >> 30;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 27;
        x *= 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }
    static uint64_t Next(uint64_t x) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    }

    uint64_t stream_;
    uint32_t maxSize_;
};

}  // namespace velmora

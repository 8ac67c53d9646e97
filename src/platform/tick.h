// The system's millisecond tick: a 32-bit counter that wraps after 49.7 days.
// Differences are taken modulo 2^32 (TickSince). The clock is CLOCK_MONOTONIC,
// system-wide, so ticks written by one process compare with another's.
#pragma once

#include <cstdint>

namespace velmora {

uint32_t Tick();

// Milliseconds from `then` to `now`, modulo 2^32.
constexpr uint32_t TickDiff(uint32_t now, uint32_t then) { return now - then; }
inline uint32_t TickSince(uint32_t then) { return TickDiff(Tick(), then); }

void SleepMs(uint32_t ms);

// A clock that logic under test can be given instead of the real tick.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t Now() const = 0;
};

class SystemClock final : public Clock {
public:
    uint32_t Now() const override { return Tick(); }
    static const SystemClock& Instance();
};

}  // namespace velmora

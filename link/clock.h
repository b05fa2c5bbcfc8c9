// SPDX-License-Identifier: MIT
// Millisecond clock and sleep used by the port and every wait of the tool.
#pragma once
#include <cstdint>

namespace torvik::link {

// A 32-bit millisecond clock that wraps to 0 after 2^32 ms, and a sleep.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t now_ms() = 0;
    virtual void sleep_ms(uint32_t ms) = 0;
};

// Elapsed time between two readings of the clock, correct across the wrap.
inline uint32_t elapsed_ms(uint32_t start, uint32_t now) {
    return now - start;
}

// Production clock: CLOCK_MONOTONIC truncated to 32 bits, nanosleep.
class MonotonicClock final : public Clock {
  public:
    uint32_t now_ms() override;
    void sleep_ms(uint32_t ms) override;
};

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// A clock whose sleeps advance time instantly: waits cost nothing and timing
// can be asserted exactly. Time is kept in microseconds so that line times of
// single bytes (about half a millisecond at 19200 baud) add up correctly.
#pragma once
#include <cstdint>

#include "link/clock.h"

namespace torvik::doubles {

class VirtualClock final : public link::Clock {
  public:
    explicit VirtualClock(uint32_t start_ms = 0) : start_ms_(start_ms) {}
    uint32_t now_ms() override { return start_ms_ + static_cast<uint32_t>(us_ / 1000); }
    void sleep_ms(uint32_t ms) override { advance_us(uint64_t{ms} * 1000); }
    // Microseconds since the clock was made (never wraps).
    uint64_t now_us() const { return us_; }
    void advance_us(uint64_t us) { us_ += us; }
    void advance_to_us(uint64_t us) {
        if (us > us_) us_ = us;
    }

  private:
    uint32_t start_ms_;
    uint64_t us_ = 0;
};

}  // namespace torvik::doubles

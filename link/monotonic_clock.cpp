// SPDX-License-Identifier: MIT
#include <cerrno>
#include <ctime>

#include "link/clock.h"

namespace torvik::link {

uint32_t MonotonicClock::now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps after about 49.7 days, by design
}

void MonotonicClock::sleep_ms(uint32_t ms) {
    // Sleep to an absolute deadline so that a signal arriving in the middle
    // neither cuts the pause short nor stretches it when the sleep resumes.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000u);
    deadline.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace torvik::link

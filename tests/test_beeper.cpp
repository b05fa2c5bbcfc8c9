// SPDX-License-Identifier: MIT
// The beeper without a usable sound device: every beep still takes its
// duration, and the device is tried again at a later beep, at most once per
// retry interval, so that a sound card that comes (back) is used again.
#include <gtest/gtest.h>

#include <vector>

#include "app/alsa_beeper.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik::app {
namespace {

TEST(AlsaBeeperRetry, AFailedOpenIsTriedAgainOnlyAfterTheInterval) {
    struct Step {
        uint32_t idle_ms;      // time that passes before the beep
        unsigned duration_ms;  // of the beep
        unsigned attempts;     // opens tried so far, after the beep
    };
    constexpr uint32_t kRetry = AlsaBeeper::kRetryMs;
    const struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"the first beep tries", {{0, 300, 1}}},
        {"beeps within the interval do not", {{0, 300, 1}, {0, 300, 1}, {kRetry - 700, 300, 1}}},
        // The interval counts from the failure, which was at the start of
        // the first beep: 300 ms of beep plus the idle time reach it.
        {"the first beep after the interval does",
         {{0, 300, 1}, {kRetry - 300, 300, 2}, {0, 300, 2}}},
        {"and so on, once per interval",
         {{0, 300, 1}, {kRetry, 300, 2}, {kRetry, 300, 3}, {kRetry / 2, 300, 3}}},
        // A silent beep (no tone) never opens the device.
        {"a beep of no length does not try", {{0, 0, 0}, {kRetry, 0, 0}, {0, 300, 1}}},
    };
    for (const auto& c : cases) {
        doubles::VirtualClock clock(0xFFFFF000u);  // the millisecond clock wraps meanwhile
        AlsaBeeper beeper(clock, "torvik-no-such-device");
        for (const auto& step : c.steps) {
            clock.sleep_ms(step.idle_ms);
            const uint32_t before = clock.now_ms();
            beeper.beep(1000, step.duration_ms);
            EXPECT_EQ(link::elapsed_ms(before, clock.now_ms()), step.duration_ms) << c.name;
            EXPECT_EQ(beeper.open_attempts(), step.attempts) << c.name;
            EXPECT_FALSE(beeper.has_device()) << c.name;
        }
    }
}

}  // namespace
}  // namespace torvik::app

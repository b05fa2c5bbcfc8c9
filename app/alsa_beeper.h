// SPDX-License-Identifier: MIT
// The outcome beep on this system: a sine tone on the sound card, or, where
// there is no sound card (a build machine, a remote session), a silent wait
// of the same length, so that every operation keeps its timing either way.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/platform.h"
#include "link/clock.h"

namespace torvik::app {

class AlsaBeeper final : public Beeper {
  public:
    // A device that failed to open is tried again at a later beep, but no
    // sooner than this after the failure: a missing sound card costs one
    // failed open every few seconds, not one per beep.
    static constexpr uint32_t kRetryMs = 5000;

    // The device is opened at the first beep and kept for the whole run
    // (or until it goes away).
    explicit AlsaBeeper(link::Clock& clock, std::string device = "default");
    ~AlsaBeeper() override;
    AlsaBeeper(const AlsaBeeper&) = delete;
    AlsaBeeper& operator=(const AlsaBeeper&) = delete;

    // Plays the tone and returns when it has ended: never before the
    // duration, and at most about 150 ms after it even when the device
    // stalls. Without a usable device it sleeps the duration.
    void beep(unsigned frequency_hz, unsigned duration_ms) override;

    // Whether a device is open right now (false before the first beep and
    // after the device failed to open).
    bool has_device() const;
    // How often opening the device has been tried so far.
    unsigned open_attempts() const { return open_attempts_; }

  private:
    struct Pcm;
    bool ensure_open();
    // Writes the samples and waits until they have been heard; false when
    // the device failed or the time ran out.
    bool play(unsigned frequency_hz, unsigned duration_ms, uint32_t start_ms, uint32_t limit_ms);

    link::Clock& clock_;
    std::string device_;
    std::unique_ptr<Pcm> pcm_;
    bool open_failed_ = false;
    uint32_t failed_at_ms_ = 0;  // when the last open failed
    unsigned open_attempts_ = 0;
};

// A beeper that only waits out the duration.
class SilentBeeper final : public Beeper {
  public:
    explicit SilentBeeper(link::Clock& clock) : clock_(clock) {}
    void beep(unsigned /*frequency_hz*/, unsigned duration_ms) override {
        clock_.sleep_ms(duration_ms);
    }

  private:
    link::Clock& clock_;
};

}  // namespace torvik::app

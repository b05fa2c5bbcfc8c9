// SPDX-License-Identifier: MIT
#include "app/alsa_beeper.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>
#include <vector>

namespace torvik::app {

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kLatencyUs = 50000;
// Time allowed beyond the tone itself for the device's buffer to play out.
constexpr uint32_t kGraceMs = 150;
// Amplitude of the tone, a quarter of full scale, and the length of the
// fade in and out that keeps the tone free of clicks.
constexpr double kAmplitude = 0.25 * 32767.0;
constexpr unsigned kFadeFrames = kRate * 4 / 1000;

// libasound reports every failed open on stderr; the tool reports nothing
// there, a missing sound card is normal on many machines.
void quiet_alsa_errors(const char*, int, const char*, int, const char*, ...) {}

std::vector<int16_t> sine_samples(unsigned frequency_hz, unsigned duration_ms) {
    const size_t frames = size_t{kRate} * duration_ms / 1000;
    std::vector<int16_t> samples(frames);
    const double step = 2.0 * std::numbers::pi * frequency_hz / kRate;
    for (size_t i = 0; i < frames; ++i) {
        double gain = 1.0;
        if (i < kFadeFrames) gain = static_cast<double>(i) / kFadeFrames;
        if (frames - i < kFadeFrames)
            gain = std::min(gain, static_cast<double>(frames - i) / kFadeFrames);
        samples[i] = static_cast<int16_t>(
            std::lround(kAmplitude * gain * std::sin(step * static_cast<double>(i))));
    }
    return samples;
}

}  // namespace

struct AlsaBeeper::Pcm {
    snd_pcm_t* handle = nullptr;
    ~Pcm() {
        if (handle) snd_pcm_close(handle);
    }
};

AlsaBeeper::AlsaBeeper(link::Clock& clock, std::string device)
    : clock_(clock), device_(std::move(device)) {}

AlsaBeeper::~AlsaBeeper() = default;

bool AlsaBeeper::has_device() const {
    return pcm_ != nullptr;
}

bool AlsaBeeper::ensure_open() {
    if (pcm_) return true;
    // A device that is busy (another program plays) or not there yet (a USB
    // headset about to be plugged in) may work later: try again, but only
    // once the retry interval has passed since the last failure.
    if (open_failed_ && link::elapsed_ms(failed_at_ms_, clock_.now_ms()) < kRetryMs) return false;
    ++open_attempts_;
    const auto failed = [this] {
        open_failed_ = true;
        failed_at_ms_ = clock_.now_ms();
        return false;
    };
    snd_lib_error_set_handler(&quiet_alsa_errors);
    auto pcm = std::make_unique<Pcm>();
    // Non-blocking, so that a device held by another program or a stalled
    // sound server can never hold up the window.
    if (snd_pcm_open(&pcm->handle, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) <
        0) {
        pcm->handle = nullptr;
        return failed();
    }
    if (snd_pcm_set_params(pcm->handle, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                           kRate, 1, kLatencyUs) < 0) {
        return failed();
    }
    open_failed_ = false;
    pcm_ = std::move(pcm);
    return true;
}

bool AlsaBeeper::play(unsigned frequency_hz, unsigned duration_ms, uint32_t start_ms,
                      uint32_t limit_ms) {
    snd_pcm_t* pcm = pcm_->handle;
    const auto elapsed = [&] { return link::elapsed_ms(start_ms, clock_.now_ms()); };
    const auto remaining = [&] { return limit_ms > elapsed() ? limit_ms - elapsed() : 0u; };

    // The previous tone left the device stopped; make it ready again.
    if (snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(pcm) < 0) return false;

    const std::vector<int16_t> samples = sine_samples(frequency_hz, duration_ms);
    size_t done = 0;
    while (done < samples.size()) {
        if (remaining() == 0) return false;
        const snd_pcm_sframes_t n =
            snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm, static_cast<int>(std::min<uint32_t>(remaining(), 20)));
        } else if (n < 0) {
            if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) return false;
        } else {
            done += static_cast<size_t>(n);
        }
    }

    // A tone shorter than the buffer has not started by itself yet.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm) < 0) return false;

    // Wait for the queued samples to be heard. Once the buffer runs empty
    // the device stops (under-run), which ends the wait as well.
    while (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm, &delay) < 0 || delay <= 0) break;
        const uint32_t left = remaining();
        if (left == 0) return false;
        const auto delay_ms = static_cast<uint32_t>(delay * 1000 / kRate) + 1;
        clock_.sleep_ms(std::min({delay_ms, left, uint32_t{10}}));
    }
    return true;
}

void AlsaBeeper::beep(unsigned frequency_hz, unsigned duration_ms) {
    const uint32_t start = clock_.now_ms();
    if (duration_ms > 0 && frequency_hz > 0 && ensure_open()) {
        const bool ok = play(frequency_hz, duration_ms, start, duration_ms + kGraceMs);
        snd_pcm_drop(pcm_->handle);
        if (!ok && snd_pcm_state(pcm_->handle) == SND_PCM_STATE_DISCONNECTED) {
            // The card went away (a USB headset unplugged): try again at
            // the next beep.
            pcm_.reset();
        }
    }
    // Never shorter than the tone: with no device, or when playing failed
    // part-way, the rest of the duration is slept.
    const uint32_t spent = link::elapsed_ms(start, clock_.now_ms());
    if (spent < duration_ms) clock_.sleep_ms(duration_ms - spent);
}

}  // namespace torvik::app

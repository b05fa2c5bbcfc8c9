// SPDX-License-Identifier: MIT
// The console side of torvikctl's window model: window events without a
// window (timer ticks on the model's clock, then torvikctl's own check for
// the stop press and the progress line), the error box on stderr and a
// cursor that nobody sees.
#pragma once
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "app/control.h"
#include "app/platform.h"
#include "app/window_model.h"
#include "link/clock.h"
#include "link/event_pump.h"

namespace torvik::cli {

class ConsolePump final : public link::EventPump {
  public:
    explicit ConsolePump(link::Clock& clock) : clock_(clock) {}
    // Ticks every running timer whose interval has passed (at most once per
    // call, as a toolkit coalesces missed ticks), then runs `every`.
    void process_pending() override;
    // Called by the model's observer when a timer starts or stops.
    void timer_changed(app::Control& timer);
    app::TfrmModule* form = nullptr;
    std::function<void()> every;

  private:
    link::Clock& clock_;
    std::map<app::Control*, uint32_t> started_ms_;
};

class StderrErrorBox final : public app::ErrorBox {
  public:
    void show_error(const std::string& text) override;
    int shown = 0;
    int language = 0;  // of the words around the error's own text
};

// The clock of the program: the monotonic clock, and waits that tell when
// a signal arrived in the middle of them. A wait is a plain sleep, during
// which no window event is handled; but the stop request must be answered
// at once, not after the 2-second wait of a template read, so `on_wait` is
// called when a wait begins and as soon as a signal has been handled during
// one, and the wait then goes on to its end as if nothing had happened.
class SignalAwareClock final : public link::Clock {
  public:
    uint32_t now_ms() override { return base_.now_ms(); }
    void sleep_ms(uint32_t ms) override;
    std::function<void()> on_wait;

  private:
    link::MonotonicClock base_;
};

class NoCursor final : public app::BusyCursor {
  public:
    void set_busy(bool) override {}
};

// Ctrl+C, SIGTERM and SIGHUP: counted here; the first asks the run to stop
// at the next clean point, a second one ends the program at once.
extern volatile std::sig_atomic_t g_stop_requests;
void InstallStopSignals();

}  // namespace torvik::cli

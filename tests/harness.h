// SPDX-License-Identifier: MIT
// The window model wired to the simulated reader on an in-process line and a
// virtual clock: waits cost nothing and every frame, open, beep and colour
// change is recorded with its virtual time.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/window_model.h"
#include "ops/reader_operations.h"
#include "sim/reader.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik::test {

// Processes "window events": timer ticks due on the virtual clock (at most
// one per timer per call, as a toolkit coalesces missed ticks) and user
// actions scheduled for a virtual time.
class TestPump final : public link::EventPump {
  public:
    explicit TestPump(doubles::VirtualClock& clock) : clock_(clock) {}
    void process_pending() override;
    void timer_changed(app::Control& timer);
    // Runs an action at the first event processing at or after a time (ms
    // of virtual time since the clock was made).
    void at_ms(uint64_t ms, std::function<void()> action) {
        scheduled_.push_back({ms * 1000, std::move(action)});
    }
    // Runs at every event processing (after scheduled actions and ticks).
    std::function<void()> every;
    int calls = 0;
    app::TfrmModule* form = nullptr;

  private:
    struct Scheduled {
        uint64_t at_us;
        std::function<void()> action;
    };
    doubles::VirtualClock& clock_;
    std::map<app::Control*, uint64_t> next_tick_us_;
    std::vector<Scheduled> scheduled_;
};

class TestBeeper final : public app::Beeper {
  public:
    explicit TestBeeper(doubles::VirtualClock& clock) : clock_(clock) {}
    struct Beep {
        unsigned hz, ms;
        uint64_t at_us;
    };
    void beep(unsigned hz, unsigned ms) override {
        beeps.push_back({hz, ms, clock_.now_us()});
        clock_.advance_us(uint64_t{ms} * 1000);
    }
    std::vector<Beep> beeps;

  private:
    doubles::VirtualClock& clock_;
};

// A beeper that neither sounds nor waits, for runs on the wall clock.
class QuietBeeper final : public app::Beeper {
  public:
    void beep(unsigned, unsigned) override {}
};

class TestCursor final : public app::BusyCursor {
  public:
    void set_busy(bool busy) override { changes.push_back(busy); }
    std::vector<bool> changes;
};

class TestErrors final : public app::ErrorBox {
  public:
    void show_error(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// A colour change of a shape with its virtual time.
struct ColorChange {
    std::string control;
    app::Rgb color;
    uint64_t at_us;
};

struct Harness {
    // The reader sits on COM3 at 19200,e unless a test moves it.
    explicit Harness(uint32_t clock_start_ms = 0);

    // Shows the window as at start-up: FormCreate, FormShow.
    void start();
    // Start-up followed by a scan that finds the reader on COM3.
    void start_and_scan();

    std::vector<std::string> payloads() const { return line.payloads(); }
    std::vector<unsigned> beep_tones() const;

    doubles::VirtualClock clock;
    doubles::FakeLine line;
    sim::Reader reader;
    TestPump pump;
    TestBeeper beeper;
    TestCursor cursor;
    TestErrors errors;
    doubles::MemorySettingsStore store;
    app::TfrmModule form;
    std::vector<ColorChange> colors;
};

}  // namespace torvik::test

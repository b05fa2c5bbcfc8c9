// SPDX-License-Identifier: MIT
#include "tests/harness.h"

namespace torvik::test {

void TestPump::process_pending() {
    ++calls;
    const uint64_t now = clock_.now_us();
    for (size_t i = 0; i < scheduled_.size();) {
        if (scheduled_[i].at_us <= now) {
            auto action = std::move(scheduled_[i].action);
            scheduled_.erase(scheduled_.begin() + static_cast<std::ptrdiff_t>(i));
            action();
        } else {
            ++i;
        }
    }
    // Copy: a tick may stop or start timers.
    const auto timers = next_tick_us_;
    for (const auto& [timer, due] : timers) {
        if (due <= clock_.now_us() && next_tick_us_.count(timer)) {
            next_tick_us_[timer] = clock_.now_us() + uint64_t(timer->interval_ms) * 1000;
            if (form) form->tick(*timer);
        }
    }
    if (every) every();
}

void TestPump::timer_changed(app::Control& timer) {
    if (timer.enabled()) {
        next_tick_us_[&timer] = clock_.now_us() + uint64_t(timer.interval_ms) * 1000;
    } else {
        next_tick_us_.erase(&timer);
    }
}

Harness::Harness(uint32_t clock_start_ms)
    : clock(clock_start_ms),
      line(clock),
      pump(clock),
      beeper(clock),
      form(app::Services{line, clock, pump, beeper, cursor, errors, store}) {
    line.attach(3, reader);
    pump.form = &form;
    form.observer = [this](app::Control& c, app::Prop p) {
        if (c.kind() == app::Kind::Timer && p == app::Prop::Enabled) pump.timer_changed(c);
        if (p == app::Prop::Color) colors.push_back({c.name(), c.color(), clock.now_us()});
    };
    ops::BindOperations(form);
}

void Harness::start() {
    form.FormCreate();
    form.FormShow();
}

void Harness::start_and_scan() {
    store.keys["\\Software\\KELDO\\ReaderConfig"]["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
    store.keys["\\Software\\KELDO\\ReaderConfig"]["ScanBaudRate"] = {app::ValueType::String, 0,
                                                                     "19200,e,8,1"};
    store.keys["\\Software\\KELDO\\ReaderConfig"]["ScanBaudRateNo"] = {
        app::ValueType::Dword, 5, {}};
    start();
    form.press(form.btnScan);
    line.opens.clear();
    line.frames.clear();
    beeper.beeps.clear();
    colors.clear();
}

std::vector<unsigned> Harness::beep_tones() const {
    std::vector<unsigned> tones;
    for (const auto& b : beeper.beeps) tones.push_back(b.hz);
    return tones;
}

}  // namespace torvik::test

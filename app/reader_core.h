// SPDX-License-Identifier: MIT
// The conventions every reader operation follows, over the platform, the
// port, the application state and the reader view:
//   1. busy cursor; window disabled (some operations: busy mode, with the
//      blinker of the link indicator);
//   2. refusal ("Start Scan Reader!", red, low beep) while no reader was found;
//   3. an optional status label;
//   4. the port opened with the link settings (failure outcome if it won't);
//   5. usually two tries of: 100 ms, presence check (a valid reply of
//      exactly 16 bytes), 100 ms, the operation's command;
//   6. the port closed;
//   7. the outcome: yellow, the success text, 1000 Hz; or red, the failure
//      text, 300 Hz; each beep 300 ms; then the window enabled, normal cursor.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/platform.h"
#include "app/reader.h"
#include "app/reader_view.h"
#include "app/settings_store.h"
#include "link/clock.h"
#include "link/event_pump.h"
#include "link/exchange.h"
#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_device.h"

namespace torvik::app {

// Everything the operations need of the platform.
struct Services {
    link::SerialDevice& serial;
    link::Clock& clock;
    link::EventPump& pump;
    Beeper& beeper;
    BusyCursor& cursor;
    ErrorBox& errors;
    SettingsStore& store;
};

constexpr unsigned kHighBeepHz = 1000, kLowBeepHz = 300, kOutcomeBeepMs = 300;

// One reader operation, stated by what differs from the common pattern.
struct Operation {
    bool busy_blinker = false;              // busy mode instead of only disabling the window
    bool pump_at_start = false;             // handle pending events once after disabling
    std::function<Message()> status_label;  // shown before the port opens; none if empty
    int success_row = 0;
    int failure_row = 0;
    int tries = 2;
    std::function<bool()> attempt;        // one try with the port open
    std::function<void()> on_success;     // before the outcome display
    std::function<void()> after_success;  // after the outcome display and its beep
};

class ReaderCore {
  public:
    ReaderCore(Services services, link::Port& port, link::Link& link, AppState& state,
               ReaderView& view)
        : svc(services), port(port), link(link), state(state), view(view) {}
    ReaderCore(const ReaderCore&) = delete;
    ReaderCore& operator=(const ReaderCore&) = delete;

    Services svc;
    link::Port& port;
    link::Link& link;
    AppState& state;
    ReaderView& view;

    void Sleep(uint32_t ms) { svc.clock.sleep_ms(ms); }
    void ProcessMessages() { svc.pump.process_pending(); }
    void Beep(unsigned hz, unsigned ms) { svc.beeper.beep(hz, ms); }
    // Indicator, status text, beep of 300 ms.
    void ShowOutcome(Indicator indicator, const Message& text, unsigned frequency_hz);
    // A result with the link settings in force.
    Result MakeResult(Outcome outcome, Message text) const;

    // The presence query with a valid reply of exactly 16 bytes.
    std::optional<link::Presence> PresenceCheck();
    // The usual try: wait 100 ms, presence check, wait 100 ms, the command
    // (built from the presence reply when it needs the serial number).
    bool CommandTry(const std::function<std::string(const link::Presence&)>& payload);
    bool CommandTry(const std::string& payload);
    // The operation pattern.
    Result RunOperation(const Operation& op);

    // ---- live readings ----
    // True while a live reading's loop runs (also while it finishes its
    // last cycle after a stop request).
    bool reading_loop = false;
    // How to put the reading's controls back should an error escape it.
    std::function<void()> reading_cleanup;

    // ---- the scan's record, for telling the technician what it tried ----
    std::vector<PortAttempt> scan_record;
    // Opens the port with the given link settings and records the attempt.
    bool OpenPortRecorded(int port_number, const std::string& settings);
    // Called after every scan with its record (diagnostics; may be empty).
    std::function<void(const std::vector<PortAttempt>&)> on_scan_finished;

    // After an error escaped an operation: the reading's controls back,
    // reading flag clear, port closed, window enabled, normal cursor.
    void ReturnToIdle();
};

}  // namespace torvik::app

// SPDX-License-Identifier: MIT
// The main window frmModule as a toolkit-free model: every control with its
// name, kind and initial content, the application state, and the conventions
// every reader operation follows (busy mode, refusal, outcome display, the
// presence check and the operation pattern). The operations themselves are
// handlers bound to these controls by the ops layer.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control.h"
#include "app/platform.h"
#include "app/settings_store.h"
#include "link/clock.h"
#include "link/event_pump.h"
#include "link/exchange.h"
#include "link/port.h"
#include "link/serial_device.h"

namespace torvik::app {

// Everything the window needs of the platform.
struct Services {
    link::SerialDevice& serial;
    link::Clock& clock;
    link::EventPump& pump;
    Beeper& beeper;
    BusyCursor& cursor;
    ErrorBox& errors;
    SettingsStore& store;
};

enum class Outcome { Success, Failure, NotFound };

// What came back to the presence checks of one opening, the most telling
// of its tries (later kinds tell more).
enum class ReplyCause {
    kNotRecorded,  // no presence check was recorded
    kNothing,      // not a byte arrived
    kGarbled,      // bytes, but no valid frame
    kWrongLength,  // a valid frame of another length than 16 bytes
    kAnswered,
};

// One opening the scan tried, for telling the technician why no reader was
// found: the COM number, the device it stands for, the settings, whether it
// opened (and why not), whether the reader answered, and what came instead.
struct PortAttempt {
    int port = 0;
    std::string device;
    std::string settings;
    bool opened = false;
    std::string cause;  // why the open failed
    bool answered = false;
    ReplyCause reply = ReplyCause::kNotRecorded;
    int reply_length = 0;     // kWrongLength: the frame's length
    std::string first_bytes;  // kGarbled: the first bytes that arrived
};

// One reader operation, stated by what differs from the common pattern.
struct Operation {
    bool busy_blinker = false;                  // busy mode instead of only disabling the window
    bool pump_at_start = false;                 // handle pending events once after disabling
    std::function<std::string()> status_label;  // shown before the port opens; none if empty
    int success_row = 0;
    int failure_row = 0;
    int tries = 2;
    std::function<bool()> attempt;        // one try with the port open
    std::function<void()> on_success;     // before the outcome display
    std::function<void()> after_success;  // after the outcome display and its beep
};

constexpr unsigned kHighBeepHz = 1000, kLowBeepHz = 300, kOutcomeBeepMs = 300;

class TfrmModule {
  public:
    explicit TfrmModule(Services services);
    TfrmModule(const TfrmModule&) = delete;
    TfrmModule& operator=(const TfrmModule&) = delete;

    // ---- platform and link ----
    Services svc;
    link::Port port;
    link::Link link;
    AppState state;

    // Receives every property change (set by the binding).
    Observer observer;

    // ---- controls (names as in the window layout) ----
    Control frmModule;  // the window itself; its caption is the window caption
    // status area
    Control pnMsg, shComm, tmrBusy;
    // reader identity and link
    Control pnSerial, pnVersion, btnScan, lblID, pnID, sbID, btnID, lblBaudRate, cmbBaudRate,
        chkLock, btnBaudRate;
    // output mode, card type, facility code, fingerprint
    Control cmbMode, cmbWiegand, cmbRS485, btnMode, cmbCardType, btnCardType, pnFacility,
        sbFacility, btnFacility, lblFingerNo, pnFingerNo, sbFingerNo, btnAdd, btnDel;
    // live reading
    Control shCard, pnDI, pnCardID, btnReadCard, btnEncode, tmrCard;
    // group gbDefault and its members
    Control gbDefault, btnFactory, btnStand, btnDoor, edDoor, btnAlarm, edAlarm, btnSetCard,
        btnDuress, btnClrCard, btnStandDefault;
    // language, exit, maker line
    Control btnEng, btnGB, btnBIG5, btnExit, pnKELDO;
    // service controls beyond the right edge of the client area
    Control lblCard, pnCard, sbCard, lblCardID, edCard, btnAddCard, btnGetCard, edCRRev, edCRCmd,
        btnCRCmd, btnGetTemplate, btnPutTemplate, edF1, edF2, edF3;

    // Every control in creation order (the tab order follows it).
    const std::vector<Control*>& controls() const { return controls_; }
    Control* find(const std::string& name) const;

    // ---- start-up ----
    // Defaults, settings load, close command removed, flags cleared, list
    // selections set.
    void FormCreate();
    // Captions in the current language.
    void FormShow();
    bool close_command_removed() const { return close_command_removed_; }
    // Set by btnExit: the binding closes the window.
    std::function<void()> close_window;

    // ---- input from the binding; ignored while the window or the control
    // cannot take input ----
    void press(Control& control);
    void user_set_position(Control& scroll_bar, int position);
    void user_set_index(Control& list, int index);
    void user_set_text(Control& edit, std::string text);
    void user_set_checked(Control& check_box, bool on);
    // A timer tick (delivered while events are processed).
    void tick(Control& timer);
    // Runs an event handler; an error that escapes it is shown in the error
    // box and the window goes back to idle.
    void dispatch(const std::function<void()>& handler);

    // ---- conventions shared by the operations ----
    const std::string& Text(int row) const;
    void SetBusy(bool on);
    void tmrBusyTimer();
    void ShowOutcome(Rgb color, int row, unsigned frequency_hz);
    // "I00B" with a valid reply of exactly 16 bytes.
    bool PresenceCheck();
    // Characters 6 to 13 of the last reply: the serial number after a presence check.
    std::string SerialField() const;
    // The usual try: wait 100 ms, presence check, wait 100 ms, the command.
    bool CommandTry(const std::function<std::string()>& payload);
    // The operation pattern: cursor, disable, refusal, status label, open,
    // tries, close, outcome, enable.
    Outcome RunOperation(const Operation& op);

    bool window_enabled() const { return frmModule.enabled(); }
    void Sleep(uint32_t ms) { svc.clock.sleep_ms(ms); }
    void ProcessMessages() { svc.pump.process_pending(); }
    void Beep(unsigned hz, unsigned ms) { svc.beeper.beep(hz, ms); }
    void SetCursorBusy(bool busy);
    bool cursor_busy() const { return cursor_busy_; }

    // A live reading registers how to put its controls back should an error
    // escape it; cleared when the reading ends normally.
    std::function<void()> reading_cleanup;
    // True while a live reading's loop runs (also while it finishes its last
    // cycle after a stop press).
    bool reading_loop = false;

    // What the last scan tried, in order.
    std::vector<PortAttempt> scan_record;
    // Opens the port with the link-settings arguments and records the
    // attempt (the scan uses it; every other operation calls OpenPort).
    bool OpenPortRecorded(int port_number, const std::string& settings);
    // Called after the scan with its record (diagnostics; may be empty).
    std::function<void(const std::vector<PortAttempt>&)> on_scan_finished;

    // Language buttons: index, name, store, captions.
    void SwitchLanguage(int language);

  private:
    Control& add(Control& c);
    void ReturnToIdle();

    std::vector<Control*> controls_;
    int busy_phase_ = 0;  // never reset: each busy period goes on where the last stopped
    bool close_command_removed_ = false;
    bool cursor_busy_ = false;
    int dispatch_depth_ = 0;
};

// Text trimmed of leading and trailing characters of code 0 to 32.
std::string Trim(const std::string& text);

}  // namespace torvik::app

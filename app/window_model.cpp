// SPDX-License-Identifier: MIT
#include "app/window_model.h"

#include <exception>

#include "app/catalogue.h"
#include "app/settings.h"

namespace torvik::app {

namespace {
std::vector<std::string> settings_items() {
    return {kSettingsList.begin(), kSettingsList.end()};
}
}  // namespace

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    return text.substr(first, last - first);
}

#define TORVIK_CONTROL(name, kind) name(&observer, #name, Kind::kind)
#define TORVIK_CHILD(name, kind, parent) name(&observer, #name, Kind::kind, &parent)

TfrmModule::TfrmModule(Services services)
    : svc(services),
      port(svc.serial, svc.clock),
      link(port, svc.clock, svc.pump),
      TORVIK_CONTROL(frmModule, Window),
      TORVIK_CONTROL(pnMsg, Panel),
      TORVIK_CHILD(shComm, Shape, pnMsg),
      TORVIK_CONTROL(tmrBusy, Timer),
      TORVIK_CONTROL(pnSerial, Panel),
      TORVIK_CONTROL(pnVersion, Panel),
      TORVIK_CONTROL(btnScan, Button),
      TORVIK_CONTROL(lblID, Label),
      TORVIK_CONTROL(pnID, Panel),
      TORVIK_CONTROL(sbID, ScrollBar),
      TORVIK_CONTROL(btnID, Button),
      TORVIK_CONTROL(lblBaudRate, Label),
      TORVIK_CONTROL(cmbBaudRate, List),
      TORVIK_CONTROL(chkLock, CheckBox),
      TORVIK_CONTROL(btnBaudRate, Button),
      TORVIK_CONTROL(cmbMode, List),
      TORVIK_CONTROL(cmbWiegand, List),
      TORVIK_CONTROL(cmbRS485, List),
      TORVIK_CONTROL(btnMode, Button),
      TORVIK_CONTROL(cmbCardType, List),
      TORVIK_CONTROL(btnCardType, Button),
      TORVIK_CONTROL(pnFacility, Panel),
      TORVIK_CONTROL(sbFacility, ScrollBar),
      TORVIK_CONTROL(btnFacility, Button),
      TORVIK_CONTROL(lblFingerNo, Label),
      TORVIK_CONTROL(pnFingerNo, Panel),
      TORVIK_CONTROL(sbFingerNo, ScrollBar),
      TORVIK_CONTROL(btnAdd, Button),
      TORVIK_CONTROL(btnDel, Button),
      TORVIK_CONTROL(shCard, Shape),
      TORVIK_CONTROL(pnDI, Panel),
      TORVIK_CONTROL(pnCardID, Panel),
      TORVIK_CONTROL(btnReadCard, Button),
      TORVIK_CONTROL(btnEncode, Button),
      TORVIK_CONTROL(tmrCard, Timer),
      TORVIK_CONTROL(gbDefault, GroupBox),
      TORVIK_CHILD(btnFactory, LargeButton, gbDefault),
      TORVIK_CHILD(btnStand, LargeButton, gbDefault),
      TORVIK_CHILD(btnDoor, Button, gbDefault),
      TORVIK_CHILD(edDoor, MaskedEdit, gbDefault),
      TORVIK_CHILD(btnAlarm, Button, gbDefault),
      TORVIK_CHILD(edAlarm, MaskedEdit, gbDefault),
      TORVIK_CHILD(btnSetCard, Button, gbDefault),
      TORVIK_CHILD(btnDuress, Button, gbDefault),
      TORVIK_CHILD(btnClrCard, Button, gbDefault),
      TORVIK_CHILD(btnStandDefault, LargeButton, gbDefault),
      TORVIK_CONTROL(btnEng, Button),
      TORVIK_CONTROL(btnGB, ImageButton),
      TORVIK_CONTROL(btnBIG5, ImageButton),
      TORVIK_CONTROL(btnExit, Button),
      TORVIK_CONTROL(pnKELDO, Panel),
      TORVIK_CONTROL(lblCard, Label),
      TORVIK_CONTROL(pnCard, Panel),
      TORVIK_CONTROL(sbCard, ScrollBar),
      TORVIK_CONTROL(lblCardID, Label),
      TORVIK_CONTROL(edCard, Edit),
      TORVIK_CONTROL(btnAddCard, Button),
      TORVIK_CONTROL(btnGetCard, Button),
      TORVIK_CONTROL(edCRRev, Edit),
      TORVIK_CONTROL(edCRCmd, Edit),
      TORVIK_CONTROL(btnCRCmd, Button),
      TORVIK_CONTROL(btnGetTemplate, Button),
      TORVIK_CONTROL(btnPutTemplate, Button),
      TORVIK_CONTROL(edF1, Edit),
      TORVIK_CONTROL(edF2, Edit),
      TORVIK_CONTROL(edF3, Edit) {
    // Initial content as laid out; captions are replaced in the stored
    // language when the window is first shown.
    add(frmModule).set_caption("KELDO TORVIK Reader Config");
    add(pnMsg).set_caption("Start Scan Reader");
    add(shComm).set_color(kRed);
    add(tmrBusy).interval_ms = 200;
    tmrBusy.set_enabled(false);
    add(pnSerial).set_caption("S/N : ________");
    add(pnVersion).set_caption("VER : __.__-__");
    add(btnScan).set_caption("&Scan Reader");
    add(lblID).set_caption("ID :");
    add(pnID).set_caption("__");
    add(sbID).set_range(1, 99, 10);
    sbID.set_position(1);
    add(btnID).set_caption("Set &ID");
    add(lblBaudRate).set_caption("Baud Rate :");
    add(cmbBaudRate).set_items(settings_items());
    add(chkLock).set_checked(true);
    add(btnBaudRate).set_caption("Set &Baud Rate");
    add(cmbMode).set_items({"Wiegand", "RS485"});
    cmbMode.set_index(0);
    add(cmbWiegand).set_items({"Wiegand 26", "Wiegand 34", "Wiegand 42"});
    cmbWiegand.set_index(0);
    add(cmbRS485).set_items({"RS485 24", "RS485 32", "RS485 40"});
    cmbRS485.set_index(1);
    add(btnMode).set_caption("Set Wiegand/RS485 &Mode");
    add(cmbCardType).set_items({"EM/TEMIC Card", "KELDO Card", "Security Card"});
    cmbCardType.set_index(0);
    add(btnCardType).set_caption("Set Card &Type");
    add(pnFacility).set_caption("00000");
    add(sbFacility).set_range(0, 65535, 10);
    sbFacility.set_position(0);
    add(btnFacility).set_caption("Set Facility Code ");
    add(lblFingerNo).set_caption("Finger No :");
    add(pnFingerNo).set_caption("000001");
    add(sbFingerNo).set_range(0, 1000, 10);
    sbFingerNo.set_position(1);
    add(btnAdd).set_caption("Add FingerPrint");
    add(btnDel).set_caption("Del FingerPrint");
    add(shCard).set_color(kWhite);
    add(pnDI).set_caption("0");
    add(pnCardID).set_caption("FingerPrint or &Card ID");
    add(btnReadCard).set_caption("Read &ID (Change to RS485 Mode)");
    add(btnEncode).set_caption("ID");
    add(tmrCard).interval_ms = 1000;
    tmrCard.set_enabled(false);
    add(gbDefault);
    add(btnFactory).set_caption("Factory Default");
    add(btnStand).set_caption("Stand Alone Mode");
    add(btnDoor).set_caption("Door Time");
    add(edDoor).set_text("0005");
    add(btnAlarm).set_caption("Alarm Time");
    add(edAlarm).set_text("0030");
    add(btnSetCard).set_caption("Set Card");
    add(btnDuress).set_caption("Duress Card");
    add(btnClrCard).set_caption("Clr Card");
    add(btnStandDefault).set_caption("Stand Alone Default");
    for (Control* c : {&edDoor, &edAlarm}) {
        c->edit_mask = "!9999;1;_";
        c->max_length = 4;
    }
    for (Control* c : {&btnDoor, &edDoor, &btnAlarm, &edAlarm, &btnSetCard, &btnDuress, &btnClrCard,
                       &btnStandDefault}) {
        c->set_visible(false);
    }
    add(btnEng).set_caption("English");
    add(btnGB);
    add(btnBIG5);
    add(btnExit).set_caption("&Exit");
    add(pnKELDO);
    add(lblCard).set_caption("Card No :");
    add(pnCard).set_caption("000001");
    add(sbCard).set_range(1, 1000, 10);
    sbCard.set_position(1);
    add(lblCardID).set_caption("Card ID :");
    add(edCard).set_text("0000000000");
    edCard.max_length = 10;
    add(btnAddCard).set_caption("Add Card ID");
    add(btnGetCard).set_caption("Get Card ID");
    add(edCRRev).read_only = true;
    add(edCRCmd).set_text("AB");
    edCRCmd.max_length = 40;
    add(btnCRCmd).set_caption("CR Test");
    add(btnGetTemplate).set_caption("Read Template");
    add(btnPutTemplate).set_caption("Write Template");
    add(edF1).set_text(std::string(255, '0'));
    edF1.max_length = 256;
    add(edF2).set_text(std::string(255, '0'));
    add(edF3).set_text(std::string(255, '0'));

    tmrBusy.on_event = [this] { tmrBusyTimer(); };
    btnEng.on_event = [this] { SwitchLanguage(0); };
    btnGB.on_event = [this] { SwitchLanguage(1); };
    btnBIG5.on_event = [this] { SwitchLanguage(2); };
    btnExit.on_event = [this] {
        if (close_window) close_window();
    };
}

#undef TORVIK_CONTROL
#undef TORVIK_CHILD

Control& TfrmModule::add(Control& c) {
    controls_.push_back(&c);
    return c;
}

Control* TfrmModule::find(const std::string& name) const {
    for (Control* c : controls_) {
        if (c->name() == name) return c;
    }
    return nullptr;
}

void TfrmModule::FormCreate() {
    state.link = LinkSettings{};
    state.language_name = "English";
    state.language = 0;
    try {
        LoadSettings(svc.store, state);
    } catch (...) {
        // A load that fails in any way leaves the defaults not yet replaced.
    }
    close_command_removed_ = true;
    state.reading = false;
    state.reader_found = false;
    cmbBaudRate.set_index(state.link.index);
    cmbMode.set_index(0);
    cmbWiegand.set_index(0);
    cmbRS485.set_index(1);
}

void TfrmModule::FormShow() {
    frmModule.set_caption(Text(1));
    pnKELDO.set_caption(Text(0));
    pnMsg.set_caption(Text(2));
    pnSerial.set_caption(Text(29) + " : ________");
    pnVersion.set_caption(Text(31) + " : __.__-__");
    lblID.set_caption(Text(4) + ":");
    lblBaudRate.set_caption(Text(5) + ":");
    pnCardID.set_caption(Text(25));
    btnScan.set_caption(Text(28));
    btnID.set_caption(Text(36));
    btnBaudRate.set_caption(Text(6));
    btnMode.set_caption(Text(7));
    btnCardType.set_caption(Text(45));
    btnReadCard.set_caption(Text(8));
    btnFactory.set_caption(Text(48));
    btnStand.set_caption(Text(54));
    btnStandDefault.set_caption(Text(51));
    btnExit.set_caption(Text(14));
    btnAdd.set_caption(Text(16));
    btnDel.set_caption(Text(19));
    lblFingerNo.set_caption(Text(15));
    btnDoor.set_caption(Text(9));
    btnAlarm.set_caption(Text(10));
    btnSetCard.set_caption(Text(11));
    btnClrCard.set_caption(Text(12));
    btnDuress.set_caption(Text(13));
    btnFacility.set_caption(Text(22));
}

void TfrmModule::SwitchLanguage(int language) {
    state.language = language;
    state.language_name = kLanguageNames[static_cast<size_t>(language)];
    SaveLanguage(svc.store, state.language_name);
    FormShow();
}

const std::string& TfrmModule::Text(int row) const {
    return catalogue_text(row, state.language);
}

void TfrmModule::press(Control& control) {
    if (!window_enabled() || !control.usable() || !control.on_event) return;
    dispatch(control.on_event);
}

void TfrmModule::user_set_position(Control& scroll_bar, int position) {
    if (!window_enabled() || !scroll_bar.usable()) return;
    dispatch([&] { scroll_bar.set_position(position); });
}

void TfrmModule::user_set_index(Control& list, int index) {
    if (!window_enabled() || !list.usable()) return;
    list.set_index(index);
}

void TfrmModule::user_set_text(Control& edit, std::string text) {
    if (!window_enabled() || !edit.usable() || edit.read_only) return;
    if (edit.max_length > 0) {
        // The limit counts characters: cut at a character boundary of the
        // UTF-8 text, never inside a character.
        size_t characters = 0, end = 0;
        for (; end < text.size(); ++end) {
            const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
            if (starts_character && characters++ == static_cast<size_t>(edit.max_length)) break;
        }
        text.resize(end);
    }
    edit.set_text(std::move(text));
}

void TfrmModule::user_set_checked(Control& check_box, bool on) {
    if (!window_enabled() || !check_box.usable()) return;
    check_box.set_checked(on);
}

void TfrmModule::tick(Control& timer) {
    if (!timer.enabled() || !timer.on_event) return;
    dispatch(timer.on_event);
}

void TfrmModule::dispatch(const std::function<void()>& handler) {
    ++dispatch_depth_;
    std::string error;
    try {
        handler();
    } catch (const std::exception& e) {
        error = e.what();
        if (error.empty()) error = "Unexpected error";
    } catch (...) {
        error = "Unexpected error";
    }
    --dispatch_depth_;
    if (!error.empty()) {
        // Only the outermost handler owns the window's state; an error in a
        // handler nested inside a running reading leaves the reading alone.
        if (dispatch_depth_ == 0) ReturnToIdle();
        svc.errors.show_error(error);
    }
}

void TfrmModule::ReturnToIdle() {
    if (reading_cleanup) {
        auto cleanup = std::move(reading_cleanup);
        reading_cleanup = nullptr;
        cleanup();
    }
    state.reading = false;
    port.ClosePort();
    frmModule.set_enabled(true);
    tmrBusy.set_enabled(false);
    SetCursorBusy(false);
}

bool TfrmModule::OpenPortRecorded(int port_number, const std::string& settings) {
    PortAttempt attempt;
    attempt.port = port_number;
    attempt.device = svc.serial.device_path(port_number);
    attempt.settings = settings;
    attempt.opened = port.OpenPort(port_number, settings);
    if (!attempt.opened) attempt.cause = svc.serial.last_open_failure();
    scan_record.push_back(std::move(attempt));
    return scan_record.back().opened;
}

void TfrmModule::SetCursorBusy(bool busy) {
    cursor_busy_ = busy;
    svc.cursor.set_busy(busy);
}

void TfrmModule::SetBusy(bool on) {
    if (on) {
        tmrBusy.set_enabled(true);
        frmModule.set_enabled(false);
    } else {
        frmModule.set_enabled(true);
        tmrBusy.set_enabled(false);
    }
}

void TfrmModule::tmrBusyTimer() {
    if (busy_phase_ == 1) {
        busy_phase_ = 0;
        shComm.set_color(kYellow);
    } else {
        busy_phase_ = 1;
        shComm.set_color(kRed);
    }
}

void TfrmModule::ShowOutcome(Rgb color, int row, unsigned frequency_hz) {
    shComm.set_color(color);
    pnMsg.set_caption(Text(row));
    Beep(frequency_hz, kOutcomeBeepMs);
}

bool TfrmModule::PresenceCheck() {
    return link.SendShort("I00B") && link.receive_count() == 16;
}

std::string TfrmModule::SerialField() const {
    return link.field(6, 8);
}

bool TfrmModule::CommandTry(const std::function<std::string()>& payload) {
    Sleep(100);
    if (!PresenceCheck()) return false;
    Sleep(100);
    return link.SendShort(payload());
}

Outcome TfrmModule::RunOperation(const Operation& op) {
    SetCursorBusy(true);
    if (op.busy_blinker) {
        SetBusy(true);
    } else {
        frmModule.set_enabled(false);
    }
    if (op.pump_at_start) ProcessMessages();

    Outcome outcome = Outcome::NotFound;
    if (state.reader_found) {
        if (op.status_label) pnMsg.set_caption(op.status_label());
        outcome = Outcome::Failure;
        if (port.OpenPort(state.link.port, state.link.settings)) {
            for (int i = 0; i < op.tries; ++i) {
                if (op.attempt()) {
                    outcome = Outcome::Success;
                    break;
                }
            }
            port.ClosePort();
        }
    }

    switch (outcome) {
        case Outcome::Success:
            if (op.on_success) op.on_success();
            ShowOutcome(kYellow, op.success_row, kHighBeepHz);
            if (op.after_success) op.after_success();
            break;
        case Outcome::Failure:
            ShowOutcome(kRed, op.failure_row, kLowBeepHz);
            break;
        case Outcome::NotFound:
            ShowOutcome(kRed, 2, kLowBeepHz);
            break;
    }

    if (op.busy_blinker) {
        SetBusy(false);
    } else {
        frmModule.set_enabled(true);
    }
    SetCursorBusy(false);
    return outcome;
}

}  // namespace torvik::app

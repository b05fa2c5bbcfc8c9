// SPDX-License-Identifier: MIT
#include "app/window_model.h"

#include <exception>

#include "app/catalogue.h"
#include "app/settings.h"
#include "app/text.h"
#include "link/protocol.h"

namespace torvik::app {

namespace {
template <size_t N>
std::vector<std::string> items_of(const std::array<const char*, N>& items) {
    return {items.begin(), items.end()};
}

// The characters of a control's text as wire bytes (edits hold only
// characters with a one-byte code).
Bytes BytesOf(const std::string& text) {
    return BytesOfText(text).value_or(Bytes());
}
}  // namespace

#define TORVIK_CONTROL(name, kind) name(&observer, #name, Kind::kind)
#define TORVIK_CHILD(name, kind, parent) name(&observer, #name, Kind::kind, &parent)

TfrmModule::TfrmModule(Services services)
    : svc(services),
      port(svc.serial, svc.clock),
      link(port, svc.clock, svc.pump),
      core(svc, port, link, state, *this),
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
    add(cmbBaudRate).set_items(items_of(kSettingsList));
    add(chkLock).set_checked(true);
    add(btnBaudRate).set_caption("Set &Baud Rate");
    add(cmbMode).set_items(items_of(kModeItems));
    cmbMode.set_index(0);
    add(cmbWiegand).set_items(items_of(kWiegandItems));
    cmbWiegand.set_index(0);
    add(cmbRS485).set_items(items_of(kRs485Items));
    cmbRS485.set_index(1);
    add(btnMode).set_caption("Set Wiegand/RS485 &Mode");
    add(cmbCardType).set_items(items_of(kCardTypeItems));
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
    edCRCmd.max_length = kRawCommandMaxLength;
    add(btnCRCmd).set_caption("CR Test");
    add(btnGetTemplate).set_caption("Read Template");
    add(btnPutTemplate).set_caption("Write Template");
    add(edF1).set_text(std::string(255, '0'));
    edF1.max_length = 256;
    add(edF2).set_text(std::string(255, '0'));
    add(edF3).set_text(std::string(255, '0'));

    BindHandlers();
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
    SaveLanguage(svc.store, state.language_name, state.high_contrast);
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
    // What goes on the wire is one byte per character: a text with a
    // character that has no such byte is refused whole.
    if (!IsByteText(text)) return;
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
        if (dispatch_depth_ == 0) core.ReturnToIdle();
        svc.errors.show_error(error);
    }
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

void TfrmModule::ShowIndicator(Indicator indicator) {
    shComm.set_color(indicator == Indicator::kFound ? kYellow : kRed);
}

void TfrmModule::ShowReaderPlaceholders() {
    pnSerial.set_caption(Text(29) + " : ________");
    pnVersion.set_caption(Text(31) + " : __.__-__");
    pnID.set_caption("__");
}

void TfrmModule::ShowReaderId(const std::string& id) {
    pnID.set_caption(id);
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : -1; };
    if (id.size() == 2 && digit(id[0]) >= 0 && digit(id[1]) >= 0) {
        // The bar keeps 1..99; its change handler rewrites pnID as two digits.
        sbID.set_position(digit(id[0]) * 10 + digit(id[1]));
    }
}

void TfrmModule::ShowOutputMode(const OutputMode& mode) {
    cmbMode.set_index(mode.interface);
    cmbWiegand.set_index(mode.wiegand);
    cmbRS485.set_index(mode.rs485);
}

std::vector<Control*> TfrmModule::ReadingControls(bool encoded) {
    std::vector<Control*> controls = {
        &btnExit, &btnScan, &btnID, &btnBaudRate, &btnMode, &gbDefault, &btnEng, &btnGB, &btnBIG5,
        &btnAdd, &btnDel, &btnFacility,
        // Everything else that would open a second port while this one is held.
        &btnCardType, &btnAddCard, &btnGetCard, &btnGetTemplate, &btnPutTemplate, &btnCRCmd};
    controls.push_back(encoded ? &btnReadCard : &btnEncode);
    return controls;
}

void TfrmModule::ReadingStarted(bool encoded) {
    saved_reading_caption_ = btnReadCard.caption();
    if (!encoded) btnReadCard.set_caption(Text(3));
    for (Control* c : ReadingControls(encoded)) c->set_enabled(false);
}

void TfrmModule::ReadingEnded(bool encoded) {
    if (!encoded) pnCardID.set_caption(Text(25));
    for (Control* c : ReadingControls(encoded)) c->set_enabled(true);
    if (!encoded) btnReadCard.set_caption(saved_reading_caption_);
}

void TfrmModule::SetLamp(bool lit) {
    shCard.set_color(lit ? kYellow : kWhite);
    // Enabling a running timer does not restart it.
    if (lit) tmrCard.set_enabled(true);
}

void TfrmModule::ResetAfterDefault(bool stand_alone_default) {
    sbID.set_position(1);
    sbFacility.set_position(0);
    cmbBaudRate.set_index(kDefaultSettingsIndex);
    cmbMode.set_index(0);
    cmbWiegand.set_index(0);
    cmbRS485.set_index(1);
    if (stand_alone_default) {
        cmbCardType.set_index(0);
        edDoor.set_text("0005");
        edAlarm.set_text("0030");
    }
}

void TfrmModule::ShowStandAloneControls(bool shown) {
    for (Control* c : {&btnDoor, &edDoor, &btnAlarm, &edAlarm, &btnSetCard, &btnDuress, &btnClrCard,
                       &btnStandDefault}) {
        c->set_visible(shown);
    }
}

void TfrmModule::ShowTemplatePiece(int piece, const std::string& text) {
    Control* boxes[] = {&edF1, &edF2, &edF3};
    if (piece >= 0 && piece < 3) boxes[piece]->set_text(text);
}

// ---------------------------------------------------------------- handlers

void TfrmModule::BindHandlers() {
    const auto on = [this](Control& c, void (TfrmModule::*handler)()) {
        c.on_event = [this, handler] { (this->*handler)(); };
    };
    on(tmrBusy, &TfrmModule::tmrBusyTimer);
    btnEng.on_event = [this] { SwitchLanguage(0); };
    btnGB.on_event = [this] { SwitchLanguage(1); };
    btnBIG5.on_event = [this] { SwitchLanguage(2); };
    btnExit.on_event = [this] {
        if (close_window) close_window();
    };
    on(btnScan, &TfrmModule::btnScanClick);
    on(sbID, &TfrmModule::sbIDChange);
    on(btnID, &TfrmModule::btnIDClick);
    on(btnBaudRate, &TfrmModule::btnBaudRateClick);
    on(btnMode, &TfrmModule::btnModeClick);
    on(btnCardType, &TfrmModule::btnCardTypeClick);
    on(btnReadCard, &TfrmModule::btnReadCardClick);
    on(tmrCard, &TfrmModule::tmrCardTimer);
    on(sbCard, &TfrmModule::sbCardChange);
    on(btnAddCard, &TfrmModule::btnAddCardClick);
    on(sbFacility, &TfrmModule::sbFacilityChange);
    on(btnFacility, &TfrmModule::btnFacilityClick);
    on(btnEncode, &TfrmModule::btnEncodeClick);
    on(btnCRCmd, &TfrmModule::btnCRCmdClick);
    on(sbFingerNo, &TfrmModule::sbFingerNoChange);
    on(btnAdd, &TfrmModule::btnAddClick);
    on(btnDel, &TfrmModule::btnDelClick);
    on(btnGetTemplate, &TfrmModule::btnGetTemplateClick);
    // "Get Card ID" runs the template read, for the finger number.
    on(btnGetCard, &TfrmModule::btnGetTemplateClick);
    on(btnPutTemplate, &TfrmModule::btnPutTemplateClick);
    on(btnFactory, &TfrmModule::btnFactoryClick);
    on(btnStand, &TfrmModule::btnStandClick);
    on(btnStandDefault, &TfrmModule::btnStandDefaultClick);
    on(btnDoor, &TfrmModule::btnDoorClick);
    on(btnAlarm, &TfrmModule::btnAlarmClick);
    on(btnSetCard, &TfrmModule::btnSetCardClick);
    on(btnClrCard, &TfrmModule::btnClrCardClick);
    on(btnDuress, &TfrmModule::btnDuressClick);
}

// A handler without a reader (the operations layer not attached) does nothing.
#define TORVIK_READER     \
    if (!reader_) return; \
    Reader& reader = *reader_

void TfrmModule::btnScanClick() {
    TORVIK_READER;
    reader.Scan(!chkLock.checked());
}

void TfrmModule::btnIDClick() {
    TORVIK_READER;
    reader.SetId(BytesOf(pnID.caption()));
}

void TfrmModule::btnBaudRateClick() {
    TORVIK_READER;
    reader.SetBaudRate(cmbBaudRate.index());
}

void TfrmModule::btnModeClick() {
    TORVIK_READER;
    reader.SetOutputMode(OutputMode{cmbMode.index(), cmbWiegand.index(), cmbRS485.index()});
}

void TfrmModule::btnCardTypeClick() {
    TORVIK_READER;
    reader.SetCardType(cmbCardType.index());
}

void TfrmModule::btnFacilityClick() {
    TORVIK_READER;
    reader.SetFacility(sbFacility.position());
}

void TfrmModule::btnReadCardClick() {
    TORVIK_READER;
    reader.ReadCards(false, {});
}

void TfrmModule::btnEncodeClick() {
    TORVIK_READER;
    reader.ReadCards(true, {});
}

void TfrmModule::btnAddCardClick() {
    TORVIK_READER;
    reader.AddCard();
}

void TfrmModule::btnCRCmdClick() {
    TORVIK_READER;
    reader.RawCommand(BytesOf(edCRCmd.text()));
}

void TfrmModule::btnAddClick() {
    TORVIK_READER;
    reader.Enrol(sbFingerNo.position());
}

void TfrmModule::btnDelClick() {
    TORVIK_READER;
    reader.Delete(sbFingerNo.position());
}

void TfrmModule::btnGetTemplateClick() {
    TORVIK_READER;
    reader.ReadTemplate(sbFingerNo.position());
}

void TfrmModule::btnPutTemplateClick() {
    TORVIK_READER;
    reader.WriteTemplate(sbFingerNo.position(),
                         {BytesOf(edF1.text()), BytesOf(edF2.text()), BytesOf(edF3.text())});
}

void TfrmModule::btnFactoryClick() {
    TORVIK_READER;
    reader.FactoryDefault();
}

void TfrmModule::btnStandDefaultClick() {
    TORVIK_READER;
    reader.StandAloneDefault();
}

void TfrmModule::btnStandClick() {
    TORVIK_READER;
    reader.StandAloneMode();
}

void TfrmModule::btnDoorClick() {
    TORVIK_READER;
    reader.SetDoorTime(BytesOf(edDoor.text()));
}

void TfrmModule::btnAlarmClick() {
    TORVIK_READER;
    reader.SetAlarmTime(BytesOf(edAlarm.text()));
}

void TfrmModule::btnSetCardClick() {
    TORVIK_READER;
    reader.SetMasterCard();
}

void TfrmModule::btnDuressClick() {
    TORVIK_READER;
    reader.SetDuressCard();
}

void TfrmModule::btnClrCardClick() {
    TORVIK_READER;
    reader.SetClearCard();
}

#undef TORVIK_READER

void TfrmModule::sbIDChange() {
    pnID.set_caption(link::Decimal(sbID.position(), 2));
}

void TfrmModule::sbFacilityChange() {
    pnFacility.set_caption(link::Decimal(sbFacility.position(), 5));
}

void TfrmModule::sbFingerNoChange() {
    pnFingerNo.set_caption(link::Decimal(sbFingerNo.position(), 6));
}

void TfrmModule::sbCardChange() {
    pnCard.set_caption(link::Decimal(sbCard.position(), 6));
}

void TfrmModule::tmrCardTimer() {
    shCard.set_color(kWhite);
    tmrCard.set_enabled(false);
}

}  // namespace torvik::app

// SPDX-License-Identifier: MIT
// The main window frmModule as a toolkit-free model: every control with its
// name, kind and initial content, the application state, and the window's
// event handlers. A handler reads its controls and calls the reader
// (app/reader.h); the model is the reader's view (app/reader_view.h): it
// renders the busy display, the status line, the indicator and the fields
// into its controls. A binding to a windowing toolkit mirrors the controls.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control.h"
#include "app/reader.h"
#include "app/reader_core.h"
#include "app/reader_view.h"
#include "link/exchange.h"
#include "link/port.h"

namespace torvik::app {

class TfrmModule final : public ReaderView {
  public:
    explicit TfrmModule(Services services);
    TfrmModule(const TfrmModule&) = delete;
    TfrmModule& operator=(const TfrmModule&) = delete;

    // ---- platform, link, state ----
    Services svc;
    link::Port port;
    link::Link link;
    AppState state;
    // The conventions the operations follow, with this model as their view.
    ReaderCore core;

    // The reader the handlers call (set by the operations layer).
    void set_reader(std::unique_ptr<Reader> reader) { reader_ = std::move(reader); }
    Reader* reader() const { return reader_.get(); }

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
    // Edits take only characters with a one-byte code, up to their length.
    void user_set_text(Control& edit, std::string text);
    void user_set_checked(Control& check_box, bool on);
    // A timer tick (delivered while events are processed).
    void tick(Control& timer);
    // Runs an event handler; an error that escapes it is shown in the error
    // box and the window goes back to idle.
    void dispatch(const std::function<void()>& handler);

    // ---- texts ----
    const std::string& Text(int row) const;
    std::string Render(const Message& text) const { return text.Render(state.language); }

    bool window_enabled() const { return frmModule.enabled(); }
    bool cursor_busy() const { return cursor_busy_; }
    // What the last scan tried, in order.
    const std::vector<PortAttempt>& scan_record() const { return core.scan_record; }

    // Language buttons: index, name, store, captions.
    void SwitchLanguage(int language);

    // ---- the reader view ----
    void SetCursorBusy(bool busy) override;
    void SetBusy(bool on) override;
    void SetWindowEnabled(bool on) override { frmModule.set_enabled(on); }
    void ShowIndicator(Indicator indicator) override;
    void ShowStatus(const Message& text) override { pnMsg.set_caption(Render(text)); }
    void ShowSettingsIndex(int index) override { cmbBaudRate.set_index(index); }
    void ShowReaderPlaceholders() override;
    void ShowSerial(const Message& text) override { pnSerial.set_caption(Render(text)); }
    void ShowVersion(const Message& text) override { pnVersion.set_caption(Render(text)); }
    void ShowReaderId(const std::string& id) override;
    void ShowOutputMode(const OutputMode& mode) override;
    void ReadingStarted(bool encoded) override;
    void ReadingEnded(bool encoded) override;
    void ShowInput(const std::string& text) override { pnDI.set_caption(text); }
    void ShowCardId(const Message& text) override { pnCardID.set_caption(Render(text)); }
    void SetLamp(bool lit) override;
    void ResetAfterDefault(bool stand_alone_default) override;
    void ShowStandAloneControls(bool shown) override;
    void ShowTemplatePiece(int piece, const std::string& text) override;
    void ShowRawAnswer(const std::string& text) override { edCRRev.set_text(text); }

  private:
    Control& add(Control& c);
    void BindHandlers();
    void tmrBusyTimer();
    // The controls a live reading disables.
    std::vector<Control*> ReadingControls(bool encoded);

    // ---- event handlers: read the controls, call the reader ----
    void btnScanClick();
    void btnIDClick();
    void btnBaudRateClick();
    void btnModeClick();
    void btnCardTypeClick();
    void btnFacilityClick();
    void btnReadCardClick();
    void btnEncodeClick();
    void btnAddCardClick();
    void btnCRCmdClick();
    void btnAddClick();
    void btnDelClick();
    void btnGetTemplateClick();
    void btnPutTemplateClick();
    void btnFactoryClick();
    void btnStandDefaultClick();
    void btnStandClick();
    void btnDoorClick();
    void btnAlarmClick();
    void btnSetCardClick();
    void btnDuressClick();
    void btnClrCardClick();
    void sbIDChange();
    void sbFacilityChange();
    void sbFingerNoChange();
    void sbCardChange();
    void tmrCardTimer();

    std::unique_ptr<Reader> reader_;
    std::vector<Control*> controls_;
    int busy_phase_ = 0;  // never reset: each busy period goes on where the last stopped
    bool close_command_removed_ = false;
    bool cursor_busy_ = false;
    int dispatch_depth_ = 0;
    std::string saved_reading_caption_;
};

}  // namespace torvik::app

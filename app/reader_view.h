// SPDX-License-Identifier: MIT
// What the reader operations show while they run and when they end: the
// busy display, the status line and link indicator, and the fields each
// operation fills. The window model renders these into its controls; a
// front end without a window can show them as it likes (or not at all).
#pragma once
#include <string>

#include "app/message.h"
#include "app/reader.h"

namespace torvik::app {

// The colour of the link indicator after an operation.
enum class Indicator {
    kFound,   // yellow: the last operation succeeded
    kFailed,  // red: it failed or was refused
};

class ReaderView {
  public:
    virtual ~ReaderView() = default;

    // ---- the operation pattern ----
    // Hourglass over the whole application, or the normal cursor.
    virtual void SetCursorBusy(bool busy) = 0;
    // Busy mode: the blinker of the link indicator runs and the window is
    // disabled; off: the window is enabled and the blinker stops.
    virtual void SetBusy(bool on) = 0;
    virtual void SetWindowEnabled(bool on) = 0;
    virtual void ShowIndicator(Indicator indicator) = 0;
    virtual void ShowStatus(const Message& text) = 0;

    // ---- the scan ----
    // The settings index being tried or found (-1: none).
    virtual void ShowSettingsIndex(int index) = 0;
    // Serial number, version and ID back to their placeholders.
    virtual void ShowReaderPlaceholders() = 0;
    virtual void ShowSerial(const Message& text) = 0;
    virtual void ShowVersion(const Message& text) = 0;
    // The two ID characters the reader reported.
    virtual void ShowReaderId(const std::string& id) = 0;
    virtual void ShowOutputMode(const OutputMode& mode) = 0;

    // ---- live readings ----
    // The reading's controls are disabled (and the plain reading's button
    // shows its cancel caption) until it ends.
    virtual void ReadingStarted(bool encoded) = 0;
    virtual void ReadingEnded(bool encoded) = 0;
    virtual void ShowInput(const std::string& text) = 0;
    virtual void ShowCardId(const Message& text) = 0;
    // The card lamp: lit (it goes out by itself a second later) or out.
    virtual void SetLamp(bool lit) = 0;

    // ---- defaults and stand-alone mode ----
    // The selections a default operation puts back (the stand-alone default
    // also the card type and the two times).
    virtual void ResetAfterDefault(bool stand_alone_default) = 0;
    virtual void ShowStandAloneControls(bool shown) = 0;

    // ---- templates and the raw command ----
    virtual void ShowTemplatePiece(int piece, const std::string& text) = 0;  // piece 0..2
    virtual void ShowRawAnswer(const std::string& text) = 0;
};

}  // namespace torvik::app

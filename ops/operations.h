// SPDX-License-Identifier: MIT
// The reader operations: event handlers of the main window, each stated by
// its label, commands, tries and outcome rows over the common pattern.
#pragma once
#include <cstdint>
#include <string>

#include "app/window_model.h"

namespace torvik::ops {

using app::TfrmModule;

// Binds every handler below to its control.
void BindOperations(TfrmModule& f);

// Reader scan.
void btnScanClick(TfrmModule& f);
// Reader ID and baud rate.
void sbIDChange(TfrmModule& f);
void btnIDClick(TfrmModule& f);
void btnBaudRateClick(TfrmModule& f);
// The text after "I00E" for a settings index; empty when there is none.
std::string BaudCode(int index);
// Output mode and card type.
void btnModeClick(TfrmModule& f);
void btnCardTypeClick(TfrmModule& f);
// Live readings.
void btnReadCardClick(TfrmModule& f);
void btnEncodeClick(TfrmModule& f);
void tmrCardTimer(TfrmModule& f);
// Facility code.
void sbFacilityChange(TfrmModule& f);
void btnFacilityClick(TfrmModule& f);
// Card slots.
void sbCardChange(TfrmModule& f);
void btnAddCardClick(TfrmModule& f);
// Raw command test.
void btnCRCmdClick(TfrmModule& f);
// Fingerprints.
void sbFingerNoChange(TfrmModule& f);
void btnAddClick(TfrmModule& f);
void btnDelClick(TfrmModule& f);
// Templates.
void btnGetTemplateClick(TfrmModule& f);
void btnPutTemplateClick(TfrmModule& f);
// Defaults and stand-alone mode.
void btnFactoryClick(TfrmModule& f);
void btnStandDefaultClick(TfrmModule& f);
void btnStandClick(TfrmModule& f);
// Door, alarm and master cards.
void btnDoorClick(TfrmModule& f);
void btnAlarmClick(TfrmModule& f);
void btnSetCardClick(TfrmModule& f);
void btnDuressClick(TfrmModule& f);
void btnClrCardClick(TfrmModule& f);

// ---- reply fields ----
// Value of a hex digit: '0'-'9', 'A'-'F'; anything else (lower case too) is 0.
unsigned HexDigitValue(char c);
// Unsigned 32-bit value of the first n characters, wrapping modulo 2^32;
// positions beyond the text count as 0.
uint32_t HexTextValue(const std::string& text, size_t n);
// The 16-digit identification of an encoded reading, unscrambled with the mask.
std::string UnscrambleId(const std::string& scrambled);
// The 8-byte mask, which is also the default card key written by the defaults.
inline constexpr const char* kCardKey = "7A1C3E5B9D2F4860";
// "%0Nd" of a number.
std::string ZeroPad(int value, int width);

}  // namespace torvik::ops

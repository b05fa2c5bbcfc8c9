// SPDX-License-Identifier: MIT
// The two live readings: the plain ID reading ("I00F") and the encoded ID
// reading ("I00I" + acknowledgement "I00J"). Each keeps the port open, leaves
// the window enabled and polls about ten times a second until its button is
// pressed again (handled nested inside the loop's own event processing) or a
// poll gets no valid reply.
//
// Plain poll reply (positions from 1):
//   | 1 LF | 2..5 | 6 DI | 7 kind ('K' key) | 8..15 ID hex | .. | check | CR |
// Encoded poll reply:
//   | 1 LF | 2..7 | 8..23 scrambled identification, 16 hex | .. | check | CR |
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "ops/operations.h"

namespace torvik::ops {

unsigned HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

uint32_t HexTextValue(const std::string& text, size_t n) {
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i)
        value = value * 16u + HexDigitValue(i < text.size() ? text[i] : '0');
    return value;
}

std::string UnscrambleId(const std::string& scrambled) {
    std::string out;
    for (size_t i = 0; i < 8; ++i) {
        const auto at = [&](size_t p) { return p < scrambled.size() ? scrambled[p] : '\0'; };
        const unsigned byte = HexDigitValue(at(2 * i)) * 16u + HexDigitValue(at(2 * i + 1));
        const unsigned mask =
            HexDigitValue(kCardKey[2 * (7 - i)]) * 16u + HexDigitValue(kCardKey[2 * (7 - i) + 1]);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", (byte ^ mask) & 0xFFu);
        out += hex;
    }
    return out;
}

namespace {

// An identification is a card number: its decimal part is never negative.
std::string DecimalPart(uint32_t value) {
    char text[24];
    std::snprintf(text, sizeof text, " : %010" PRIu32 "  ", value);
    return text;
}

std::vector<app::Control*> ReadingControls(TfrmModule& f, bool encoded) {
    std::vector<app::Control*> controls = {
        &f.btnExit, &f.btnScan, &f.btnID, &f.btnBaudRate, &f.btnMode, &f.gbDefault, &f.btnEng,
        &f.btnGB, &f.btnBIG5, &f.btnAdd, &f.btnDel, &f.btnFacility,
        // Everything else that would open a second port while this one is held.
        &f.btnCardType, &f.btnAddCard, &f.btnGetCard, &f.btnGetTemplate, &f.btnPutTemplate,
        &f.btnCRCmd};
    controls.push_back(encoded ? &f.btnReadCard : &f.btnEncode);
    return controls;
}

void ShowPlainReply(TfrmModule& f) {
    const int length = f.link.receive_count();
    if (f.link.at(7) == 'K') {
        if (length > 10) f.pnCardID.set_caption("KEY : " + f.link.field(8, length - 10));
        return;
    }
    const std::string digits = f.link.field(8, 8);
    f.pnCardID.set_caption(f.Text(25) + DecimalPart(HexTextValue(digits, 8)) + digits + "(H)");
}

void ShowEncodedReply(TfrmModule& f) {
    const std::string r = UnscrambleId(f.link.field(8, 16));
    f.pnCardID.set_caption(f.Text(25) + DecimalPart(HexTextValue(r, 16)) + r + "(H)");
}

void LiveReading(TfrmModule& f, bool encoded) {
    app::Control& toggle = encoded ? f.btnEncode : f.btnReadCard;
    if (!f.state.reader_found) {
        f.pnMsg.set_caption(f.Text(2));
        f.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        return;
    }
    // A press while a loop runs (or is finishing its last cycle) only asks it
    // to stop; it never starts a second reading inside the first.
    if (f.state.reading || f.reading_loop) {
        f.state.reading = false;
        return;
    }

    f.state.reading = true;
    const std::string saved_caption = toggle.caption();
    if (!encoded) toggle.set_caption(f.Text(3));
    const std::vector<app::Control*> controls = ReadingControls(f, encoded);
    for (app::Control* c : controls) c->set_enabled(false);
    auto finish = [&f, &toggle, saved_caption, controls, encoded] {
        if (!encoded) f.pnCardID.set_caption(f.Text(25));
        for (app::Control* c : controls) c->set_enabled(true);
        toggle.set_caption(saved_caption);
        f.reading_loop = false;
    };
    f.reading_cleanup = finish;

    const app::LinkSettings& link = f.state.link;
    if (!f.port.OpenPort(link.port, link.settings)) {
        f.shComm.set_color(app::kRed);
        f.pnMsg.set_caption(f.Text(26) + " : " + std::to_string(link.port) + " " + f.Text(27));
        f.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        f.state.reading = false;
    } else {
        f.reading_loop = true;
        f.SetBusy(true);
        f.frmModule.set_enabled(true);
        while (f.state.reading) {
            for (int pass = 0; pass < 80; ++pass) {
                f.ProcessMessages();
                f.Sleep(1);
            }
            if (!f.link.SendShort(encoded ? "I00I" : "I00F")) break;
            if (!encoded) {
                const char di = f.link.at(6);
                f.pnDI.set_caption(di ? std::string(1, di) : std::string());
            }
            if (f.link.receive_count() <= 9) continue;
            if (encoded) {
                ShowEncodedReply(f);
                f.Sleep(30);
                f.link.SendShort("I00J");
                f.Sleep(30);
            } else {
                ShowPlainReply(f);
            }
            f.shCard.set_color(app::kYellow);
            f.tmrCard.set_enabled(true);  // enabling a running timer does not restart it
        }
        f.SetBusy(false);
        if (f.state.reading) {
            f.shComm.set_color(app::kRed);
            f.pnMsg.set_caption(f.Text(35));
            f.state.reading = false;
            f.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        } else {
            f.shComm.set_color(app::kYellow);
            f.Beep(app::kHighBeepHz, app::kOutcomeBeepMs);
        }
        f.shCard.set_color(app::kWhite);
        f.port.ClosePort();
    }
    f.reading_cleanup = nullptr;
    finish();
}

}  // namespace

void btnReadCardClick(TfrmModule& f) {
    LiveReading(f, false);
}
void btnEncodeClick(TfrmModule& f) {
    LiveReading(f, true);
}

void tmrCardTimer(TfrmModule& f) {
    f.shCard.set_color(app::kWhite);
    f.tmrCard.set_enabled(false);
}

}  // namespace torvik::ops

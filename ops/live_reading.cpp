// SPDX-License-Identifier: MIT
// The two live readings: the plain ID reading (plain poll) and the encoded
// ID reading (encoded poll, then its acknowledgement). Each keeps the port
// open, leaves the window enabled and polls about ten times a second until
// it is asked to stop (the second press of its button, handled nested inside
// the loop's own event processing) or a poll gets no valid reply.
#include <cinttypes>
#include <cstdio>

#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

namespace {

// "ID : 0012345678  00BC614E(H)". An identification is a card number: its
// decimal part is never negative.
app::Message IdText(uint32_t value, const std::string& digits) {
    char decimal[24];
    std::snprintf(decimal, sizeof decimal, " : %010" PRIu32 "  ", value);
    return app::Message::Row(25).add_text(decimal + digits + "(H)");
}

}  // namespace

void ReaderOperations::StopReading() {
    c_.state.reading = false;
}

app::ReadingResult ReaderOperations::ReadCards(bool encoded, const app::ReadingSink& sink) {
    app::ReaderView& view = c_.view;
    app::ReadingResult result;
    result.link = c_.state.link;
    if (!c_.state.reader_found) {
        result.outcome = app::Outcome::kRefused;
        result.text = app::Message::Row(2);
        view.ShowStatus(result.text);
        c_.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        return result;
    }
    // A call while a loop runs (or is finishing its last cycle) only asks it
    // to stop; it never starts a second reading inside the first.
    if (c_.state.reading || c_.reading_loop) {
        c_.state.reading = false;
        result.outcome = app::Outcome::kStopped;
        return result;
    }

    c_.state.reading = true;
    result.started = true;
    view.ReadingStarted(encoded);
    auto finish = [this, encoded] {
        c_.view.ReadingEnded(encoded);
        c_.reading_loop = false;
    };
    c_.reading_cleanup = finish;

    const app::LinkSettings& link = c_.state.link;
    if (!c_.port.OpenPort(link.port, link.settings)) {
        view.ShowIndicator(app::Indicator::kFailed);
        result.outcome = app::Outcome::kFailed;
        result.text =
            app::Message::Row(26).add_text(" : " + std::to_string(link.port) + " ").add_row(27);
        view.ShowStatus(result.text);
        c_.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        c_.state.reading = false;
    } else {
        c_.reading_loop = true;
        view.SetBusy(true);
        view.SetWindowEnabled(true);
        while (c_.state.reading) {
            for (int pass = 0; pass < 80; ++pass) {
                c_.ProcessMessages();
                c_.Sleep(1);
            }
            if (!c_.link.SendShort(encoded ? link::EncodedPoll() : link::PlainPoll())) break;
            app::Reading reading;
            reading.encoded = encoded;
            if (encoded) {
                const link::EncodedReading r = link::DecodeEncodedReading(c_.link.reply());
                if (!r.carries) continue;
                reading.text = r.digits;
                reading.value = r.value;
                reading.display = IdText(r.value, r.digits);
                view.ShowCardId(reading.display);
                c_.Sleep(30);
                c_.link.SendShort(link::EncodedAcknowledge());
                c_.Sleep(30);
            } else {
                const link::PlainReading r = link::DecodePlainReading(c_.link.reply());
                reading.input = app::TextOfBytes(r.input);
                view.ShowInput(reading.input);
                if (!r.carries) continue;
                if (r.key) {
                    // A key entry of exactly 10 bytes carries no keys and
                    // shows nothing, but lights the lamp.
                    reading.key = true;
                    reading.text = app::TextOfBytes(r.key_text);
                    reading.display = app::Message().add_text("KEY : " + reading.text);
                    if (r.shows_key) view.ShowCardId(reading.display);
                } else {
                    reading.text = app::TextOfBytes(r.digits);
                    reading.value = r.value;
                    reading.display = IdText(r.value, reading.text);
                    view.ShowCardId(reading.display);
                }
            }
            view.SetLamp(true);
            ++result.readings;
            if (sink) sink(reading);
        }
        view.SetBusy(false);
        if (c_.state.reading) {
            view.ShowIndicator(app::Indicator::kFailed);
            result.outcome = app::Outcome::kFailed;
            result.text = app::Message::Row(35);
            view.ShowStatus(result.text);
            c_.state.reading = false;
            c_.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        } else {
            view.ShowIndicator(app::Indicator::kFound);
            result.outcome = app::Outcome::kStopped;
            c_.Beep(app::kHighBeepHz, app::kOutcomeBeepMs);
        }
        view.SetLamp(false);
        c_.port.ClosePort();
    }
    c_.reading_cleanup = nullptr;
    finish();
    return result;
}

}  // namespace torvik::ops

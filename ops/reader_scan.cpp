// SPDX-License-Identifier: MIT
// Finding the reader: the stored link settings first, then every port and
// speed, then the reader's version and output mode.
#include <algorithm>
#include <string>

#include "app/settings.h"
#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

namespace {

// Settings string of an index; outside the list (a stored index the list does
// not have) the stored string stands for it.
std::string SettingsAt(const app::AppState& state, int index) {
    if (index >= 0 && index < static_cast<int>(app::kSettingsList.size())) {
        return app::kSettingsList[static_cast<size_t>(index)];
    }
    return state.link.settings;
}

std::string PortSuffix(int port) {
    return " : #" + std::to_string(port);
}

// What the line did in the last exchange, added to an opening's record.
// Turnaround bytes count only before a frame that was taken: leading
// zeros of garbage at the wrong speed are no turnaround.
void NoteLine(app::ReaderCore& c, app::PortAttempt& a) {
    const bool framed = c.link.last_fault() == link::ReplyFault::kNone;
    a.echo = a.echo || c.link.echo_skipped();
    a.turnaround = a.turnaround || (framed && c.link.turnaround_bytes() > 0);
    a.late_ms = std::max(a.late_ms, c.link.late_reply_ms());
    a.cut_off = a.cut_off || c.link.last_fault() == link::ReplyFault::kCutOff;
    a.latency_ms = c.port.latency_ms();
}

// The presence check, with what came back kept in the record of the
// opening: the most telling result of its tries.
bool RecordedPresenceCheck(app::ReaderCore& c) {
    const bool found = c.PresenceCheck().has_value();
    app::PortAttempt& a = c.scan_record.back();
    app::ReplyCause cause = app::ReplyCause::kAnswered;
    if (!found) {
        if (c.link.last_fault() == link::ReplyFault::kNone) {
            cause = app::ReplyCause::kWrongLength;
        } else if (c.link.bytes_received() == 0) {
            cause = app::ReplyCause::kNothing;
        } else {
            cause = app::ReplyCause::kGarbled;
        }
    }
    NoteLine(c, a);
    if (cause >= a.reply) {
        a.reply = cause;
        a.reply_length = c.link.receive_count();
        a.first_bytes = c.link.first_bytes();
    }
    return found;
}

}  // namespace

app::ScanResult ReaderOperations::Scan(bool sweep) {
    app::ReaderView& view = c_.view;
    view.SetCursorBusy(true);
    view.SetBusy(true);
    view.ShowStatus(app::Message::Row(28).add_text(" ...."));
    view.ShowReaderPlaceholders();
    c_.ProcessMessages();

    // Which ports belong to the system is looked up once for the whole scan.
    link::ScanScope scope(c_.svc.serial);
    bool found = false;
    app::ScanResult result;
    c_.state.reader_found = false;
    c_.scan_record.clear();
    auto report = [this, &result] {
        result.attempts = c_.scan_record;
        if (c_.on_scan_finished) c_.on_scan_finished(c_.scan_record);
    };
    app::LinkSettings& link = c_.state.link;

    // First try: the stored link settings, three presence checks, no save.
    if (link.port > 0) {
        view.ShowSettingsIndex(link.index);
        if (c_.OpenPortRecorded(link.port, link.settings)) {
            view.ShowStatus(app::Message::Row(32).add_text(PortSuffix(link.port)));
            for (int i = 0; i < 3 && !found; ++i) found = RecordedPresenceCheck(c_);
            c_.scan_record.back().answered = found;
            c_.port.ClosePort();
        }
    }

    // Sweep COM1..COM16 and the settings list (only the stored index
    // unless sweeping); a port that does not open is left at once.
    for (int port = 1; port <= 16 && !found; ++port) {
        for (int i = 0; i < static_cast<int>(app::kSettingsList.size()); ++i) {
            const int index = sweep ? i : link.index;
            view.ShowSettingsIndex(index);
            const std::string settings = SettingsAt(c_.state, index);
            if (!c_.OpenPortRecorded(port, settings)) break;
            view.ShowStatus(app::Message::Row(32).add_text(PortSuffix(port)));
            for (int t = 0; t < 2 && !found; ++t) found = RecordedPresenceCheck(c_);
            c_.scan_record.back().answered = found;
            if (found) {
                link = app::LinkSettings{port, settings, index};
                app::SaveLinkSettings(c_.svc.store, link);
                result.stored = true;
            }
            c_.port.ClosePort();
            if (found || !sweep) break;
        }
    }

    if (!found) {
        report();
        view.ShowSettingsIndex(app::kDefaultSettingsIndex);
        result.text = app::Message::Row(35);
        view.ShowStatus(result.text);
        view.SetBusy(false);
        view.ShowIndicator(app::Indicator::kFailed);
        c_.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        view.SetCursorBusy(false);
        result.outcome = app::Outcome::kNotFound;
        result.link = link;
        return result;
    }

    // The last reply holds the 16-byte answer to the presence check.
    const link::Presence presence = *link::DecodePresence(c_.link.reply());
    app::ReaderInfo info;
    info.serial = app::TextOfBytes(presence.serial);
    info.id = app::TextOfBytes(presence.id);
    info.mode = app::OutputMode{-1, -1, -1};
    view.ShowSettingsIndex(link.index);
    view.ShowSerial(app::Message::Row(29).add_text(" : " + info.serial));
    view.ShowReaderId(info.id);

    bool details = false;
    if (c_.port.OpenPort(link.port, link.settings)) {
        for (int t = 0; t < 2; ++t) {
            c_.Sleep(100);
            const bool version = c_.link.SendShort(link::VersionQuery());
            // The reader's port: what its line did goes into its record.
            if (!c_.scan_record.empty()) NoteLine(c_, c_.scan_record.back());
            if (!version) continue;
            info.version = app::TextOfBytes(link::DecodeVersion(c_.link.reply()));
            view.ShowVersion(app::Message::Row(31).add_text(" : " + info.version));
            c_.Sleep(100);
            const bool mode = c_.link.SendShort(link::OutputModeQuery());
            if (!c_.scan_record.empty()) NoteLine(c_, c_.scan_record.back());
            if (mode) {
                const link::ModeDigits digits = link::DecodeOutputMode(c_.link.reply());
                info.mode = app::OutputMode{digits.interface, digits.wiegand, digits.rs485};
                view.ShowOutputMode(info.mode);
                details = true;
                result.text = app::Message::Row(33).add_text(PortSuffix(link.port) + ")");
                view.ShowStatus(result.text);
                c_.state.reader_found = true;
                view.SetBusy(false);
                view.ShowIndicator(app::Indicator::kFound);
            }
            // A failed output-mode query after a good version query is not retried.
            break;
        }
        c_.port.ClosePort();
    }

    report();
    result.reader = info;
    result.link = link;
    if (details) {
        c_.Beep(app::kHighBeepHz, app::kOutcomeBeepMs);
        result.outcome = app::Outcome::kSucceeded;
    } else {
        result.text = app::Message::Row(34).add_text(PortSuffix(link.port) + ")");
        view.ShowStatus(result.text);
        view.SetBusy(false);
        view.ShowIndicator(app::Indicator::kFailed);
        c_.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        result.outcome = app::Outcome::kFailed;
    }
    view.SetCursorBusy(false);
    return result;
}

}  // namespace torvik::ops

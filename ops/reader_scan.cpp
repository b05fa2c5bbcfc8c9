// SPDX-License-Identifier: MIT
// Finding the reader: the stored link settings first, then every port and
// speed, then the reader's version and output mode.
#include <string>

#include "app/settings.h"
#include "ops/operations.h"

namespace torvik::ops {

namespace {

// Selection index of a list from a reply digit; anything else selects nothing.
int DigitIndex(char c) {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// Settings string of an index; outside the list (a stored index the list does
// not have) the stored string stands for it.
std::string SettingsAt(const TfrmModule& f, int index) {
    if (index >= 0 && index < static_cast<int>(app::kSettingsList.size())) {
        return app::kSettingsList[static_cast<size_t>(index)];
    }
    return f.state.link.settings;
}

std::string PortSuffix(int port) {
    return " : #" + std::to_string(port);
}

// The presence check, with what came back kept in the record of the
// opening: the most telling result of its tries.
bool RecordedPresenceCheck(TfrmModule& f) {
    const bool found = f.PresenceCheck();
    app::PortAttempt& a = f.scan_record.back();
    app::ReplyCause cause = app::ReplyCause::kAnswered;
    if (!found) {
        if (f.link.last_fault() == link::ReplyFault::kNone) {
            cause = app::ReplyCause::kWrongLength;
        } else if (f.link.bytes_received() == 0) {
            cause = app::ReplyCause::kNothing;
        } else {
            cause = app::ReplyCause::kGarbled;
        }
    }
    if (cause >= a.reply) {
        a.reply = cause;
        a.reply_length = f.link.receive_count();
        a.first_bytes = f.link.first_bytes();
    }
    return found;
}

}  // namespace

void btnScanClick(TfrmModule& f) {
    f.SetCursorBusy(true);
    f.SetBusy(true);
    f.pnMsg.set_caption(f.Text(28) + " ....");
    f.pnSerial.set_caption(f.Text(29) + " : ________");
    f.pnVersion.set_caption(f.Text(31) + " : __.__-__");
    f.pnID.set_caption("__");
    f.ProcessMessages();

    // Which ports belong to the system is looked up once for the whole scan.
    link::ScanScope scope(f.svc.serial);
    bool found = false;
    f.state.reader_found = false;
    f.scan_record.clear();
    auto report = [&f] {
        if (f.on_scan_finished) f.on_scan_finished(f.scan_record);
    };
    app::LinkSettings& link = f.state.link;

    // First try: the stored link settings, three presence checks, no save.
    if (link.port > 0) {
        f.cmbBaudRate.set_index(link.index);
        if (f.OpenPortRecorded(link.port, link.settings)) {
            f.pnMsg.set_caption(f.Text(32) + PortSuffix(link.port));
            for (int i = 0; i < 3 && !found; ++i) found = RecordedPresenceCheck(f);
            f.scan_record.back().answered = found;
            f.port.ClosePort();
        }
    }

    // Sweep COM1..COM16 and the settings list (only the stored index when
    // chkLock is ticked); a port that does not open is left at once.
    for (int port = 1; port <= 16 && !found; ++port) {
        for (int i = 0; i < static_cast<int>(app::kSettingsList.size()); ++i) {
            const bool locked = f.chkLock.checked();
            const int index = locked ? link.index : i;
            f.cmbBaudRate.set_index(index);
            const std::string settings = SettingsAt(f, index);
            if (!f.OpenPortRecorded(port, settings)) break;
            f.pnMsg.set_caption(f.Text(32) + PortSuffix(port));
            for (int t = 0; t < 2 && !found; ++t) found = RecordedPresenceCheck(f);
            f.scan_record.back().answered = found;
            if (found) {
                link = app::LinkSettings{port, settings, index};
                app::SaveLinkSettings(f.svc.store, link);
            }
            f.port.ClosePort();
            if (found || locked) break;
        }
    }

    if (!found) {
        report();
        f.cmbBaudRate.set_index(5);
        f.pnMsg.set_caption(f.Text(35));
        f.SetBusy(false);
        f.shComm.set_color(app::kRed);
        f.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
        f.SetCursorBusy(false);
        return;
    }

    // The last reply holds the 16-byte answer to the presence check.
    f.cmbBaudRate.set_index(link.index);
    f.pnSerial.set_caption(f.Text(29) + " : " + f.link.field(6, 8));
    const std::string id = f.link.field(3, 2);
    f.pnID.set_caption(id);
    if (id.size() == 2 && DigitIndex(id[0]) >= 0 && DigitIndex(id[1]) >= 0) {
        // The bar keeps 1..99; its change handler rewrites pnID as two digits.
        f.sbID.set_position(DigitIndex(id[0]) * 10 + DigitIndex(id[1]));
    }

    bool details = false;
    if (f.port.OpenPort(link.port, link.settings)) {
        for (int t = 0; t < 2; ++t) {
            f.Sleep(100);
            if (!f.link.SendShort("I00V")) continue;
            f.pnVersion.set_caption(f.Text(31) + " : " + f.link.field(6, 8));
            f.Sleep(100);
            if (f.link.SendShort("I00A")) {
                f.cmbMode.set_index(DigitIndex(f.link.at(6)));
                f.cmbWiegand.set_index(DigitIndex(f.link.at(7)));
                f.cmbRS485.set_index(DigitIndex(f.link.at(8)));
                details = true;
                f.pnMsg.set_caption(f.Text(33) + PortSuffix(link.port) + ")");
                f.state.reader_found = true;
                f.SetBusy(false);
                f.shComm.set_color(app::kYellow);
            }
            // A failed "I00A" after a good "I00V" is not retried.
            break;
        }
        f.port.ClosePort();
    }

    report();
    if (details) {
        f.Beep(app::kHighBeepHz, app::kOutcomeBeepMs);
    } else {
        f.pnMsg.set_caption(f.Text(34) + PortSuffix(link.port) + ")");
        f.SetBusy(false);
        f.shComm.set_color(app::kRed);
        f.Beep(app::kLowBeepHz, app::kOutcomeBeepMs);
    }
    f.SetCursorBusy(false);
}

}  // namespace torvik::ops

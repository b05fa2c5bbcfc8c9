// SPDX-License-Identifier: MIT
// Changing the reader's bus address (ID) and its baud rate.
#include "ops/operations.h"

namespace torvik::ops {

std::string BaudCode(int index) {
    if (index >= 0 && index <= 9) return std::to_string(index);
    if (index == 10) return "A";
    if (index == 11) return "B";
    if (index == 12 || index == 13) return std::to_string(index);
    return {};
}

void sbIDChange(TfrmModule& f) {
    f.pnID.set_caption(ZeroPad(f.sbID.position(), 2));
}

void btnIDClick(TfrmModule& f) {
    app::Operation op;
    op.status_label = [&f] { return f.Text(36) + " = " + f.pnID.caption(); };
    op.success_row = 37;
    op.failure_row = 38;
    op.attempt = [&f] {
        return f.CommandTry(
            [&f] { return "I00C" + f.SerialField() + app::Trim(f.pnID.caption()); });
    };
    f.RunOperation(op);
}

void btnBaudRateClick(TfrmModule& f) {
    app::Operation op;
    op.status_label = [&f] { return f.Text(39) + " = " + f.cmbBaudRate.selected_text(); };
    op.success_row = 40;
    op.failure_row = 41;
    op.attempt = [&f] {
        // Without a selection there is no speed to switch to: nothing is sent.
        const int index = f.cmbBaudRate.index();
        if (BaudCode(index).empty()) return false;
        f.Sleep(100);
        if (!f.PresenceCheck()) return false;
        f.Sleep(100);
        const int chosen = f.cmbBaudRate.index();
        if (!f.link.SendShort("I00E" + BaudCode(chosen))) return false;
        // The reader answered at the old speed; from the next operation on
        // the tool talks to it at the new one (in memory only).
        f.state.link.index = chosen;
        f.state.link.settings = app::kSettingsList[static_cast<size_t>(chosen)];
        return true;
    };
    f.RunOperation(op);
}

}  // namespace torvik::ops

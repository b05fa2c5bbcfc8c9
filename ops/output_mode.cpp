// SPDX-License-Identifier: MIT
// Output interface with its Wiegand and RS-485 formats, and the card type.
#include "ops/operations.h"

namespace torvik::ops {

void btnModeClick(TfrmModule& f) {
    app::Operation op;
    op.status_label = [&f] {
        const app::Control& format = f.cmbMode.index() == 0 ? f.cmbWiegand : f.cmbRS485;
        return f.Text(42) + " = " + format.selected_text();
    };
    op.success_row = 43;
    op.failure_row = 44;
    op.attempt = [&f] {
        // All three indexes always travel; a list without selection sends -1.
        return f.CommandTry([&f] {
            return "I00A" + std::to_string(f.cmbMode.index()) +
                   std::to_string(f.cmbWiegand.index()) + std::to_string(f.cmbRS485.index());
        });
    };
    f.RunOperation(op);
}

void btnCardTypeClick(TfrmModule& f) {
    app::Operation op;
    op.status_label = [&f] { return f.Text(45); };
    op.success_row = 46;
    op.failure_row = 47;
    op.attempt = [&f] {
        return f.CommandTry([&f] { return "I00S" + std::to_string(f.cmbCardType.index()); });
    };
    f.RunOperation(op);
}

}  // namespace torvik::ops

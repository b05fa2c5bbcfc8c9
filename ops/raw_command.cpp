// SPDX-License-Identifier: MIT
// The raw command test: "001" + the typed text in a long frame, once.
#include "ops/operations.h"

namespace torvik::ops {

void btnCRCmdClick(TfrmModule& f) {
    std::string answer;
    app::Operation op;
    op.status_label = [&f] { return f.Text(57); };
    op.success_row = 58;
    op.failure_row = 59;
    op.tries = 1;
    op.attempt = [&f, &answer] {
        if (!f.link.SendLong("001" + f.edCRCmd.text())) return false;
        // Positions 7 to L-5: after the first five body characters, up to and
        // including the EOT.
        answer = f.link.field(7, f.link.receive_count() - 11);
        return true;
    };
    op.on_success = [&f, &answer] { f.edCRRev.set_text(answer); };
    f.RunOperation(op);
}

}  // namespace torvik::ops

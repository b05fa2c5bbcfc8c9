// SPDX-License-Identifier: MIT
// The card slot display and the add card command.
#include "ops/operations.h"

namespace torvik::ops {

void sbCardChange(TfrmModule& f) {
    f.pnCard.set_caption(ZeroPad(f.sbCard.position(), 6));
}

void btnAddCardClick(TfrmModule& f) {
    app::Operation op;
    op.pump_at_start = true;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [&f] {
        f.Sleep(100);
        if (!(f.link.SendLong("001AS") && f.link.receive_count() == 20)) return false;
        f.Sleep(100);
        return f.link.SendLong("001AS");
    };
    f.RunOperation(op);
}

}  // namespace torvik::ops

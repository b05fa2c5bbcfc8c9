// SPDX-License-Identifier: MIT
// Writing the facility code chosen with sbFacility.
#include "ops/operations.h"

namespace torvik::ops {

void sbFacilityChange(TfrmModule& f) {
    f.pnFacility.set_caption(ZeroPad(f.sbFacility.position(), 5));
}

void btnFacilityClick(TfrmModule& f) {
    app::Operation op;
    op.success_row = 23;
    op.failure_row = 24;
    op.attempt = [&f] { return f.CommandTry([&f] { return "I00K" + f.pnFacility.caption(); }); };
    f.RunOperation(op);
}

}  // namespace torvik::ops

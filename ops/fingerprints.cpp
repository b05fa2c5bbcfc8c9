// SPDX-License-Identifier: MIT
// Enrolling and deleting the fingerprint of a numbered slot.
#include "ops/operations.h"

namespace torvik::ops {

namespace {

void FingerCommand(TfrmModule& f, const char* command, int success_row, int failure_row) {
    app::Operation op;
    op.success_row = success_row;
    op.failure_row = failure_row;
    op.attempt = [&f, command] {
        return f.CommandTry([&f, command] { return command + app::Trim(f.pnFingerNo.caption()); });
    };
    f.RunOperation(op);
}

}  // namespace

void sbFingerNoChange(TfrmModule& f) {
    f.pnFingerNo.set_caption(ZeroPad(f.sbFingerNo.position(), 6));
}

void btnAddClick(TfrmModule& f) {
    FingerCommand(f, "I00M", 17, 18);
}
void btnDelClick(TfrmModule& f) {
    FingerCommand(f, "I00N", 20, 21);
}

}  // namespace torvik::ops

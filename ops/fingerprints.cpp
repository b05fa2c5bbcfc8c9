// SPDX-License-Identifier: MIT
// Enrolling and deleting the fingerprint of a numbered slot.
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::FingerCommand(const std::string& payload, int success_row,
                                            int failure_row) {
    app::Operation op;
    op.success_row = success_row;
    op.failure_row = failure_row;
    op.attempt = [this, &payload] { return c_.CommandTry(payload); };
    return c_.RunOperation(op);
}

app::Result ReaderOperations::Enrol(int finger) {
    return FingerCommand(link::EnrolCommand(finger), 17, 18);
}

app::Result ReaderOperations::Delete(int finger) {
    return FingerCommand(link::DeleteCommand(finger), 20, 21);
}

}  // namespace torvik::ops

// SPDX-License-Identifier: MIT
// Writing the facility code (five digits).
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::SetFacility(int facility) {
    app::Operation op;
    op.success_row = 23;
    op.failure_row = 24;
    op.attempt = [this, facility] { return c_.CommandTry(link::FacilityCommand(facility)); };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops

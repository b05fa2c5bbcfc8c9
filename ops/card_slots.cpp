// SPDX-License-Identifier: MIT
// The add card command: a fixed long-frame command, twice per try (the
// first reply must be 20 bytes long), reported with the test-command texts.
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::AddCard() {
    app::Operation op;
    op.pump_at_start = true;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [this] {
        c_.Sleep(100);
        if (!(c_.link.SendLong(link::AddCardCommand()) && link::IsAddCardReply(c_.link.reply())))
            return false;
        c_.Sleep(100);
        return c_.link.SendLong(link::AddCardCommand());
    };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops

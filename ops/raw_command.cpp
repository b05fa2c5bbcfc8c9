// SPDX-License-Identifier: MIT
// The raw command test: "001" + the typed text in a long frame, once.
#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

app::RawResult ReaderOperations::RawCommand(const app::Bytes& text) {
    app::Bytes answer;
    app::Operation op;
    op.status_label = [] { return app::Message::Row(57); };
    op.success_row = 58;
    op.failure_row = 59;
    op.tries = 1;
    op.attempt = [this, &text, &answer] {
        if (!c_.link.SendLong(link::RawCommand(text))) return false;
        answer = link::DecodeRawAnswer(c_.link.reply());
        return true;
    };
    op.on_success = [this, &answer] { c_.view.ShowRawAnswer(app::TextOfBytes(answer)); };
    app::RawResult result;
    static_cast<app::Result&>(result) = c_.RunOperation(op);
    if (result.succeeded()) result.answer = std::move(answer);
    return result;
}

}  // namespace torvik::ops

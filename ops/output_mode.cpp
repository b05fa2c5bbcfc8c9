// SPDX-License-Identifier: MIT
// Output interface with its Wiegand and RS-485 formats, and the card type.
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::SetOutputMode(const app::OutputMode& mode) {
    app::Operation op;
    op.status_label = [mode] {
        // The label names the format of the interface chosen; the command
        // carries both formats whichever it is.
        const char* format = mode.interface == 0 ? app::ItemText(app::kWiegandItems, mode.wiegand)
                                                 : app::ItemText(app::kRs485Items, mode.rs485);
        return app::Message::Row(42).add_text(std::string(" = ") + format);
    };
    op.success_row = 43;
    op.failure_row = 44;
    op.attempt = [this, mode] {
        return c_.CommandTry(link::SetOutputModeCommand(mode.interface, mode.wiegand, mode.rs485));
    };
    return c_.RunOperation(op);
}

app::Result ReaderOperations::SetCardType(int card_type) {
    app::Operation op;
    op.status_label = [] { return app::Message::Row(45); };
    op.success_row = 46;
    op.failure_row = 47;
    op.attempt = [this, card_type] { return c_.CommandTry(link::SetCardTypeCommand(card_type)); };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops

// SPDX-License-Identifier: MIT
// Changing the reader's bus address (ID) and its baud rate.
#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::SetId(const app::Bytes& id) {
    app::Operation op;
    op.status_label = [&id] {
        return app::Message::Row(36).add_text(" = " + app::TextOfBytes(id));
    };
    op.success_row = 37;
    op.failure_row = 38;
    op.attempt = [this, &id] {
        // The serial number of the reader that has just answered.
        return c_.CommandTry([&id](const link::Presence& presence) {
            return link::SetIdCommand(presence.serial, app::Trim(id));
        });
    };
    return c_.RunOperation(op);
}

app::Result ReaderOperations::SetBaudRate(int settings_index) {
    app::Operation op;
    op.status_label = [settings_index] {
        return app::Message::Row(39).add_text(std::string(" = ") +
                                              app::ItemText(app::kSettingsList, settings_index));
    };
    op.success_row = 40;
    op.failure_row = 41;
    op.attempt = [this, settings_index] {
        // Without a selection there is no speed to switch to: nothing is sent.
        const std::string code = link::BaudCode(settings_index);
        if (code.empty()) return false;
        c_.Sleep(100);
        if (!c_.PresenceCheck()) return false;
        c_.Sleep(100);
        if (!c_.link.SendShort(link::SetBaudCommand(code))) return false;
        // The reader answered at the old speed; from the next operation on
        // the tool talks to it at the new one (in memory only).
        c_.state.link.index = settings_index;
        c_.state.link.settings = app::kSettingsList[static_cast<size_t>(settings_index)];
        return true;
    };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops

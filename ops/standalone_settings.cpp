// SPDX-License-Identifier: MIT
// Door-open and alarm times, and the master, duress and clear cards of the
// stand-alone controller: one stand-alone setting command each.
#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

app::Result ReaderOperations::StandAloneSetting(const std::string& payload) {
    app::Operation op;
    op.success_row = 60;
    op.failure_row = 61;
    op.attempt = [this, &payload] { return c_.CommandTry(payload); };
    return c_.RunOperation(op);
}

// Time values travel as typed, trimmed and unpadded.
app::Result ReaderOperations::SetDoorTime(const app::Bytes& value) {
    return StandAloneSetting(link::DoorTimeCommand(app::Trim(value)));
}
app::Result ReaderOperations::SetAlarmTime(const app::Bytes& value) {
    return StandAloneSetting(link::AlarmTimeCommand(app::Trim(value)));
}
app::Result ReaderOperations::SetMasterCard() {
    return StandAloneSetting(link::MasterCardCommand());
}
app::Result ReaderOperations::SetDuressCard() {
    return StandAloneSetting(link::DuressCardCommand());
}
app::Result ReaderOperations::SetClearCard() {
    return StandAloneSetting(link::ClearCardCommand());
}

}  // namespace torvik::ops

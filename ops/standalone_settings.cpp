// SPDX-License-Identifier: MIT
// Door-open and alarm times, and the master, duress and clear cards of the
// stand-alone controller: one stand-alone setting command each.
#include "ops/operations.h"

namespace torvik::ops {

namespace {

void StandAloneSetting(TfrmModule& f, std::function<std::string()> payload) {
    app::Operation op;
    op.success_row = 60;
    op.failure_row = 61;
    op.attempt = [&f, &payload] { return f.CommandTry(payload); };
    f.RunOperation(op);
}

}  // namespace

// Time values travel as typed, trimmed and unpadded.
void btnDoorClick(TfrmModule& f) {
    StandAloneSetting(f, [&f] { return "I00R1" + app::Trim(f.edDoor.text()); });
}
void btnAlarmClick(TfrmModule& f) {
    StandAloneSetting(f, [&f] { return "I00R2" + app::Trim(f.edAlarm.text()); });
}
void btnSetCardClick(TfrmModule& f) {
    StandAloneSetting(f, [] { return std::string("I00R3"); });
}
void btnDuressClick(TfrmModule& f) {
    StandAloneSetting(f, [] { return std::string("I00R4"); });
}
void btnClrCardClick(TfrmModule& f) {
    StandAloneSetting(f, [] { return std::string("I00R5"); });
}

}  // namespace torvik::ops

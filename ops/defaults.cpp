// SPDX-License-Identifier: MIT
// Factory default, stand-alone default and stand-alone mode. Both defaults
// send a fixed sequence of setting commands, poll the reader until it
// answers again (it resets), and finish by setting its baud rate.
#include <vector>

#include "ops/operations.h"

namespace torvik::ops {

namespace {

constexpr int kAnswerPolls = 150;

void AnswerPoll(TfrmModule& f) {
    for (int poll = 0; poll < kAnswerPolls; ++poll) {
        f.ProcessMessages();
        if (f.link.SendShort("I00B")) return;
        f.Sleep(400);
        f.Beep(app::kHighBeepHz, 50);
    }
}

// One try: presence check, set ID 01, mode 001 (all three must be
// accepted), the unevaluated setting commands, the answer poll, "I00E5".
bool DefaultSequence(TfrmModule& f, const std::vector<std::string>& unevaluated) {
    f.Sleep(100);
    if (!f.PresenceCheck()) return false;
    const std::string serial = f.SerialField();
    f.Sleep(100);
    if (!f.link.SendShort("I00C" + serial + "01")) return false;
    f.Sleep(100);
    if (!f.link.SendShort("I00A001")) return false;
    for (const std::string& payload : unevaluated) {
        f.Sleep(100);
        f.link.SendShort(payload);
    }
    AnswerPoll(f);
    f.Sleep(500);
    return f.link.SendShort("I00E5");
}

// The reader answered "I00E5" at the old speed and now talks at
// 19200,e,8,1: the tool follows it from the next operation on, in memory
// only, as after a baud-rate change, so cmbBaudRate shows what is in use.
void FollowDefaultSpeed(TfrmModule& f) {
    constexpr size_t kDefaultIndex = 5;
    f.state.link.index = static_cast<int>(kDefaultIndex);
    f.state.link.settings = app::kSettingsList[kDefaultIndex];
}

void ResetControls(TfrmModule& f) {
    f.sbID.set_position(1);
    f.sbFacility.set_position(0);
    f.cmbBaudRate.set_index(5);
    f.cmbMode.set_index(0);
    f.cmbWiegand.set_index(0);
    f.cmbRS485.set_index(1);
}

void ShowStandAloneControls(TfrmModule& f, bool show) {
    for (app::Control* c : {&f.btnDoor, &f.edDoor, &f.btnAlarm, &f.edAlarm, &f.btnSetCard,
                            &f.btnDuress, &f.btnClrCard, &f.btnStandDefault}) {
        c->set_visible(show);
    }
}

}  // namespace

void btnFactoryClick(TfrmModule& f) {
    app::Operation op;
    op.busy_blinker = true;
    op.success_row = 49;
    op.failure_row = 50;
    op.attempt = [&f] {
        return DefaultSequence(f, {"I00R00", "I00K00000", std::string("I00K") + kCardKey, "I00R6"});
    };
    op.on_success = [&f] {
        FollowDefaultSpeed(f);
        ResetControls(f);
        ShowStandAloneControls(f, false);
    };
    f.RunOperation(op);
}

void btnStandDefaultClick(TfrmModule& f) {
    app::Operation op;
    op.success_row = 52;
    op.failure_row = 53;
    op.attempt = [&f] {
        return DefaultSequence(f, {"I00S0", "I00R10005", "I00R20030", "I00K00000",
                                   std::string("I00K") + kCardKey, "I00R6"});
    };
    op.on_success = [&f] {
        FollowDefaultSpeed(f);
        ResetControls(f);
        f.cmbCardType.set_index(0);
        f.edDoor.set_text("0005");
        f.edAlarm.set_text("0030");
    };
    f.RunOperation(op);
}

void btnStandClick(TfrmModule& f) {
    app::Operation op;
    op.success_row = 55;
    op.failure_row = 56;
    op.attempt = [&f] { return f.CommandTry([] { return std::string("I00R01"); }); };
    op.after_success = [&f] { ShowStandAloneControls(f, true); };
    f.RunOperation(op);
}

}  // namespace torvik::ops

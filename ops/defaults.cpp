// SPDX-License-Identifier: MIT
// Factory default, stand-alone default and stand-alone mode. Both defaults
// send a fixed sequence of setting commands, poll the reader until it
// answers again (it resets), and finish by setting its baud rate.
#include <vector>

#include "ops/reader_operations.h"

namespace torvik::ops {

namespace {

constexpr int kAnswerPolls = 150;

}  // namespace

app::Result ReaderOperations::DefaultOperation(bool stand_alone_default) {
    // The commands whose replies are not evaluated, after set ID 01 and mode 001.
    std::vector<std::string> unevaluated;
    if (stand_alone_default) {
        unevaluated = {link::SetCardTypeCommand(0), link::DoorTimeCommand("0005"),
                       link::AlarmTimeCommand("0030")};
    } else {
        unevaluated = {link::StandAloneModeCommand(false)};
    }
    unevaluated.push_back(link::FacilityCommand(0));
    unevaluated.push_back(link::CardKeyCommand());
    unevaluated.push_back(link::ResetCommand());

    app::Operation op;
    op.busy_blinker = !stand_alone_default;
    op.success_row = stand_alone_default ? 52 : 49;
    op.failure_row = stand_alone_default ? 53 : 50;
    op.attempt = [this, &unevaluated] {
        c_.Sleep(100);
        const std::optional<link::Presence> presence = c_.PresenceCheck();
        if (!presence) return false;
        c_.Sleep(100);
        if (!c_.link.SendShort(link::SetIdCommand(presence->serial, "01"))) return false;
        c_.Sleep(100);
        if (!c_.link.SendShort(link::SetOutputModeCommand(0, 0, 1))) return false;
        for (const std::string& payload : unevaluated) {
            c_.Sleep(100);
            c_.link.SendShort(payload);
        }
        // The answer poll: the reader resets and is silent for a while.
        for (int poll = 0; poll < kAnswerPolls; ++poll) {
            c_.ProcessMessages();
            if (on_progress) on_progress(app::Progress{app::Progress::Kind::kAnswerPoll, poll + 1});
            if (c_.link.SendShort(link::PresenceQuery())) break;
            c_.Sleep(400);
            c_.Beep(app::kHighBeepHz, 50);
        }
        c_.Sleep(500);
        return c_.link.SendShort(link::SetBaudCommand(link::BaudCode(app::kDefaultSettingsIndex)));
    };
    op.on_success = [this, stand_alone_default] {
        // The reader answered at the old speed and now talks at 19200,e,8,1:
        // the tool follows it from the next operation on, in memory only, as
        // after a baud-rate change, so the window shows what is in use.
        c_.state.link.index = app::kDefaultSettingsIndex;
        c_.state.link.settings = app::kSettingsList[app::kDefaultSettingsIndex];
        c_.view.ResetAfterDefault(stand_alone_default);
        if (!stand_alone_default) {
            c_.state.stand_alone = false;
            c_.view.ShowStandAloneControls(false);
        }
    };
    return c_.RunOperation(op);
}

app::Result ReaderOperations::FactoryDefault() {
    return DefaultOperation(false);
}

app::Result ReaderOperations::StandAloneDefault() {
    return DefaultOperation(true);
}

app::Result ReaderOperations::StandAloneMode() {
    app::Operation op;
    op.success_row = 55;
    op.failure_row = 56;
    op.attempt = [this] { return c_.CommandTry(link::StandAloneModeCommand(true)); };
    op.after_success = [this] {
        c_.state.stand_alone = true;
        c_.view.ShowStandAloneControls(true);
    };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops

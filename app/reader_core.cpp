// SPDX-License-Identifier: MIT
#include "app/reader_core.h"

namespace torvik::app {

void ReaderCore::ShowOutcome(Indicator indicator, const Message& text, unsigned frequency_hz) {
    view.ShowIndicator(indicator);
    view.ShowStatus(text);
    Beep(frequency_hz, kOutcomeBeepMs);
}

Result ReaderCore::MakeResult(Outcome outcome, Message text) const {
    Result r;
    r.outcome = outcome;
    r.text = std::move(text);
    r.link = state.link;
    return r;
}

std::optional<link::Presence> ReaderCore::PresenceCheck() {
    if (!link.SendShort(link::PresenceQuery())) return std::nullopt;
    return link::DecodePresence(link.reply());
}

bool ReaderCore::CommandTry(const std::function<std::string(const link::Presence&)>& payload) {
    Sleep(100);
    const std::optional<link::Presence> presence = PresenceCheck();
    if (!presence) return false;
    Sleep(100);
    return link.SendShort(payload(*presence));
}

bool ReaderCore::CommandTry(const std::string& payload) {
    return CommandTry([&payload](const link::Presence&) { return payload; });
}

Result ReaderCore::RunOperation(const Operation& op) {
    view.SetCursorBusy(true);
    if (op.busy_blinker) {
        view.SetBusy(true);
    } else {
        view.SetWindowEnabled(false);
    }
    if (op.pump_at_start) ProcessMessages();

    Outcome outcome = Outcome::kRefused;
    if (state.reader_found) {
        if (op.status_label) view.ShowStatus(op.status_label());
        outcome = Outcome::kFailed;
        if (port.OpenPort(state.link.port, state.link.settings)) {
            for (int i = 0; i < op.tries; ++i) {
                if (op.attempt()) {
                    outcome = Outcome::kSucceeded;
                    break;
                }
            }
            port.ClosePort();
        }
    }

    Message text;
    switch (outcome) {
        case Outcome::kSucceeded:
            if (op.on_success) op.on_success();
            text = Message::Row(op.success_row);
            ShowOutcome(Indicator::kFound, text, kHighBeepHz);
            if (op.after_success) op.after_success();
            break;
        case Outcome::kFailed:
            text = Message::Row(op.failure_row);
            ShowOutcome(Indicator::kFailed, text, kLowBeepHz);
            break;
        default:
            text = Message::Row(2);
            ShowOutcome(Indicator::kFailed, text, kLowBeepHz);
            break;
    }

    if (op.busy_blinker) {
        view.SetBusy(false);
    } else {
        view.SetWindowEnabled(true);
    }
    view.SetCursorBusy(false);
    return MakeResult(outcome, std::move(text));
}

bool ReaderCore::OpenPortRecorded(int port_number, const std::string& settings) {
    PortAttempt attempt;
    attempt.port = port_number;
    attempt.device = svc.serial.device_path(port_number);
    attempt.settings = settings;
    attempt.opened = port.OpenPort(port_number, settings);
    if (!attempt.opened) attempt.cause = svc.serial.last_open_failure();
    scan_record.push_back(std::move(attempt));
    return scan_record.back().opened;
}

void ReaderCore::ReturnToIdle() {
    if (reading_cleanup) {
        auto cleanup = std::move(reading_cleanup);
        reading_cleanup = nullptr;
        cleanup();
    }
    state.reading = false;
    port.ClosePort();
    view.SetWindowEnabled(true);
    view.SetBusy(false);
    view.SetCursorBusy(false);
}

}  // namespace torvik::app

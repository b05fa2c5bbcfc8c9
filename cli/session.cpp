// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <cstdio>

#include "cli/text.h"
#include "ops/operations.h"

namespace torvik::cli {

namespace {

constexpr const char* kInterfaceNames[] = {"wiegand", "rs485"};
constexpr const char* kWiegandNames[] = {"W26", "W34", "W42"};
constexpr const char* kRs485Names[] = {"R24", "R32", "R40"};
constexpr const char* kCardTypeNames[] = {"em", "keldo", "security"};
// Consecutive slots whose read fails before a backup takes the reader for
// gone. A reader that answers but misses a reply now and then fails a slot
// here and there, never ten in a row.
constexpr int kBackupGiveUpAfter = 10;

const char* ResultName(Result r) {
    switch (r) {
        case Result::Ok:
            return "ok";
        case Result::Failed:
            return "failed";
        case Result::NotFound:
            return "not-found";
    }
    return "failed";
}

std::string NameAt(const char* const* names, size_t count, int index) {
    return index >= 0 && static_cast<size_t>(index) < count ? names[index] : "";
}

// What follows the label of a panel such as "S/N : 12345678".
std::string AfterLabel(const std::string& caption, const std::string& label) {
    const std::string prefix = label + " : ";
    return caption.rfind(prefix, 0) == 0 ? caption.substr(prefix.size()) : caption;
}

std::string JsonBytes(const std::string& bytes) {
    return JsonQuote(Latin1ToUtf8(bytes));
}

std::string JsonPieces(const std::vector<std::string>& pieces) {
    std::string out = "[";
    for (size_t i = 0; i < pieces.size(); ++i) out += (i ? "," : "") + JsonBytes(pieces[i]);
    return out + "]";
}

std::string Seconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u s", (ms + 500) / 1000);
    return text;
}

}  // namespace

Session::Session(app::TfrmModule& form, std::ostream& out, std::ostream& err,
                 SessionOptions options)
    : f_(form), out_(out), err_(err), options_(std::move(options)) {
    static const volatile std::sig_atomic_t kNever = 0;
    if (!options_.stop_requests) options_.stop_requests = &kNever;
    if (!options_.errors_shown) options_.errors_shown = [] { return 0; };
}

// ---------------------------------------------------------------- outcome

Result Session::OutcomeFromModel() const {
    if (f_.shComm.color() == app::kYellow) return Result::Ok;
    if (f_.pnMsg.caption() == f_.Text(2)) return Result::NotFound;
    return Result::Failed;
}

std::string Session::StatusText() const {
    return WithoutMnemonic(f_.pnMsg.caption());
}

void Session::AddReaderFields(Report& r) const {
    const std::string serial = AfterLabel(f_.pnSerial.caption(), f_.Text(29));
    const std::string version = AfterLabel(f_.pnVersion.caption(), f_.Text(31));
    r.fields.emplace_back("serial", JsonBytes(serial));
    r.fields.emplace_back("version", JsonBytes(version));
    r.fields.emplace_back("id", JsonBytes(f_.pnID.caption()));
    r.fields.emplace_back(
        "mode", "{\"interface\":" + JsonQuote(NameAt(kInterfaceNames, 2, f_.cmbMode.index())) +
                    ",\"wiegand\":" + JsonQuote(NameAt(kWiegandNames, 3, f_.cmbWiegand.index())) +
                    ",\"rs485\":" + JsonQuote(NameAt(kRs485Names, 3, f_.cmbRS485.index())) + "}");
    r.fields.emplace_back("port", std::to_string(f_.state.link.port));
    r.fields.emplace_back("settings", JsonQuote(f_.state.link.settings));
    r.lines.push_back(f_.Text(29) + " : " + Latin1ToUtf8(serial));
    r.lines.push_back(f_.Text(31) + " : " + Latin1ToUtf8(version));
    r.lines.push_back(WithoutMnemonic(f_.lblID.caption()) + " " + Latin1ToUtf8(f_.pnID.caption()));
    r.lines.push_back(f_.cmbMode.selected_text() + " / " + f_.cmbWiegand.selected_text() + " / " +
                      f_.cmbRS485.selected_text());
    r.lines.push_back("COM" + std::to_string(f_.state.link.port) + " " + f_.state.link.settings);
}

void Session::Emit(const Report& r) {
    EndProgress();
    if (options_.json) {
        out_ << "{\"operation\":" << JsonQuote(r.operation) << ",\"outcome\":\""
             << ResultName(r.result) << "\",\"text\":" << JsonQuote(r.text);
        for (const auto& [name, value] : r.fields) out_ << "," << JsonQuote(name) << ":" << value;
        out_ << "}\n";
    } else {
        out_ << r.text << "\n";
        for (const auto& line : r.lines) out_ << "  " << line << "\n";
    }
    out_.flush();
}

void Session::Note(const std::string& text) {
    EndProgress();
    err_ << "torvikctl: " << text << "\n";
    err_.flush();
}

// ---------------------------------------------------------------- events

void Session::OnFrame(char direction, std::string_view bytes) {
    if (direction == '>') {
        // A short frame: TAB, payload, two check digits, CR.
        last_poll_ = bytes.size() >= 4 && bytes.front() == '\t'
                         ? std::string(bytes.substr(1, bytes.size() - 4))
                         : std::string();
        if (activity_ == Activity::Default && last_poll_ == "I00B") ++polls_;
    } else if (direction == '<' && activity_ == Activity::Reading &&
               (last_poll_ == "I00F" || last_poll_ == "I00I")) {
        const size_t lf = bytes.find('\n');
        if (lf != std::string_view::npos && bytes.size() - lf > 9) reading_pending_ = true;
    }
    if (options_.trace) options_.trace(direction, bytes);
}

void Session::Poll() {
    if (StopRequested() && !stop_noted_ && activity_ != Activity::Reading) {
        stop_noted_ = true;
        Note(activity_ == Activity::Backup
                 ? "stopping after this slot (Ctrl+C again to end at once)"
                 : "stopping after this operation (Ctrl+C again to end at once)");
    }
    if (activity_ == Activity::Reading && f_.reading_loop) {
        if (reading_pending_) {
            reading_pending_ = false;
            ++readings_;
            const std::string line = Latin1ToUtf8(WithoutMnemonic(f_.pnCardID.caption()));
            reading_lines_.push_back(line);
            if (!options_.json) {
                EndProgress();
                out_ << line << "\n";
                out_.flush();
            }
        }
        const uint32_t elapsed = link::elapsed_ms(activity_start_ms_, f_.svc.clock.now_ms());
        const bool done = (reading_count_ && readings_ >= *reading_count_) ||
                          (reading_seconds_ && elapsed >= *reading_seconds_ * 1000.0) ||
                          StopRequested();
        if (done && !stop_pressed_ && reading_toggle_) {
            stop_pressed_ = true;
            f_.press(*reading_toggle_);  // the second press of the button stops the loop
        }
    }
    if (!options_.progress || activity_ == Activity::None) return;
    const uint32_t elapsed = link::elapsed_ms(activity_start_ms_, f_.svc.clock.now_ms());
    if (activity_ == Activity::Default) {
        ShowProgress(activity_name_ + ": " + std::to_string(polls_ > 0 ? polls_ - 1 : 0) +
                     " polls, " + Seconds(elapsed) + " (usually 10 to 50 s, at most about 200 s)");
    } else if (activity_ == Activity::Backup) {
        const uint32_t left =
            slots_done_ > 0
                ? static_cast<uint32_t>(uint64_t{elapsed} *
                                        static_cast<uint64_t>(slots_total_ - slots_done_) /
                                        static_cast<uint64_t>(slots_done_))
                : static_cast<uint32_t>(slots_total_) * 2500u;
        ShowProgress(activity_name_ + ": slot " + std::to_string(current_slot_) + ", " +
                     std::to_string(slots_done_) + " of " + std::to_string(slots_total_) +
                     " done, " + Seconds(elapsed) + ", about " + Seconds(left) + " left");
    } else if (activity_ == Activity::Reading) {
        ShowProgress("read: " + std::to_string(readings_) + " readings, " + Seconds(elapsed) +
                     " (Ctrl+C stops)");
    }
}

void Session::ShowProgress(const std::string& text, bool force) {
    if (!options_.progress) return;
    const uint32_t now = f_.svc.clock.now_ms();
    if (!force && progress_shown_ && link::elapsed_ms(last_progress_ms_, now) < 250) return;
    last_progress_ms_ = now;
    err_ << "\r\033[K" << text;
    err_.flush();
    progress_shown_ = true;
}

void Session::EndProgress() {
    if (!progress_shown_) return;
    err_ << "\r\033[K";
    err_.flush();
    progress_shown_ = false;
}

// ---------------------------------------------------------------- commands

Result Session::Press(const std::string& operation, app::Control& button, Report* report) {
    Report own;
    Report& r = report ? *report : own;
    r.operation = operation;
    if (!f_.window_enabled() || !button.usable()) {
        r.result = Result::Failed;
        r.text = operation + ": not available now";
        if (!report) Emit(r);
        return r.result;
    }
    const int errors_before = options_.errors_shown();
    f_.press(button);
    r.result = options_.errors_shown() != errors_before ? Result::Failed : OutcomeFromModel();
    r.text = StatusText();
    if (!report) Emit(r);
    return r.result;
}

Result Session::Scan(bool sweep) {
    if (sweep) f_.user_set_checked(f_.chkLock, false);
    Report r;
    Press("scan", f_.btnScan, &r);
    if (f_.state.reader_found) {
        r.result = Result::Ok;
        AddReaderFields(r);
    } else {
        r.result = f_.pnMsg.caption() == f_.Text(35) ? Result::NotFound : Result::Failed;
    }
    Emit(r);
    return r.result;
}

Result Session::Info() {
    Report r;
    r.operation = "info";
    r.result = f_.state.reader_found ? Result::Ok : Result::NotFound;
    r.text = StatusText();
    if (f_.state.reader_found) AddReaderFields(r);
    Emit(r);
    return r.result;
}

Result Session::Read(const Command& c) {
    reading_toggle_ = c.encoded ? &f_.btnEncode : &f_.btnReadCard;
    reading_count_ = c.count;
    reading_seconds_ = c.seconds;
    readings_ = 0;
    reading_lines_.clear();
    reading_pending_ = false;
    stop_pressed_ = false;
    activity_ = Activity::Reading;
    activity_name_ = "read";
    activity_start_ms_ = f_.svc.clock.now_ms();
    Report r;
    const std::string before = f_.pnMsg.caption();
    Press("read", *reading_toggle_, &r);
    activity_ = Activity::None;
    reading_toggle_ = nullptr;
    // A reading that ends by the stop press leaves the status line alone.
    if (r.result == Result::Ok && f_.pnMsg.caption() == before)
        r.text = std::to_string(readings_) + (readings_ == 1 ? " reading" : " readings");
    std::string cards = "[";
    for (size_t i = 0; i < reading_lines_.size(); ++i)
        cards += (i ? "," : "") + JsonQuote(reading_lines_[i]);
    r.fields.emplace_back("cards", cards + "]");
    Emit(r);
    return r.result;
}

Result Session::StandAlone(const std::string& operation, app::Control& button, app::Control* edit,
                           const std::string& text) {
    if (!button.usable()) {
        Report r;
        r.operation = operation;
        r.result = Result::Failed;
        r.text = operation + ": the stand-alone commands follow standalone-mode in the same run";
        Emit(r);
        return r.result;
    }
    if (edit) f_.user_set_text(*edit, text);
    return Press(operation, button);
}

Result Session::Backup(const Command& c, bool single) {
    std::vector<int> slots = c.slots;
    if (single) {
        slots = {c.number};
    } else if (slots.empty()) {
        for (int s = 0; s <= 1000; ++s) slots.push_back(s);
    }
    const std::string operation = single ? "template-get" : "backup";
    TemplateFile file;
    file.tool = std::string("torvikctl ") + TORVIK_VERSION;
    file.date = UtcNow();
    file.reader_serial = AfterLabel(f_.pnSerial.caption(), f_.Text(29));
    file.reader_version = AfterLabel(f_.pnVersion.caption(), f_.Text(31));

    activity_ = Activity::Backup;
    activity_name_ = operation;
    activity_start_ms_ = f_.svc.clock.now_ms();
    slots_total_ = static_cast<int>(slots.size());
    slots_done_ = 0;
    int empty = 0, failed = 0, consecutive_failures = 0;
    std::string failed_slots;  // for a second run with --slots
    bool stopped = false, gone = false;
    Result worst = Result::Ok;
    Report slot_report;
    for (const int slot : slots) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        current_slot_ = slot;
        Poll();
        f_.user_set_position(f_.sbFingerNo, slot);
        TemplateSlot entry;
        entry.slot = slot;
        slot_report = Report{};
        const Result r = Press(operation, f_.btnGetTemplate, &slot_report);
        if (r == Result::NotFound) {
            worst = Result::NotFound;
            gone = true;
            break;
        }
        if (r == Result::Ok) {
            consecutive_failures = 0;
            entry.pieces = {f_.edF1.text(), f_.edF2.text(), f_.edF3.text()};
            entry.status = PiecesAreEmpty(entry.pieces) ? SlotStatus::Empty : SlotStatus::Ok;
            if (entry.status == SlotStatus::Empty) ++empty;
        } else {
            entry.status = SlotStatus::Failed;
            failed_slots += (failed_slots.empty() ? "" : ",") + std::to_string(slot);
            ++failed;
            worst = Result::Failed;
        }
        if (!options_.json && !single) {
            EndProgress();
            out_ << "slot " << slot << ": "
                 << (entry.status == SlotStatus::Ok      ? "read"
                     : entry.status == SlotStatus::Empty ? "empty"
                                                         : "failed (" + slot_report.text + ")")
                 << "\n";
            out_.flush();
        }
        file.slots.push_back(std::move(entry));
        ++slots_done_;
        if (r != Result::Ok && ++consecutive_failures >= kBackupGiveUpAfter) {
            gone = true;
            break;
        }
    }
    activity_ = Activity::None;
    file.complete = file.slots.size() == slots.size();

    Report r;
    r.operation = operation;
    r.result = stopped || (gone && worst == Result::Ok) ? Result::Failed : worst;
    std::string error;
    // A run that read nothing leaves a file of the same name (an earlier
    // backup, perhaps the only one) as it is.
    const size_t read_slots = file.slots.size() - static_cast<size_t>(failed);
    if (read_slots == 0) error = c.file + " not written, no slot was read";
    const bool saved = read_slots > 0 && SaveTemplateFile(c.file, file, error);
    if (single) {
        r.text = slot_report.text;
        if (!saved) {
            if (r.result == Result::Ok) r.result = Result::Failed;
            r.text += (r.text.empty() ? "" : "; ") + error;
        }
        if (!file.slots.empty() && file.slots[0].status != SlotStatus::Failed)
            r.fields.emplace_back("template", JsonPieces(file.slots[0].pieces));
        r.fields.emplace_back("slot", std::to_string(c.number));
    } else {
        const size_t read = read_slots;
        r.text = std::to_string(read) + " of " + std::to_string(slots.size()) + " slots read (" +
                 std::to_string(empty) + " empty, " + std::to_string(failed) + " failed)";
        if (stopped) r.text += "; stopped by request";
        if (gone && worst != Result::NotFound)
            r.text += "; " + std::to_string(kBackupGiveUpAfter) +
                      " slots in a row failed, the rest was not tried";
        if (!failed_slots.empty()) r.text += "; failed slots: " + failed_slots;
        if (saved) {
            r.text += " into " + c.file;
        } else {
            r.result = Result::Failed;
            r.text += "; " + error;
        }
        r.fields.emplace_back("slots_read", std::to_string(read));
        r.fields.emplace_back("empty", std::to_string(empty));
        r.fields.emplace_back("failed", std::to_string(failed));
        r.fields.emplace_back("complete", file.complete ? "true" : "false");
    }
    r.fields.emplace_back("file", JsonQuote(ForTerminal(c.file)));
    Emit(r);
    return r.result;
}

Result Session::Restore(const Command& c, const TemplateFile& file, bool single) {
    std::vector<const TemplateSlot*> chosen;
    if (single) {
        const TemplateSlot* s = file.find(c.number);
        chosen.push_back(s ? s : &file.slots.front());
    } else if (!c.slots.empty()) {
        for (int slot : c.slots) chosen.push_back(file.find(slot));
    } else {
        for (const auto& s : file.slots) chosen.push_back(&s);
    }
    const std::string operation = single ? "template-put" : "restore";
    activity_ = Activity::Backup;
    activity_name_ = operation;
    activity_start_ms_ = f_.svc.clock.now_ms();
    slots_total_ = static_cast<int>(chosen.size());
    slots_done_ = 0;
    int written = 0, skipped = 0;
    bool stopped = false;
    Report r;
    r.operation = operation;
    r.result = Result::Ok;
    std::string failure;
    for (const TemplateSlot* s : chosen) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        const int target = single ? c.number : c.to_slot.value_or(s->slot);
        current_slot_ = target;
        Poll();
        if (s->status != SlotStatus::Ok) {
            ++skipped;
            ++slots_done_;
            if (!options_.json)
                out_ << "slot " << s->slot << ": skipped ("
                     << (s->status == SlotStatus::Empty ? "empty" : "not read at backup") << ")\n";
            continue;
        }
        for (size_t p = 0; p < 3; ++p) {
            if (app::Trim(s->pieces[p]) != s->pieces[p])
                Note("slot " + std::to_string(s->slot) + " piece " + std::to_string(p + 1) +
                     " begins or ends with a blank or control character; the reader receives it "
                     "without them");
        }
        f_.user_set_position(f_.sbFingerNo, target);
        app::Control* boxes[] = {&f_.edF1, &f_.edF2, &f_.edF3};
        bool fits = true;
        for (size_t p = 0; p < 3; ++p) {
            f_.user_set_text(*boxes[p], s->pieces[p]);
            fits = fits && boxes[p]->text() == s->pieces[p];
        }
        Report slot_report;
        const Result result =
            fits ? Press(operation, f_.btnPutTemplate, &slot_report) : Result::Failed;
        if (!fits) slot_report.text = "a piece does not fit its box";
        ++slots_done_;
        if (result != Result::Ok) {
            r.result = result;
            failure = "slot " + std::to_string(target) + ": " + slot_report.text;
            break;
        }
        ++written;
        if (!options_.json && !single) {
            EndProgress();
            out_ << "slot " << s->slot;
            if (target != s->slot) out_ << " -> " << target;
            out_ << ": written\n";
            out_.flush();
        }
        r.text = slot_report.text;
    }
    activity_ = Activity::None;
    if (!single || r.result != Result::Ok || stopped || written == 0) {
        r.text = std::to_string(written) + " of " + std::to_string(chosen.size()) +
                 " slots written (" + std::to_string(skipped) + " skipped)";
        if (!failure.empty()) r.text += "; " + failure;
        if (stopped) r.text += "; stopped by request";
    }
    if (stopped && r.result == Result::Ok) r.result = Result::Failed;
    // A single template that is not there to write is not a success.
    if (single && written == 0 && r.result == Result::Ok) r.result = Result::Failed;
    r.fields.emplace_back("slots_written", std::to_string(written));
    r.fields.emplace_back("skipped", std::to_string(skipped));
    r.fields.emplace_back("file", JsonQuote(ForTerminal(c.file)));
    Emit(r);
    return r.result;
}

Result Session::Execute(const Command& c) {
    const std::string& n = c.name;
    if (n == "scan") return Scan(c.sweep);
    if (n == "info") return Info();
    if (n == "set-id") {
        f_.user_set_position(f_.sbID, c.number);
        Report r;
        Press(n, f_.btnID, &r);
        r.fields.emplace_back("id", JsonBytes(f_.pnID.caption()));
        Emit(r);
        return r.result;
    }
    if (n == "set-baud") {
        f_.user_set_index(f_.cmbBaudRate, c.index);
        Report r;
        Press(n, f_.btnBaudRate, &r);
        r.fields.emplace_back("settings", JsonQuote(f_.state.link.settings));
        if (r.result == Result::Ok)
            r.lines.push_back("the next run finds the reader with: torvikctl scan --sweep");
        Emit(r);
        return r.result;
    }
    if (n == "set-mode") {
        f_.user_set_index(f_.cmbMode, c.mode);
        f_.user_set_index(f_.cmbWiegand, c.wiegand);
        f_.user_set_index(f_.cmbRS485, c.rs485);
        Report r;
        Press(n, f_.btnMode, &r);
        r.fields.emplace_back("mode", "{\"interface\":" + JsonQuote(kInterfaceNames[c.mode]) +
                                          ",\"wiegand\":" + JsonQuote(kWiegandNames[c.wiegand]) +
                                          ",\"rs485\":" + JsonQuote(kRs485Names[c.rs485]) + "}");
        Emit(r);
        return r.result;
    }
    if (n == "set-card-type") {
        f_.user_set_index(f_.cmbCardType, c.index);
        Report r;
        Press(n, f_.btnCardType, &r);
        r.fields.emplace_back("card_type", JsonQuote(kCardTypeNames[c.index]));
        Emit(r);
        return r.result;
    }
    if (n == "set-facility") {
        f_.user_set_position(f_.sbFacility, c.number);
        Report r;
        Press(n, f_.btnFacility, &r);
        r.fields.emplace_back("facility", JsonQuote(f_.pnFacility.caption()));
        Emit(r);
        return r.result;
    }
    if (n == "read") return Read(c);
    if (n == "enrol" || n == "delete") {
        f_.user_set_position(f_.sbFingerNo, c.number);
        Report r;
        Press(n, n == "enrol" ? f_.btnAdd : f_.btnDel, &r);
        r.fields.emplace_back("slot", std::to_string(c.number));
        Emit(r);
        return r.result;
    }
    if (n == "template-get") return Backup(c, true);
    if (n == "backup") return Backup(c, false);
    if (n == "template-put" || n == "restore") {
        const size_t at = static_cast<size_t>(&c - commands_base_);
        return Restore(c, *file_of_[at], n == "template-put");
    }
    if (n == "factory-default" || n == "standalone-default") {
        activity_ = Activity::Default;
        activity_name_ = n;
        activity_start_ms_ = f_.svc.clock.now_ms();
        polls_ = 0;
        Report r;
        Press(n, n == "factory-default" ? f_.btnFactory : f_.btnStandDefault, &r);
        activity_ = Activity::None;
        r.fields.emplace_back(
            "seconds",
            std::to_string((link::elapsed_ms(activity_start_ms_, f_.svc.clock.now_ms()) + 500) /
                           1000));
        Emit(r);
        return r.result;
    }
    if (n == "standalone-mode") return Press(n, f_.btnStand);
    if (n == "door-time") return StandAlone(n, f_.btnDoor, &f_.edDoor, ops::ZeroPad(c.number, 4));
    if (n == "alarm-time")
        return StandAlone(n, f_.btnAlarm, &f_.edAlarm, ops::ZeroPad(c.number, 4));
    if (n == "master-card") return StandAlone(n, f_.btnSetCard);
    if (n == "duress-card") return StandAlone(n, f_.btnDuress);
    if (n == "clear-card") return StandAlone(n, f_.btnClrCard);
    if (n == "raw") {
        f_.user_set_text(f_.edCRCmd, *Utf8ToLatin1(c.text));
        Report r;
        Press(n, f_.btnCRCmd, &r);
        if (r.result == Result::Ok) {
            r.fields.emplace_back("answer", JsonBytes(f_.edCRRev.text()));
            r.lines.push_back(Latin1ToUtf8(f_.edCRRev.text()));
        }
        Emit(r);
        return r.result;
    }
    Report r;
    r.operation = n;
    r.text = "unknown command";
    Emit(r);
    return Result::Failed;
}

int Session::Run(const std::vector<Command>& commands) {
    // Everything that can be checked without the reader is checked before
    // the first frame goes out.
    commands_base_ = commands.data();
    files_.clear();
    files_.reserve(commands.size());
    file_of_.assign(commands.size(), nullptr);
    for (size_t i = 0; i < commands.size(); ++i) {
        const Command& c = commands[i];
        if (c.name == "raw") {
            const auto bytes = Utf8ToLatin1(c.text);
            if (!bytes || bytes->size() > static_cast<size_t>(f_.edCRCmd.max_length)) {
                err_ << "torvikctl: raw: the text must be at most " << f_.edCRCmd.max_length
                     << " characters of Latin-1\n";
                return kExitUsage;
            }
        }
        if (c.name != "restore" && c.name != "template-put") continue;
        Report r;
        r.operation = c.name;
        r.result = Result::Failed;
        std::string error;
        auto file = LoadTemplateFile(c.file, error);
        if (file && file->slots.empty()) error = c.file + ": holds no slot";
        if (file && error.empty()) {
            if (c.name == "template-put") {
                if (!file->find(c.number) && file->slots.size() != 1)
                    error = c.file + ": holds no slot " + std::to_string(c.number) +
                            " and more than one other";
            } else if (c.to_slot && c.slots.empty() && file->slots.size() != 1) {
                error = c.file + ": holds " + std::to_string(file->slots.size()) +
                        " slots; --to-slot needs one chosen with --slots";
            } else {
                for (int slot : c.slots)
                    if (!file->find(slot)) {
                        error = c.file + ": holds no slot " + std::to_string(slot);
                        break;
                    }
            }
        }
        if (!error.empty()) {
            r.text = ForTerminal(error) + "; nothing was sent";
            Emit(r);
            return kExitFailed;
        }
        files_.push_back(std::move(*file));
        file_of_[i] = &files_.back();
    }

    stops_seen_ = *options_.stop_requests;
    f_.link.set_trace(
        [this](char direction, std::string_view bytes) { OnFrame(direction, bytes); });

    const auto status_of = [](Result r) {
        return r == Result::Ok ? kExitOk : r == Result::NotFound ? kExitNotFound : kExitFailed;
    };
    int status = kExitOk;
    if (commands.empty() || commands.front().name != "scan") {
        const Result r = Scan(false);
        if (r != Result::Ok) return status_of(r);
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        if (StopRequested()) {
            Note("stopped by request; " + std::to_string(commands.size() - i) +
                 " command(s) not run");
            return kExitFailed;
        }
        const Result r = Execute(commands[i]);
        if (r != Result::Ok) {
            status = status_of(r);
            if (i + 1 < commands.size())
                Note(std::to_string(commands.size() - i - 1) + " command(s) after " +
                     commands[i].name + " not run");
            break;
        }
        // A live reading ends normally by the stop request.
        if (commands[i].name == "read" && StopRequested() && i + 1 == commands.size()) break;
    }
    EndProgress();
    return status;
}

}  // namespace torvik::cli

// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/diagnostics.h"
#include "app/text.h"
#include "cli/call_check.h"
#include "cli/text.h"
#include "link/protocol.h"
#include "link/terminal_text.h"

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
        case Result::NotRun:
            return "not-run";
    }
    return "failed";
}

// A live reading stopped by request ended as it should; refused (no scan
// found the reader) and not found both mean there is no reader to talk to.
Result ResultOf(app::Outcome outcome) {
    switch (outcome) {
        case app::Outcome::kSucceeded:
        case app::Outcome::kStopped:
            return Result::Ok;
        case app::Outcome::kRefused:
        case app::Outcome::kNotFound:
            return Result::NotFound;
        case app::Outcome::kFailed:
            break;
    }
    return Result::Failed;
}

std::string NameAt(const char* const* names, size_t count, int index) {
    return index >= 0 && static_cast<size_t>(index) < count ? names[index] : "";
}

std::string ModeJson(const app::OutputMode& mode) {
    return "{\"interface\":" + JsonQuote(NameAt(kInterfaceNames, 2, mode.interface)) +
           ",\"wiegand\":" + JsonQuote(NameAt(kWiegandNames, 3, mode.wiegand)) +
           ",\"rs485\":" + JsonQuote(NameAt(kRs485Names, 3, mode.rs485)) + "}";
}

std::string JsonBytes(const std::string& bytes) {
    return JsonQuote(app::TextOfBytes(bytes));
}

std::string JsonPieces(const std::vector<std::string>& pieces) {
    std::string out = "[";
    for (size_t i = 0; i < pieces.size(); ++i) out += (i ? "," : "") + JsonBytes(pieces[i]);
    return out + "]";
}

std::string JsonOrNull(bool known, const std::string& utf8) {
    return known ? JsonQuote(utf8) : "null";
}

std::string MakeRunId() {
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        uint64_t seed = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                        static_cast<uint64_t>(::time(nullptr));
        for (unsigned char& b : bytes) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            b = static_cast<unsigned char>(seed >> 56);
        }
    }
    char text[17];
    for (size_t i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

T FaultKey(link::ReplyFault fault) {
    switch (fault) {
        case link::ReplyFault::kNone:
            return T::kFaultNone;
        case link::ReplyFault::kNothing:
            return T::kFaultNothing;
        case link::ReplyFault::kCutOff:
            return T::kFaultCutOff;
        case link::ReplyFault::kBadCheck:
            return T::kFaultBadCheck;
        case link::ReplyFault::kMalformed:
            return T::kFaultMalformed;
        case link::ReplyFault::kNeverQuiet:
            return T::kFaultNeverQuiet;
    }
    return T::kFaultNothing;
}

// The words of the serial device in the scan's account, in the language
// in force; names, numbers and the system's own texts stay as they are.
std::string TranslateCauses(std::string text, int language) {
    if (language == 0) return text;
    const std::pair<const char*, T> phrases[] = {
        {"held by another program", T::kCauseHeldByAnother},
        {"held by ", T::kCauseHeldBy},
        {"no such device", T::kCauseNoSuchDevice},
        {"permission denied", T::kCausePermission},
        {": busy", T::kCauseBusy},
        {"vanished", T::kCauseVanished},
        {"not a serial device", T::kCauseNotSerial},
        {"system console", T::kCauseSystemConsole},
        {"login terminal of ", T::kCauseLoginTerminal},
        {"a port is already open", T::kCauseAlreadyOpen},
        {": skipped: ", T::kCauseSkipped},
    };
    for (const auto& [english, key] : phrases) {
        std::string words = Tr(language, key);
        const std::string from = english;
        if (from.rfind(": ", 0) == 0) words = ": " + words;
        if (from.back() == ' ') words += " ";
        if (from.size() > 2 && from.compare(from.size() - 2, 2, ": ") == 0) words += ": ";
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += words.size())
            text.replace(at, from.size(), words);
    }
    return text;
}

// The speed of a settings string ("19200,e,8,1") and its bits per byte.
void LineOf(const std::string& settings, unsigned& baud, unsigned& bits) {
    baud = static_cast<unsigned>(std::strtoul(settings.c_str(), nullptr, 10));
    if (baud == 0) baud = 19200;
    const size_t comma = settings.find(',');
    const char parity = comma != std::string::npos && comma + 1 < settings.size()
                            ? settings[comma + 1]
                            : 'n';
    bits = parity == 'n' ? 10 : 11;
}

}  // namespace

Session::Session(app::TfrmModule& form, std::ostream& out, std::ostream& err,
                 SessionOptions options)
    : f_(form), reader_(*form.reader()), out_(out), err_(err), options_(std::move(options)) {
    static const volatile std::sig_atomic_t kNever = 0;
    if (!options_.stop_requests) options_.stop_requests = &kNever;
    if (!options_.errors_shown) options_.errors_shown = [] { return 0; };
    if (options_.run_id.empty()) options_.run_id = MakeRunId();
}

// ---------------------------------------------------------------- reports

std::string Session::Render(const app::Message& text) const {
    return WithoutMnemonic(text.Render(language()));
}

std::string Session::Say(T key, const std::vector<SaidValue>& values) const {
    return Tr(language(), Said(key, values));
}

std::string Session::Say(const Said& said) const {
    return Tr(language(), said);
}

template <class R>
R Session::Call(Report& report, const std::function<R(app::Reader&)>& call) {
    R result;
    const int errors_before = options_.errors_shown();
    f_.dispatch([&] { result = call(reader_); });
    report.result = ResultOf(result.outcome);
    report.text = Render(result.text);
    if (options_.errors_shown() != errors_before) {
        report.result = Result::Failed;
        if (report.text.empty()) report.text = Say(T::kEndedByError, {report.operation});
    }
    return result;
}

Result Session::Simple(const std::string& operation,
                       const std::function<app::Result(app::Reader&)>& call,
                       std::vector<std::pair<std::string, std::string>> fields) {
    Report r;
    r.operation = operation;
    Call<app::Result>(r, call);
    r.fields = std::move(fields);
    Emit(r);
    return r.result;
}

void Session::AddReaderFields(Report& r) const {
    const bool known = scan_ && scan_->reader && f_.state.reader_found;
    if (!known) {
        for (const char* name : {"version", "id", "mode"}) r.fields.emplace_back(name, "null");
        return;
    }
    const app::ReaderInfo& info = *scan_->reader;
    r.fields.emplace_back("version", JsonQuote(info.version));
    r.fields.emplace_back("id", JsonQuote(info.id));
    r.fields.emplace_back("mode", ModeJson(info.mode));
    r.lines.push_back(Render(app::Message::Row(29)) + " : " + info.serial);
    r.lines.push_back(Render(app::Message::Row(31)) + " : " + info.version);
    r.lines.push_back(Render(app::Message::Row(4).add_text(":")) + " " + info.id);
    r.lines.push_back(std::string(app::ItemText(app::kModeItems, info.mode.interface)) + " / " +
                      app::ItemText(app::kWiegandItems, info.mode.wiegand) + " / " +
                      app::ItemText(app::kRs485Items, info.mode.rs485));
    r.lines.push_back("COM" + std::to_string(f_.state.link.port) + " " + f_.state.link.settings);
}

void Session::Emit(const Report& r) {
    EndProgress();
    if (options_.json) {
        const int port = f_.state.link.port;
        const std::string device = options_.device_of && port > 0 ? options_.device_of(port) : "";
        const bool serial_known = scan_ && scan_->reader && f_.state.reader_found;
        out_ << "{\"schema\":" << kJsonSchemaVersion << ",\"run\":\"" << options_.run_id
             << "\",\"time\":\"" << UtcNow() << "\",\"operation\":" << JsonQuote(r.operation)
             << ",\"outcome\":\"" << ResultName(r.result) << "\",\"text\":" << JsonQuote(r.text)
             << ",\"port\":" << port << ",\"device\":"
             << JsonOrNull(!device.empty(), ForTerminal(device))
             << ",\"settings\":" << JsonQuote(ForTerminal(f_.state.link.settings))
             << ",\"serial\":" << JsonOrNull(serial_known, serial_known ? scan_->reader->serial : "");
        for (const auto& [name, value] : r.fields) out_ << "," << JsonQuote(name) << ":" << value;
        out_ << "}\n";
    } else if (r.result != Result::NotRun) {
        out_ << r.text << "\n";
        for (const auto& line : r.lines) out_ << "  " << line << "\n";
    }
    out_.flush();
}

void Session::NotRun(const std::vector<Command>& commands, size_t from, const Said& why,
                     const Said& note) {
    if (from >= commands.size()) return;
    std::string names;
    for (size_t i = from; i < commands.size(); ++i) {
        names += (names.empty() ? "" : " ") + commands[i].name;
        Report r;
        r.operation = commands[i].name;
        r.result = Result::NotRun;
        r.text = Say(why);
        Emit(r);
    }
    Said said = note;
    said.values.push_back(names);
    Note(Say(said));
}

void Session::Note(const std::string& text) {
    EndProgress();
    err_ << "torvikctl: " << link::TerminalSafe(text) << "\n";
    err_.flush();
}

void Session::WriteScanAccount(const app::ScanResult& scan, bool sweep) {
    if (!options_.account_map || scan.outcome != app::Outcome::kNotFound) return;
    const link::ComMap& map = *options_.account_map;
    std::string text =
        app::DescribeScan(scan.attempts, map.present_devices(), map.skipped_devices(),
                          app::ScanContext{language(), false});
    text = TranslateCauses(text, language());
    if (!sweep && !scan.attempts.empty())
        text += "\n" + Say(T::kScanOnlyStored, {ForTerminal(scan.attempts.front().settings)});
    EndProgress();
    err_ << link::TerminalSafe(text) << "\n";
    err_.flush();
}

// ---------------------------------------------------------------- events

void Session::NoteStop() {
    if (!StopRequested() || stop_noted_ || activity_ == Activity::Reading) return;
    stop_noted_ = true;
    if (activity_ == Activity::Backup && !incomplete_path_.empty()) {
        Note(Say(T::kStopAfterSlot, {ForTerminal(incomplete_path_)}));
    } else if (activity_ == Activity::Restore) {
        Note(Say(T::kStopAfterWrite));
    } else {
        Note(Say(T::kStopAfterOperation));
    }
}

uint32_t Session::SlotEstimateMs(bool write) const {
    // Measured over a pseudo-terminal with the simulated reader: the fixed
    // waits and the outcome beep, the time the port takes to open and
    // close, and the bytes on the line (a read brings three replies of 264
    // bytes; a write sends three commands of up to 272).
    unsigned baud = 19200, bits = 11;
    LineOf(f_.state.link.settings, baud, bits);
    const uint32_t fixed_ms = write ? 800 + 300 : 2400 + 300;
    const uint32_t overhead_ms = 60;
    const uint32_t bytes = write ? 900 : 920;
    return fixed_ms + overhead_ms + static_cast<uint32_t>(uint64_t{bytes} * bits * 1000 / baud);
}

void Session::Poll() {
    NoteStop();
    if (activity_ == Activity::Reading && f_.core.reading_loop) {
        const uint32_t elapsed = link::elapsed_ms(activity_start_ms_, Now());
        const bool done = (reading_count_ && readings_ >= *reading_count_) ||
                          (reading_seconds_ && elapsed >= *reading_seconds_ * 1000.0) ||
                          StopRequested();
        if (done && !stop_asked_) {
            // As the second press of the reading's button: the cycle under
            // way finishes with one more poll.
            stop_asked_ = true;
            reader_.StopReading();
        }
    }
    if (!options_.progress || activity_ == Activity::None) return;
    const uint32_t elapsed = link::elapsed_ms(activity_start_ms_, Now());
    if (activity_ == Activity::Default) {
        ShowProgress(Say(T::kProgressDefault, {activity_name_, std::to_string(polls_),
                                               Duration(language(), elapsed)}));
    } else if (activity_ == Activity::Backup || activity_ == Activity::Restore) {
        // The running average of the slots done so far, or before the
        // first one the measured time at the line's speed.
        const uint64_t per_slot = slots_done_ > 0
                                      ? slots_done_ms_ / static_cast<uint64_t>(slots_done_)
                                      : SlotEstimateMs(activity_ == Activity::Restore);
        const uint64_t remaining = per_slot * static_cast<uint64_t>(slots_total_ - slots_done_);
        const uint64_t into_slot = elapsed - std::min(elapsed, slots_done_ms_);
        const uint64_t left = remaining > into_slot ? remaining - into_slot : 0;
        ShowProgress(Say(T::kProgressSlots,
                         {activity_name_, std::to_string(current_slot_),
                          std::to_string(slots_done_), std::to_string(slots_total_),
                          Duration(language(), elapsed),
                          Duration(language(), static_cast<uint32_t>(left))}));
    } else if (activity_ == Activity::Reading) {
        ShowProgress(Say(T::kProgressReading,
                         {Count(language(), readings_, T::kReadingOne, T::kReadingMany),
                          Duration(language(), elapsed)}));
    }
}

void Session::ShowProgress(const std::string& text, bool force) {
    if (!options_.progress) return;
    const uint32_t now = Now();
    if (!force && progress_shown_ && link::elapsed_ms(last_progress_ms_, now) < 250) return;
    last_progress_ms_ = now;
    err_ << "\r\033[K" << link::TerminalSafe(text);
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

Result Session::Scan(bool sweep) {
    Report r;
    r.operation = "scan";
    scan_ = Call<app::ScanResult>(r, [sweep](app::Reader& reader) { return reader.Scan(sweep); });
    AddReaderFields(r);
    Emit(r);
    WriteScanAccount(*scan_, sweep);
    return r.result;
}

Result Session::Info() {
    Report r;
    r.operation = "info";
    const bool found = f_.state.reader_found && scan_ && scan_->succeeded();
    r.result = found ? Result::Ok : Result::NotFound;
    r.text = scan_ ? Render(scan_->text) : Render(app::Message::Row(2));
    AddReaderFields(r);
    Emit(r);
    return r.result;
}

Result Session::Read(const Command& c) {
    reading_count_ = c.count;
    reading_seconds_ = c.seconds;
    readings_ = 0;
    reading_lines_.clear();
    stop_asked_ = false;
    activity_ = Activity::Reading;
    activity_name_ = "read";
    activity_start_ms_ = Now();
    Report r;
    r.operation = "read";
    const app::ReadingSink sink = [this](const app::Reading& reading) {
        ++readings_;
        const std::string line = Render(reading.display);
        reading_lines_.push_back(line);
        if (!options_.json) {
            EndProgress();
            out_ << line << "\n";
            out_.flush();
        }
    };
    const app::ReadingResult result = Call<app::ReadingResult>(
        r, [&c, &sink](app::Reader& reader) { return reader.ReadCards(c.encoded, sink); });
    activity_ = Activity::None;
    // A reading that ends by the stop request leaves the status line alone.
    if (result.outcome == app::Outcome::kStopped)
        r.text = Count(language(), readings_, T::kReadingOne, T::kReadingMany);
    std::string cards = "[";
    for (size_t i = 0; i < reading_lines_.size(); ++i)
        cards += (i ? "," : "") + JsonQuote(reading_lines_[i]);
    r.fields.emplace_back("cards", cards + "]");
    Emit(r);
    return r.result;
}

Said Session::SlotReason(const app::Result& result, unsigned openings_before, int errors_before,
                         int pieces_read, bool write) const {
    if (result.outcome == app::Outcome::kRefused || result.outcome == app::Outcome::kNotFound)
        return {T::kReasonNoReader};
    if (options_.errors_shown() != errors_before) return {T::kReasonError};
    if (f_.port.openings() == openings_before)
        return {T::kReasonPortNotOpen, {ForTerminal(f_.svc.serial.last_open_failure())}};
    const Said fault(FaultKey(f_.link.last_fault()));
    if (write) return {T::kReasonNotTaken, {fault}};
    if (pieces_read <= 0) return {T::kReasonNoPiece, {fault}};
    return {T::kReasonPiece, {std::to_string(pieces_read + 1), fault}};
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
    if (scan_ && scan_->reader) {
        file.reader_serial = app::BytesOfText(scan_->reader->serial).value_or("");
        file.reader_version = app::BytesOfText(scan_->reader->version).value_or("");
    }
    // A backup keeps its slots under a name that says it is not finished
    // until the last one is done, saved whole after every slot.
    const std::string incomplete = single ? std::string() : IncompleteName(c.file);
    RemoveStaleTemporaries(c.file);
    if (!single) RemoveStaleTemporaries(incomplete);
    const bool file_was_there = CheckOutputPath(c.file).state == OutputState::kRegular;

    activity_ = Activity::Backup;
    activity_name_ = operation;
    incomplete_path_ = incomplete;
    activity_start_ms_ = Now();
    slots_total_ = static_cast<int>(slots.size());
    slots_done_ = 0;
    slots_done_ms_ = 0;
    int empty = 0, failed = 0, consecutive_failures = 0;
    std::string failed_slots;  // for a second run with --slots
    bool stopped = false, gave_up = false, gone = false, simulator_gone = false;
    bool incomplete_written = false;
    std::optional<Said> save_error;
    Result worst = Result::Ok;
    Report slot_report;
    std::string slots_json;
    std::optional<Said> single_reason;
    for (const int slot : slots) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        if (ReaderGone()) {
            simulator_gone = true;
            break;
        }
        current_slot_ = slot;
        Poll();
        TemplateSlot entry;
        entry.slot = slot;
        slot_report = Report{};
        slot_report.operation = operation;
        const unsigned openings_before = f_.port.openings();
        const int errors_before = options_.errors_shown();
        const app::TemplateResult read = Call<app::TemplateResult>(
            slot_report, [slot](app::Reader& reader) { return reader.ReadTemplate(slot); });
        const Result r = slot_report.result;
        if (r == Result::NotFound) {
            worst = Result::NotFound;
            gone = true;
            break;
        }
        std::string slot_json = "{\"slot\":" + std::to_string(slot) + ",\"outcome\":";
        std::string line;
        if (r == Result::Ok) {
            consecutive_failures = 0;
            entry.pieces.assign(read.pieces.begin(), read.pieces.end());
            entry.status = PiecesAreEmpty(entry.pieces) ? SlotStatus::Empty : SlotStatus::Ok;
            if (entry.status == SlotStatus::Empty) ++empty;
            slot_json += entry.status == SlotStatus::Empty ? "\"empty\"}" : "\"read\"}";
            line = Say(entry.status == SlotStatus::Empty ? T::kSlotEmptyLine : T::kSlotRead,
                       {std::to_string(slot)});
        } else {
            entry.status = SlotStatus::Failed;
            failed_slots += (failed_slots.empty() ? "" : ",") + std::to_string(slot);
            ++failed;
            worst = Result::Failed;
            const Said reason =
                SlotReason(read, openings_before, errors_before, read.pieces_read, false);
            single_reason = reason;
            slot_json += "\"failed\",\"reason\":" + JsonQuote(Say(reason)) + "}";
            line = Say(T::kSlotFailedLine, {std::to_string(slot), reason});
        }
        slots_json += (slots_json.empty() ? "" : ",") + slot_json;
        file.slots.push_back(std::move(entry));
        ++slots_done_;
        slots_done_ms_ = link::elapsed_ms(activity_start_ms_, Now());
        if (!single) {
            // Whole on disk before the next slot starts: whatever ends this
            // process from now on, the slots read so far are kept.
            file.complete = false;
            save_error = WriteTemplateFile(incomplete, file);
            if (save_error) break;
            incomplete_written = true;
            if (!options_.json) {
                EndProgress();
                out_ << line << "\n";
                out_.flush();
            }
        }
        if (r != Result::Ok && ++consecutive_failures >= kBackupGiveUpAfter) {
            gave_up = true;
            break;
        }
    }
    activity_ = Activity::None;
    incomplete_path_.clear();
    file.complete = file.slots.size() == slots.size() && !save_error;

    Report r;
    r.operation = operation;
    r.result = stopped || gave_up || simulator_gone || save_error || (gone && worst == Result::Ok)
                   ? (worst == Result::NotFound ? Result::NotFound : Result::Failed)
                   : worst;
    const size_t read_slots = file.slots.size() - static_cast<size_t>(failed);
    const std::string shown = ForTerminal(c.file);
    std::string where = c.file;

    if (single) {
        r.text = slot_report.text;
        const bool read_ok = !file.slots.empty() && file.slots[0].status != SlotStatus::Failed;
        if (read_ok) {
            if (auto error = WriteTemplateFile(c.file, file, SaveOptions{c.force})) {
                r.result = Result::Failed;
                r.text += "; " + Say(*error);
            } else {
                r.lines.push_back(Say(T::kTemplateInto, {shown}));
            }
            r.fields.emplace_back("template", JsonPieces(file.slots[0].pieces));
        } else {
            if (single_reason) r.lines.push_back(Say(*single_reason));
            r.lines.push_back(Say(T::kBackupNothingRead, {shown}));
            r.fields.emplace_back("template", "null");
        }
        r.fields.emplace_back("slot", std::to_string(c.number));
    } else {
        std::vector<std::string> parts;
        parts.push_back(Say(T::kBackupSummary,
                            {std::to_string(read_slots), std::to_string(slots.size()),
                             std::to_string(empty), std::to_string(failed)}));
        if (stopped) parts.push_back(Say(T::kBackupStopped));
        if (gave_up) parts.push_back(Say(T::kBackupGaveUp, {std::to_string(kBackupGiveUpAfter)}));
        if (gone) parts.push_back(Say(T::kBackupReaderGone));
        if (simulator_gone) parts.push_back(Say(T::kSimulatorEnded));
        if (!failed_slots.empty()) parts.push_back(Say(T::kBackupFailedSlots, {failed_slots}));
        if (save_error) parts.push_back(Say(*save_error));
        if (read_slots == 0) {
            // Nothing worth keeping: what this run wrote goes again.
            if (incomplete_written) ::unlink(incomplete.c_str());
            parts.push_back(Say(T::kBackupNothingRead, {shown}));
            if (r.result == Result::Ok) r.result = Result::Failed;
        } else if (file.complete) {
            if (auto error = WriteTemplateFile(c.file, file, SaveOptions{c.force})) {
                parts.push_back(Say(*error));
                parts.push_back(Say(T::kBackupKeptIn, {ForTerminal(incomplete)}));
                r.result = Result::Failed;
                where = incomplete;
            } else {
                ::unlink(incomplete.c_str());
                parts.front() = Say(T::kBackupInto, {parts.front(), shown});
            }
        } else {
            // What was written last is what is kept (nothing, when the first
            // save already failed).
            if (incomplete_written) {
                parts.push_back(Say(T::kBackupKeptIn, {ForTerminal(incomplete)}));
                where = incomplete;
            }
            if (file_was_there) parts.push_back(Say(T::kBackupLeftAlone, {shown}));
        }
        for (size_t i = 0; i < parts.size(); ++i) r.text += (i ? "; " : "") + parts[i];
        r.fields.emplace_back("slots_read", std::to_string(read_slots));
        r.fields.emplace_back("empty", std::to_string(empty));
        r.fields.emplace_back("failed", std::to_string(failed));
        r.fields.emplace_back("complete", file.complete ? "true" : "false");
        r.fields.emplace_back("slots", "[" + slots_json + "]");
    }
    r.fields.emplace_back("file", JsonQuote(ForTerminal(where)));
    Emit(r);
    return r.result;
}

Result Session::Restore(const Command& c, size_t index) {
    const bool single = c.name == "template-put";
    const std::string shown = ForTerminal(c.file);
    Report r;
    r.operation = c.name;
    r.result = Result::Ok;
    // A file written earlier in this call is read now, with the same checks.
    if (!files_[index]) {
        Said error;
        auto loaded = LoadTemplateFile(c.file, error);
        if (loaded) {
            if (auto refusal = CheckSelection(c, *loaded, shown)) {
                error = *refusal;
                loaded.reset();
            }
        }
        if (!loaded) {
            r.result = Result::Failed;
            r.text = Say(T::kNothingSent, {error});
            r.fields = {{"slots_written", "0"}, {"skipped", "0"}, {"file", JsonQuote(shown)},
                        {"slots", "[]"}};
            Emit(r);
            return r.result;
        }
        files_[index] = std::move(loaded);
    }
    const TemplateFile& file = *files_[index];
    const std::vector<const TemplateSlot*> chosen = ChosenSlots(c, file);

    activity_ = Activity::Restore;
    activity_name_ = c.name;
    activity_start_ms_ = Now();
    slots_total_ = static_cast<int>(chosen.size());
    slots_done_ = 0;
    slots_done_ms_ = 0;
    int written = 0, skipped = 0;
    bool stopped = false, simulator_gone = false;
    std::string failure;
    std::string slots_json;
    std::string last_text;
    for (const TemplateSlot* s : chosen) {
        if (StopRequested()) {
            stopped = true;
            break;
        }
        if (ReaderGone()) {
            simulator_gone = true;
            break;
        }
        const int target = single ? c.number : c.to_slot.value_or(s->slot);
        current_slot_ = target;
        Poll();
        std::string slot_json = "{\"slot\":" + std::to_string(s->slot) +
                                ",\"to_slot\":" + std::to_string(target) + ",\"outcome\":";
        if (s->status != SlotStatus::Ok) {
            ++skipped;
            ++slots_done_;
            const bool empty = s->status == SlotStatus::Empty;
            slot_json += empty ? "\"skipped-empty\"}" : "\"skipped-failed\"}";
            slots_json += (slots_json.empty() ? "" : ",") + slot_json;
            if (!options_.json)
                out_ << Say(empty ? T::kSlotSkippedEmpty : T::kSlotSkippedFailed,
                            {std::to_string(s->slot)})
                     << "\n";
            continue;
        }
        app::TemplatePieces pieces;
        bool fits = s->pieces.size() == pieces.size();
        for (size_t p = 0; fits && p < pieces.size(); ++p) {
            pieces[p] = s->pieces[p];
            fits = pieces[p].size() <= static_cast<size_t>(link::kPieceLength);
            if (app::Trim(pieces[p]) != pieces[p])
                Note(Say(T::kPieceTrimmed, {std::to_string(s->slot), std::to_string(p + 1)}));
        }
        Report slot_report;
        slot_report.operation = c.name;
        Said reason;
        if (fits) {
            const unsigned openings_before = f_.port.openings();
            const int errors_before = options_.errors_shown();
            const app::Result result =
                Call<app::Result>(slot_report, [target, &pieces](app::Reader& reader) {
                    return reader.WriteTemplate(target, pieces);
                });
            if (slot_report.result != Result::Ok)
                reason = SlotReason(result, openings_before, errors_before, 0, true);
        } else {
            slot_report.result = Result::Failed;
            slot_report.text = Say(T::kReasonPieceTooLong, {std::to_string(link::kPieceLength)});
            reason = Said(T::kReasonPieceTooLong, {std::to_string(link::kPieceLength)});
        }
        ++slots_done_;
        slots_done_ms_ = link::elapsed_ms(activity_start_ms_, Now());
        last_text = slot_report.text;
        if (slot_report.result != Result::Ok) {
            r.result = slot_report.result;
            slot_json += "\"failed\",\"reason\":" + JsonQuote(Say(reason)) + "}";
            slots_json += (slots_json.empty() ? "" : ",") + slot_json;
            failure = Say(T::kRestoreSlotFailed, {std::to_string(target), reason});
            if (!options_.json && !single)
                out_ << Say(T::kSlotFailedLine, {std::to_string(target), reason}) << "\n";
            break;
        }
        ++written;
        slot_json += "\"written\"}";
        slots_json += (slots_json.empty() ? "" : ",") + slot_json;
        if (!options_.json && !single) {
            EndProgress();
            out_ << (target != s->slot ? Say(T::kSlotMovedWritten,
                                             {std::to_string(s->slot), std::to_string(target)})
                                       : Say(T::kSlotWritten, {std::to_string(s->slot)}))
                 << "\n";
            out_.flush();
        }
    }
    activity_ = Activity::None;
    if (stopped || simulator_gone) r.result = Result::Failed;
    if (single && r.result == Result::Ok) {
        // One template written: the status line says how it went.
        r.text = last_text;
    } else {
        r.text = Say(T::kRestoreSummary, {std::to_string(written), std::to_string(chosen.size()),
                                          std::to_string(skipped)});
        if (!failure.empty()) r.text += "; " + failure;
        if (stopped) r.text += "; " + Say(T::kRestoreStopped);
        if (simulator_gone) r.text += "; " + Say(T::kSimulatorEnded);
    }
    r.fields.emplace_back("slots_written", std::to_string(written));
    r.fields.emplace_back("skipped", std::to_string(skipped));
    r.fields.emplace_back("file", JsonQuote(shown));
    r.fields.emplace_back("slots", "[" + slots_json + "]");
    Emit(r);
    return r.result;
}

Result Session::Default(const std::string& name) {
    const bool factory = name == "factory-default";
    const std::string settings_before = f_.state.link.settings;
    activity_ = Activity::Default;
    activity_name_ = name;
    activity_start_ms_ = Now();
    polls_ = 0;
    reader_.on_progress = [this](const app::Progress& progress) { polls_ = progress.count; };
    Report r;
    r.operation = name;
    Call<app::Result>(r, [factory](app::Reader& reader) {
        return factory ? reader.FactoryDefault() : reader.StandAloneDefault();
    });
    reader_.on_progress = nullptr;
    activity_ = Activity::None;
    if (r.result == Result::Ok) {
        // The reader resets to its default speed, and the rest of the run follows it.
        r.lines.push_back(Say(T::kNowTalksAt, {ForTerminal(f_.state.link.settings)}));
        if (settings_before != f_.state.link.settings) r.lines.push_back(Say(T::kNextRunSweep));
    }
    r.fields.emplace_back(
        "seconds", std::to_string((link::elapsed_ms(activity_start_ms_, Now()) + 500) / 1000));
    Emit(r);
    return r.result;
}

Result Session::Execute(const Command& c, size_t index) {
    const std::string& n = c.name;
    if (n == "scan") return Scan(c.sweep);
    if (n == "info") return Info();
    if (n == "set-id") {
        const std::string id = link::Decimal(c.number, 2);
        return Simple(n, [&id](app::Reader& reader) { return reader.SetId(id); },
                      {{"id", JsonQuote(id)}});
    }
    if (n == "set-baud") {
        Report r;
        r.operation = n;
        Call<app::Result>(r, [&c](app::Reader& reader) { return reader.SetBaudRate(c.index); });
        if (r.result == Result::Ok) {
            r.lines.push_back(Say(T::kNowTalksAt, {ForTerminal(f_.state.link.settings)}));
            r.lines.push_back(Say(T::kNextRunSweep));
        }
        Emit(r);
        return r.result;
    }
    if (n == "set-mode") {
        const app::OutputMode mode{c.mode, c.wiegand, c.rs485};
        return Simple(n, [&mode](app::Reader& reader) { return reader.SetOutputMode(mode); },
                      {{"mode", ModeJson(mode)}});
    }
    if (n == "set-card-type") {
        return Simple(n, [&c](app::Reader& reader) { return reader.SetCardType(c.index); },
                      {{"card_type", JsonQuote(NameAt(kCardTypeNames, 3, c.index))}});
    }
    if (n == "set-facility") {
        return Simple(n, [&c](app::Reader& reader) { return reader.SetFacility(c.number); },
                      {{"facility", JsonQuote(link::Decimal(c.number, 5))}});
    }
    if (n == "read") return Read(c);
    if (n == "enrol" || n == "delete") {
        const bool enrol = n == "enrol";
        return Simple(n,
                      [&c, enrol](app::Reader& reader) {
                          return enrol ? reader.Enrol(c.number) : reader.Delete(c.number);
                      },
                      {{"slot", std::to_string(c.number)}});
    }
    if (n == "template-get") return Backup(c, true);
    if (n == "backup") return Backup(c, false);
    if (n == "template-put" || n == "restore") return Restore(c, index);
    if (n == "factory-default" || n == "standalone-default") return Default(n);
    if (n == "standalone-mode")
        return Simple(n, [](app::Reader& reader) { return reader.StandAloneMode(); });
    if (n == "door-time" || n == "alarm-time") {
        const std::string value = link::Decimal(c.number, 4);
        const bool door = n == "door-time";
        return Simple(n,
                      [&value, door](app::Reader& reader) {
                          return door ? reader.SetDoorTime(value) : reader.SetAlarmTime(value);
                      },
                      {{"seconds", std::to_string(c.number)}});
    }
    if (n == "master-card")
        return Simple(n, [](app::Reader& reader) { return reader.SetMasterCard(); });
    if (n == "duress-card")
        return Simple(n, [](app::Reader& reader) { return reader.SetDuressCard(); });
    if (n == "clear-card")
        return Simple(n, [](app::Reader& reader) { return reader.SetClearCard(); });
    if (n == "raw") {
        const app::Bytes text = *Utf8ToLatin1(c.text);
        Report r;
        r.operation = n;
        const app::RawResult result = Call<app::RawResult>(
            r, [&text](app::Reader& reader) { return reader.RawCommand(text); });
        r.fields.emplace_back("answer", r.result == Result::Ok ? JsonBytes(result.answer) : "null");
        if (r.result == Result::Ok) r.lines.push_back(app::TextOfBytes(result.answer));
        Emit(r);
        return r.result;
    }
    Report r;
    r.operation = n;
    r.text = Say(T::kUnknownCommand, {n});
    Emit(r);
    return Result::Failed;
}

int Session::Run(const std::vector<Command>& commands) {
    // Everything that can be checked without the reader is checked before
    // the first frame goes out; a call that cannot succeed sends nothing.
    CallCheck check = CheckCall(commands);
    if (check.refusal) {
        const std::string text = Say(T::kNothingSent, {*check.refusal});
        for (size_t i = 0; i < commands.size(); ++i) {
            Report r;
            r.operation = commands[i].name;
            r.result = Result::NotRun;
            r.text = i == check.command ? text : Say(T::kNotRunRefused);
            Emit(r);
        }
        Note(text);
        return kExitUsage;
    }
    files_ = std::move(check.files);
    stops_seen_ = *options_.stop_requests;

    const auto status_of = [](Result r) {
        return r == Result::Ok ? kExitOk : r == Result::NotFound ? kExitNotFound : kExitFailed;
    };
    if (commands.empty() || commands.front().name != "scan") {
        const Result r = Scan(false);
        if (r != Result::Ok) {
            NotRun(commands, 0, Said(T::kNotRunAfterFailure, {"scan"}),
                   Said(T::kNotRunAfter, {"scan"}));
            return status_of(r);
        }
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        if (StopRequested()) {
            NotRun(commands, i, Said(T::kNotRunStopped), Said(T::kStoppedNotRun));
            EndProgress();
            return kExitFailed;
        }
        if (ReaderGone()) {
            NotRun(commands, i, Said(T::kNotRunSimulator), Said(T::kSimulatorEnded));
            return kExitFailed;
        }
        const Result r = Execute(commands[i], i);
        if (r != Result::Ok) {
            if (ReaderGone()) Note(Say(T::kSimulatorEnded));
            NotRun(commands, i + 1, Said(T::kNotRunAfterFailure, {commands[i].name}),
                   Said(T::kNotRunAfter, {commands[i].name}));
            EndProgress();
            return status_of(r);
        }
        // A live reading ends normally by the stop request.
        if (commands[i].name == "read" && StopRequested() && i + 1 == commands.size()) break;
    }
    EndProgress();
    return kExitOk;
}

}  // namespace torvik::cli

// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <cstdio>

#include "app/text.h"
#include "cli/text.h"
#include "link/protocol.h"

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

std::string Seconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u s", (ms + 500) / 1000);
    return text;
}

}  // namespace

Session::Session(app::TfrmModule& form, std::ostream& out, std::ostream& err,
                 SessionOptions options)
    : f_(form), reader_(*form.reader()), out_(out), err_(err), options_(std::move(options)) {
    static const volatile std::sig_atomic_t kNever = 0;
    if (!options_.stop_requests) options_.stop_requests = &kNever;
    if (!options_.errors_shown) options_.errors_shown = [] { return 0; };
}

// ---------------------------------------------------------------- reports

std::string Session::Render(const app::Message& text) const {
    return WithoutMnemonic(text.Render(f_.state.language));
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
        if (report.text.empty()) report.text = report.operation + ": ended by an error";
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
    const app::ReaderInfo& info = *scan_->reader;
    const app::LinkSettings& link = scan_->link;
    r.fields.emplace_back("serial", JsonQuote(info.serial));
    r.fields.emplace_back("version", JsonQuote(info.version));
    r.fields.emplace_back("id", JsonQuote(info.id));
    r.fields.emplace_back("mode", ModeJson(info.mode));
    r.fields.emplace_back("port", std::to_string(link.port));
    r.fields.emplace_back("settings", JsonQuote(link.settings));
    r.lines.push_back(Render(app::Message::Row(29)) + " : " + info.serial);
    r.lines.push_back(Render(app::Message::Row(31)) + " : " + info.version);
    r.lines.push_back(Render(app::Message::Row(4).add_text(":")) + " " + info.id);
    r.lines.push_back(std::string(app::ItemText(app::kModeItems, info.mode.interface)) + " / " +
                      app::ItemText(app::kWiegandItems, info.mode.wiegand) + " / " +
                      app::ItemText(app::kRs485Items, info.mode.rs485));
    r.lines.push_back("COM" + std::to_string(link.port) + " " + link.settings);
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

void Session::Poll() {
    if (StopRequested() && !stop_noted_ && activity_ != Activity::Reading) {
        stop_noted_ = true;
        Note(activity_ == Activity::Backup
                 ? "stopping after this slot (Ctrl+C again to end at once)"
                 : "stopping after this operation (Ctrl+C again to end at once)");
    }
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
        ShowProgress(activity_name_ + ": " + std::to_string(polls_) + " polls, " +
                     Seconds(elapsed) + " (usually 10 to 50 s, at most about 200 s)");
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
    const uint32_t now = Now();
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

Result Session::Scan(bool sweep) {
    Report r;
    r.operation = "scan";
    scan_ = Call<app::ScanResult>(r, [sweep](app::Reader& reader) { return reader.Scan(sweep); });
    if (scan_->succeeded()) AddReaderFields(r);
    Emit(r);
    return r.result;
}

Result Session::Info() {
    Report r;
    r.operation = "info";
    const bool found = f_.state.reader_found && scan_ && scan_->succeeded();
    r.result = found ? Result::Ok : Result::NotFound;
    r.text = scan_ ? Render(scan_->text) : Render(app::Message::Row(2));
    if (found) AddReaderFields(r);
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
        r.text = std::to_string(readings_) + (readings_ == 1 ? " reading" : " readings");
    std::string cards = "[";
    for (size_t i = 0; i < reading_lines_.size(); ++i)
        cards += (i ? "," : "") + JsonQuote(reading_lines_[i]);
    r.fields.emplace_back("cards", cards + "]");
    Emit(r);
    return r.result;
}

Result Session::StandAlone(const std::string& operation,
                           const std::function<app::Result(app::Reader&)>& call) {
    // The stand-alone settings exist only while the reader is in
    // stand-alone mode (the window shows their buttons only then).
    if (!f_.state.stand_alone) {
        Report r;
        r.operation = operation;
        r.result = Result::Failed;
        r.text = operation + ": not available now (standalone-mode first)";
        Emit(r);
        return r.result;
    }
    return Simple(operation, call);
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

    activity_ = Activity::Backup;
    activity_name_ = operation;
    activity_start_ms_ = Now();
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
        TemplateSlot entry;
        entry.slot = slot;
        slot_report = Report{};
        slot_report.operation = operation;
        const app::TemplateResult read = Call<app::TemplateResult>(
            slot_report, [slot](app::Reader& reader) { return reader.ReadTemplate(slot); });
        const Result r = slot_report.result;
        if (r == Result::NotFound) {
            worst = Result::NotFound;
            gone = true;
            break;
        }
        if (r == Result::Ok) {
            consecutive_failures = 0;
            entry.pieces.assign(read.pieces.begin(), read.pieces.end());
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
            r.text += (r.text.empty() ? "" : "; ") + ForTerminal(error);
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
            r.text += " into " + ForTerminal(c.file);
        } else {
            r.result = Result::Failed;
            r.text += "; " + ForTerminal(error);
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
    activity_start_ms_ = Now();
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
        app::TemplatePieces pieces;
        bool fits = s->pieces.size() == pieces.size();
        for (size_t p = 0; fits && p < pieces.size(); ++p) {
            pieces[p] = s->pieces[p];
            fits = pieces[p].size() <= static_cast<size_t>(link::kPieceLength);
            if (app::Trim(pieces[p]) != pieces[p])
                Note("slot " + std::to_string(s->slot) + " piece " + std::to_string(p + 1) +
                     " begins or ends with a blank or control character; the reader receives it "
                     "without them");
        }
        Report slot_report;
        slot_report.operation = operation;
        if (fits) {
            Call<app::Result>(slot_report, [target, &pieces](app::Reader& reader) {
                return reader.WriteTemplate(target, pieces);
            });
        } else {
            slot_report.result = Result::Failed;
            slot_report.text =
                "a piece is longer than " + std::to_string(link::kPieceLength) + " characters";
        }
        ++slots_done_;
        if (slot_report.result != Result::Ok) {
            r.result = slot_report.result;
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
        const std::string id = link::Decimal(c.number, 2);
        return Simple(n, [&id](app::Reader& reader) { return reader.SetId(id); },
                      {{"id", JsonQuote(id)}});
    }
    if (n == "set-baud") {
        Report r;
        r.operation = n;
        const app::Result result =
            Call<app::Result>(r, [&c](app::Reader& reader) { return reader.SetBaudRate(c.index); });
        r.fields.emplace_back("settings", JsonQuote(result.link.settings));
        if (r.result == Result::Ok)
            r.lines.push_back("the next run finds the reader with: torvikctl scan --sweep");
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
    if (n == "template-put" || n == "restore") {
        const size_t at = static_cast<size_t>(&c - commands_base_);
        return Restore(c, *file_of_[at], n == "template-put");
    }
    if (n == "factory-default" || n == "standalone-default") {
        const bool factory = n == "factory-default";
        activity_ = Activity::Default;
        activity_name_ = n;
        activity_start_ms_ = Now();
        polls_ = 0;
        reader_.on_progress = [this](const app::Progress& progress) { polls_ = progress.count; };
        Report r;
        r.operation = n;
        Call<app::Result>(r, [factory](app::Reader& reader) {
            return factory ? reader.FactoryDefault() : reader.StandAloneDefault();
        });
        reader_.on_progress = nullptr;
        activity_ = Activity::None;
        r.fields.emplace_back(
            "seconds", std::to_string((link::elapsed_ms(activity_start_ms_, Now()) + 500) / 1000));
        Emit(r);
        return r.result;
    }
    if (n == "standalone-mode")
        return Simple(n, [](app::Reader& reader) { return reader.StandAloneMode(); });
    if (n == "door-time" || n == "alarm-time") {
        const std::string value = link::Decimal(c.number, 4);
        const bool door = n == "door-time";
        return StandAlone(n, [&value, door](app::Reader& reader) {
            return door ? reader.SetDoorTime(value) : reader.SetAlarmTime(value);
        });
    }
    if (n == "master-card")
        return StandAlone(n, [](app::Reader& reader) { return reader.SetMasterCard(); });
    if (n == "duress-card")
        return StandAlone(n, [](app::Reader& reader) { return reader.SetDuressCard(); });
    if (n == "clear-card")
        return StandAlone(n, [](app::Reader& reader) { return reader.SetClearCard(); });
    if (n == "raw") {
        const app::Bytes text = *Utf8ToLatin1(c.text);
        Report r;
        r.operation = n;
        const app::RawResult result = Call<app::RawResult>(
            r, [&text](app::Reader& reader) { return reader.RawCommand(text); });
        if (r.result == Result::Ok) {
            r.fields.emplace_back("answer", JsonBytes(result.answer));
            r.lines.push_back(app::TextOfBytes(result.answer));
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
            if (!bytes || bytes->size() > static_cast<size_t>(app::kRawCommandMaxLength)) {
                err_ << "torvikctl: raw: the text must be at most " << app::kRawCommandMaxLength
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

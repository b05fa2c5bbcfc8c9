// SPDX-License-Identifier: MIT
// A run of torvikctl's commands over the reader interface (app/reader.h):
// every command is one call with typed arguments, and what is printed comes
// from the typed result. The window model is the reader's view, as in the
// window, so every operation shows and times the same; torvikctl adds only
// what a terminal and a script need: the whole call checked before anything
// is sent, the order of the commands, template files kept safe on every way
// out, a progress line, the stop request, and one JSON object per command.
//
// The JSON objects (docs/torvikctl.schema.json), one line each, in the
// order of the commands (the scan that runs first when the call does not
// begin with one included), each with:
//   "schema": 1, "run": 16 hex digits (the same for every object of a
//   call), "time": "YYYY-MM-DDTHH:MM:SSZ" (UTC, when it was written),
//   "operation", "outcome": "ok" | "failed" | "not-found" | "not-run",
//   "text" (the status line's text in the language chosen; for what is
//   torvikctl's own, such as a backup's summary, its own text), "port"
//   (the COM number in force, 0 for none), "device" (its device, or null),
//   "settings" (the link settings in force), "serial" (the reader's serial
//   number, null until a scan found it),
// and the fields of its command. A command that did not run (after one
// that failed, after a stop, or in a call refused before anything was sent)
// gets an object with the common fields and "outcome": "not-run".
#pragma once
#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/reader.h"
#include "app/window_model.h"
#include "cli/command_line.h"
#include "cli/template_file.h"
#include "cli/texts.h"
#include "link/com_map.h"

namespace torvik::cli {

enum class Result { Ok, Failed, NotFound, NotRun };

inline constexpr int kJsonSchemaVersion = 1;

struct SessionOptions {
    bool json = false;
    bool progress = false;  // stderr is a terminal
    // Number of stop requests so far (Ctrl+C); never null.
    const volatile std::sig_atomic_t* stop_requests = nullptr;
    // Number of errors the error box has shown so far.
    std::function<int()> errors_shown;
    // The device a COM number leads to ("" for none), for the objects.
    std::function<std::string(int)> device_of;
    // True once the reader cannot be there any more (the simulated reader
    // has ended): the run stops instead of opening its terminal again.
    std::function<bool()> reader_gone;
    // Where the account of a scan that found no reader comes from; without
    // one, no account is written (the trace carries it).
    const link::ComMap* account_map = nullptr;
    // The run's id; made up when empty.
    std::string run_id;
};

class Session {
  public:
    // The form must have its reader (ops::BindOperations).
    Session(app::TfrmModule& form, std::ostream& out, std::ostream& err, SessionOptions options);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Checks the whole call, then runs the commands (a scan first unless
    // the first is scan) and returns the exit status.
    int Run(const std::vector<Command>& commands);

    // For the event pump: the stop request of a live reading, readings as
    // lines, the progress line.
    void Poll();
    // Says that the stop request was taken, once; for the clock, which
    // calls it at every wait and when a signal arrives during one.
    void NoteStop();

    const std::string& run_id() const { return options_.run_id; }

  private:
    struct Report {
        std::string operation;
        Result result = Result::Failed;
        std::string text;                                         // UTF-8
        std::vector<std::pair<std::string, std::string>> fields;  // name, JSON value
        std::vector<std::string> lines;                           // further terminal lines
    };

    Result Execute(const Command& c, size_t index);
    Result Scan(bool sweep);
    Result Info();
    Result Read(const Command& c);
    Result Backup(const Command& c, bool single);
    Result Restore(const Command& c, size_t index);
    Result Default(const std::string& name);
    // Runs one call of the reader as the window runs a handler (an error
    // that escapes it puts the window back to idle) and fills the report's
    // outcome and text from its result.
    template <class R>
    R Call(Report& report, const std::function<R(app::Reader&)>& call);
    // A report of one plain operation.
    Result Simple(const std::string& operation,
                  const std::function<app::Result(app::Reader&)>& call,
                  std::vector<std::pair<std::string, std::string>> fields = {});
    // Objects of the commands from `from` on that did not run, with the
    // note that says so.
    void NotRun(const std::vector<Command>& commands, size_t from, const Said& why,
                const Said& note);

    void Emit(const Report& report);
    std::string Render(const app::Message& text) const;
    std::string Say(T key, const std::vector<SaidValue>& values = {}) const;
    std::string Say(const Said& said) const;
    int language() const { return f_.state.language; }
    void AddReaderFields(Report& report) const;
    void WriteScanAccount(const app::ScanResult& scan, bool sweep);
    bool StopRequested() const { return *options_.stop_requests > stops_seen_; }
    bool ReaderGone() const { return options_.reader_gone && options_.reader_gone(); }
    void ShowProgress(const std::string& text, bool force = false);
    void EndProgress();
    void Note(const std::string& text);
    uint32_t Now() const { return f_.svc.clock.now_ms(); }
    // Why a template read or write of one slot failed.
    Said SlotReason(const app::Result& result, unsigned openings_before, int errors_before,
                    int pieces_read, bool write) const;
    // The estimated time of one slot before any has been measured.
    uint32_t SlotEstimateMs(bool write) const;

    app::TfrmModule& f_;
    app::Reader& reader_;
    std::ostream& out_;
    std::ostream& err_;
    SessionOptions options_;
    int stops_seen_ = 0;
    bool stop_noted_ = false;
    std::vector<std::optional<TemplateFile>> files_;  // by command, from the call's check
    // The reader as the last scan found it.
    std::optional<app::ScanResult> scan_;

    // The operation in progress, for the progress line and the stop note.
    enum class Activity { None, Default, Backup, Restore, Reading } activity_ = Activity::None;
    std::string activity_name_;
    std::string incomplete_path_;  // where a backup keeps its slots meanwhile
    uint32_t activity_start_ms_ = 0;
    uint32_t last_progress_ms_ = 0;
    bool progress_shown_ = false;
    int polls_ = 0;
    int slots_done_ = 0, slots_total_ = 0, current_slot_ = 0;
    uint32_t slots_done_ms_ = 0;  // time from the start to the end of the last slot done

    // Live reading.
    bool stop_asked_ = false;
    long readings_ = 0;
    std::optional<long> reading_count_;
    std::optional<double> reading_seconds_;
    std::vector<std::string> reading_lines_;
};

}  // namespace torvik::cli

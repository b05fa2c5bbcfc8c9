// SPDX-License-Identifier: MIT
// A run of torvikctl's commands over the reader interface (app/reader.h):
// every command is one call with typed arguments, and what is printed comes
// from the typed result. The window model is the reader's view, as in the
// window, so every operation shows and times the same; torvikctl adds only
// what a terminal needs: the order of the commands, files, a progress line
// and the stop request of a live reading.
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

namespace torvik::cli {

enum class Result { Ok, Failed, NotFound };

struct SessionOptions {
    bool json = false;
    bool progress = false;  // stderr is a terminal
    // Number of stop requests so far (Ctrl+C); never null.
    const volatile std::sig_atomic_t* stop_requests = nullptr;
    // Number of errors the error box has shown so far.
    std::function<int()> errors_shown;
};

class Session {
  public:
    // The form must have its reader (ops::BindOperations).
    Session(app::TfrmModule& form, std::ostream& out, std::ostream& err, SessionOptions options);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs the commands (a scan first unless the first is scan) and returns
    // the exit status. Files to be read are checked before anything is sent.
    int Run(const std::vector<Command>& commands);

    // For the event pump: the stop request of a live reading, readings as
    // lines, the progress line.
    void Poll();

  private:
    struct Report {
        std::string operation;
        Result result = Result::Failed;
        std::string text;                                         // UTF-8
        std::vector<std::pair<std::string, std::string>> fields;  // name, JSON value
        std::vector<std::string> lines;                           // extra text lines (UTF-8)
    };

    Result Execute(const Command& c);
    Result Scan(bool sweep);
    Result Info();
    Result Read(const Command& c);
    Result Backup(const Command& c, bool single);
    Result Restore(const Command& c, const TemplateFile& file, bool single);
    Result StandAlone(const std::string& operation,
                      const std::function<app::Result(app::Reader&)>& call);
    // Runs one call of the reader as the window runs a handler (an error
    // that escapes it puts the window back to idle) and fills the report's
    // outcome and text from its result.
    template <class R>
    R Call(Report& report, const std::function<R(app::Reader&)>& call);
    // A report of one plain operation.
    Result Simple(const std::string& operation,
                  const std::function<app::Result(app::Reader&)>& call,
                  std::vector<std::pair<std::string, std::string>> fields = {});

    void Emit(const Report& report);
    std::string Render(const app::Message& text) const;
    void AddReaderFields(Report& report) const;
    bool StopRequested() const { return *options_.stop_requests > stops_seen_; }
    void ShowProgress(const std::string& text, bool force = false);
    void EndProgress();
    void Note(const std::string& text);
    uint32_t Now() const { return f_.svc.clock.now_ms(); }

    app::TfrmModule& f_;
    app::Reader& reader_;
    std::ostream& out_;
    std::ostream& err_;
    SessionOptions options_;
    int stops_seen_ = 0;
    bool stop_noted_ = false;
    std::vector<TemplateFile> files_;  // loaded before the run, by command position
    std::vector<const TemplateFile*> file_of_;
    const Command* commands_base_ = nullptr;
    // The reader as the last scan found it.
    std::optional<app::ScanResult> scan_;

    // The operation in progress, for the progress line.
    enum class Activity { None, Default, Backup, Reading } activity_ = Activity::None;
    std::string activity_name_;
    uint32_t activity_start_ms_ = 0;
    uint32_t last_progress_ms_ = 0;
    bool progress_shown_ = false;
    int polls_ = 0;
    int slots_done_ = 0, slots_total_ = 0, current_slot_ = 0;

    // Live reading.
    bool stop_asked_ = false;
    long readings_ = 0;
    std::optional<long> reading_count_;
    std::optional<double> reading_seconds_;
    std::vector<std::string> reading_lines_;
};

}  // namespace torvik::cli

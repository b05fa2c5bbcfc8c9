// SPDX-License-Identifier: MIT
// Start-up pieces both front ends share (the window and torvikctl): the
// common command-line options, the simulated reader as a child process on a
// pseudo-terminal, the throw-away settings directory it comes with, and the
// wire trace. Nothing here knows a windowing toolkit.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/file_settings_store.h"
#include "app/window_model.h"
#include "link/com_map.h"
#include "link/posix_serial.h"

namespace torvik::app {

// The options every front end takes.
struct StartOptions {
    bool simulate = false;
    std::string settings_path;  // empty: the per-machine file (a temporary one with --simulate)
    bool trace = false;
    std::string trace_file;   // with --trace=FILE; empty: stderr
    bool list_ports = false;  // --list-ports: print the COM map and end
    // --rs485, --rs485-delays BEFORE,AFTER, --low-latency
    link::LineOptions line;
};

// The help lines of the shared options, for a front end's --help.
extern const char* const kSharedOptionsHelp;

enum class OptionParse {
    kTaken,      // argv[i] (and its value, i advanced past it) was a shared option
    kNotShared,  // not one of ours: the front end looks at it
    kError,      // one of ours with a missing or bad value; `error` says what
};

// Looks at argv[i]: --simulate, --settings FILE, --port COMn=PATH,
// --trace, --trace=FILE, --rs485, --rs485-delays BEFORE,AFTER, --low-latency.
OptionParse ParseSharedOption(int argc, char** argv, int& i, StartOptions& options,
                              link::ComMap& map, std::string& error);

// --list-ports: prints the COM map (link/com_map.h) with the numbers kept
// beside the settings file, and gives the exit code.
int ListPorts(const StartOptions& options, link::ComMap& map, FILE* out);

// The directory of the running program (torvik-sim is installed beside it).
std::string OwnDirectory();

// A directory of our own below $TMPDIR (or /tmp), removed with what it holds
// when this object goes.
class TemporaryDirectory {
  public:
    // Throws std::runtime_error when it cannot be made.
    explicit TemporaryDirectory(const std::string& prefix);
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// torvik-sim as a child process: it prints the pseudo-terminal it serves on
// its first line. It runs in a process group of its own, so that Ctrl+C in
// the terminal reaches only the tool, which ends it; ended when this
// object goes, and by the kernel should this process die first.
class SimulatedReader {
  public:
    SimulatedReader() = default;
    ~SimulatedReader() { Stop(); }
    SimulatedReader(const SimulatedReader&) = delete;
    SimulatedReader& operator=(const SimulatedReader&) = delete;

    // Starts `program` with the arguments and returns its terminal's path.
    // Throws std::runtime_error when it does not start or report within 5 s.
    std::string Start(const std::string& program, const std::vector<std::string>& args);
    // Ends it (SIGTERM, then SIGKILL after 2 s); harmless when not running.
    void Stop();
    pid_t pid() const { return pid_; }
    // False once it has ended by itself (or was never started).
    bool Running();

  private:
    pid_t pid_ = -1;
    int out_ = -1;  // its standard output, kept open so that later lines never fail
};

// What a front end needs prepared from the shared options before the window
// model is built: with --simulate the simulated reader runs and is pinned to
// COM1, and unless --settings was given the settings live in a temporary
// directory; otherwise nothing is started and no file is made.
class Launch {
  public:
    // Throws std::runtime_error with a text for the technician.
    Launch(const StartOptions& options, link::ComMap& map,
           const std::vector<std::string>& simulator_args);
    const std::string& settings_path() const { return settings_path_; }
    // The simulated reader's process (-1 without --simulate).
    pid_t simulator_pid() const { return simulator_.pid(); }
    // With --simulate: true once the simulated reader has ended.
    bool simulator_ended() { return simulate_ && !simulator_.Running(); }
    // The temporary directory (empty when none was made).
    std::string temporary_directory() const { return temp_ ? temp_->path() : std::string(); }

  private:
    SimulatedReader simulator_;
    bool simulate_ = false;
    std::optional<TemporaryDirectory> temp_;
    std::string settings_path_;
};

// The wire trace: one line per frame with milliseconds since start,
// direction, the bytes in hex and their printable characters, a refused or
// cut-off reply ('?') followed by its reason; each opening of a port (COM
// number, device, by-id name, settings, or why it failed) and each closing
// before and after the frames sent through it; free lines (the COM map at
// the start, the scan's account) in between. To stderr, or appended to a
// file that starts each run with the date and the tool's version. Every
// line is made safe for a terminal (link/terminal_text.h): device names,
// process names and failures come from outside.
//
// The file is opened without following a link and without waiting: a
// regular file is appended to; a FIFO that a program reads, or a character
// device (another terminal), is written without blocking, so that a reader
// that stops reading costs a line at most a second and the tool goes on
// (lines that could not go out are counted, and the count is written once
// it can be). A link, a FIFO nobody reads, a directory, a socket and a
// block device are refused.
class WireTrace {
  public:
    // Throws std::runtime_error, saying why, when the file cannot be opened.
    explicit WireTrace(const std::string& path);
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // Every frame the model's link sends or receives, and every opening and
    // closing of its port, goes to the trace; with the COM map, the map
    // is written first and openings name the adapter's by-id name.
    void Attach(TfrmModule& form, const link::ComMap* map = nullptr);
    void Line(const std::string& text);

  private:
    bool Write(const std::string& text);

    int fd_ = 2;  // stderr
    bool own_ = false;
    bool stalled_ = false;  // the last line could not go out in time
    long long lost_ = 0;    // lines not written since
};

// One trace line for a frame (without the newline), or for a note of the
// exchange (direction '!', the note as it is); the clock is the
// milliseconds since the trace began.
std::string FormatFrameLine(long long ms, char direction, std::string_view bytes);

// One trace line for an opening or closing of a port:
//   "      812 ms open COM3 = /dev/ttyUSB0 (by-id /dev/serial/by-id/...) at 19200,e,8,1"
//   "      812 ms open COM4 failed: COM4: no such device"
//   "     1230 ms close COM3"
//   "      812 ms open COM3 = /dev/pts/5 at 19200,e,8,1 (the port's exclusive ...)"
// (the last with what the opening did beyond the usual, `note`).
std::string FormatPortLine(long long ms, const link::PortEvent& event, const std::string& device,
                           const std::string& by_id, const std::string& failure,
                           const std::string& note = {});

// What a front end brings to the start-up: its clock, how it handles window
// events, its cursor and error box, and whether the outcome beeps sound.
struct FrontEnd {
    link::Clock& clock;
    link::EventPump& pump;
    BusyCursor& cursor;
    ErrorBox& errors;
    bool sound = true;  // false: beeps are silent but take their time
};

// The start-up both programs share, in this order: the shared options
// prepared (the simulated reader started, the throw-away settings), the
// wire trace opened, the serial device, the beeper and the settings store
// made, the window model built and given its reader, the trace attached.
// Create() then runs the window's creation and installs the technician's
// quiet channel. A third front end builds one of these too.
class Assembly {
  public:
    // `attach_reader` gives the model its reader (the operations layer's
    // BindOperations). Throws std::runtime_error with a text for the
    // technician when the simulated reader, the trace file or the
    // temporary directory cannot be had.
    Assembly(const StartOptions& options, link::ComMap& map, FrontEnd front,
             const std::function<void(TfrmModule&)>& attach_reader,
             const std::vector<std::string>& simulator_args);
    Assembly(const Assembly&) = delete;
    Assembly& operator=(const Assembly&) = delete;

    TfrmModule& form() { return form_; }
    WireTrace* trace() { return trace_.get(); }
    // With --simulate: true once the simulated reader has ended.
    bool simulator_ended() { return launch_.simulator_ended(); }
    FileSettingsStore& store() { return store_; }

    // FormCreate, then the quiet channel: each scan's account goes to the
    // trace when there is one, else to `account` (when given).
    void Create(std::function<void(const std::string&)> account = {});

  private:
    link::ComMap& map_;
    Launch launch_;
    std::unique_ptr<WireTrace> trace_;
    link::PosixSerialDevice serial_;
    std::unique_ptr<Beeper> beeper_;
    FileSettingsStore store_;
    TfrmModule form_;
};

}  // namespace torvik::app

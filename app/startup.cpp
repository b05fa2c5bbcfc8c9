// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "app/diagnostics.h"
#include "app/file_settings_store.h"
#include "link/exit_cleanup.h"
#include "link/file_io.h"
#include "link/protocol.h"
#include "link/terminal_text.h"

namespace torvik::app {

const char* const kSharedOptionsHelp =
    "  --simulate         run against the simulated reader (torvik-sim) on COM1,\n"
    "                     with settings kept in a temporary file\n"
    "  --settings FILE    settings file (default /var/lib/torvik-config/settings.reg)\n"
    "  --port COMn=PATH   use PATH as COMn (n from 1 to 16); may be given more than once\n"
    "  --trace[=FILE]     print every frame on stderr, or append it to FILE\n"
    "  --list-ports       print the COM numbers and the serial devices, then end\n"
    "  --rs485            put a board's UART into the kernel's RS-485 mode (the driver\n"
    "                     switches the direction with RTS); USB adapters do it themselves\n"
    "  --rs485-delays B,A RS-485 mode, RTS raised B ms before sending and dropped A ms after\n"
    "  --low-latency      ask a USB adapter to pass received bytes on at once\n";

OptionParse ParseSharedOption(int argc, char** argv, int& i, StartOptions& options,
                              link::ComMap& map, std::string& error) {
    const std::string_view arg = argv[i];
    if (arg == "--simulate") {
        options.simulate = true;
        return OptionParse::kTaken;
    }
    if (arg == "--trace") {
        options.trace = true;
        return OptionParse::kTaken;
    }
    if (arg == "--list-ports") {
        options.list_ports = true;
        return OptionParse::kTaken;
    }
    if (arg == "--rs485") {
        options.line.rs485 = true;
        return OptionParse::kTaken;
    }
    if (arg == "--low-latency") {
        options.line.low_latency = true;
        return OptionParse::kTaken;
    }
    if (arg == "--rs485-delays") {
        const auto delays = i + 1 < argc ? link::ParseRs485Delays(argv[i + 1]) : std::nullopt;
        if (!delays) {
            error = "--rs485-delays needs BEFORE,AFTER in milliseconds (0 to 1000 each)";
            return OptionParse::kError;
        }
        ++i;
        options.line.rs485 = true;
        options.line.rs485_delay_before_ms = delays->first;
        options.line.rs485_delay_after_ms = delays->second;
        return OptionParse::kTaken;
    }
    if (arg.starts_with("--trace=")) {
        options.trace = true;
        options.trace_file = std::string(arg.substr(8));
        if (options.trace_file.empty()) {
            error = "--trace= needs a file name";
            return OptionParse::kError;
        }
        return OptionParse::kTaken;
    }
    if (arg != "--settings" && arg != "--port") return OptionParse::kNotShared;
    if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return OptionParse::kError;
    }
    const char* value = argv[++i];
    if (arg == "--settings") {
        if (*value == '\0') {
            error = "--settings needs a file name";
            return OptionParse::kError;
        }
        options.settings_path = value;
    } else if (std::string why; !map.add_override(value, &why)) {
        // A console or a login terminal is refused with what the system uses it for.
        error = link::ComMap::pin_well_formed(value)
                    ? "--port " + link::TerminalSafe(value) + " refused: " + link::TerminalSafe(why)
                    : "bad --port value " + link::TerminalSafe(value) +
                          " (expected COMn=PATH, n from 1 to 16)";
        return OptionParse::kError;
    }
    return OptionParse::kTaken;
}

int ListPorts(const StartOptions& options, link::ComMap& map, FILE* out) {
    const std::string settings =
        options.settings_path.empty() ? kDefaultSettingsPath : options.settings_path;
    map.set_number_file(link::ComNumberPathBeside(settings));
    // Names from USB adapters and the number file: made safe for a terminal.
    const std::string text = link::TerminalSafe(link::FormatPortList(map));
    std::fputs(text.c_str(), out);
    return std::fflush(out) == 0 ? 0 : 1;
}

std::string OwnDirectory() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string text(path);
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

// ---- temporary directory ----

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp != nullptr && *tmp == '/') ? tmp : "/tmp";
    pattern += "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("No temporary directory for the settings: " +
                                 std::string(std::strerror(errno)));
    }
    path_ = pattern;
    link::RegisterTempPath(path_, true);  // removed on a kill too
}

TemporaryDirectory::~TemporaryDirectory() {
    // Only plain files are ever made in it (the settings and the saves'
    // temporary files), so one level is enough.
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            ::unlink(file(std::string(name)).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
    link::ClearTempPath(path_);
}

// ---- simulated reader ----

std::string SimulatedReader::Start(const std::string& program,
                                   const std::vector<std::string>& args) {
    if (::access(program.c_str(), X_OK) != 0) {
        throw std::runtime_error("The simulated reader was not found: " + program);
    }
    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls are made.
    std::vector<std::string> owned;
    owned.push_back(program);
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("The simulated reader did not start: " +
                                 std::string(std::strerror(errno)));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        throw std::runtime_error("The simulated reader did not start: " +
                                 std::string(std::strerror(error)));
    }
    if (pid == 0) {
        // A process group of its own: the terminal's Ctrl+C goes to the
        // tool's group only, and the tool ends the reader when it is done.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);  // the parent is gone already
        ::dup2(pipe_fds[1], STDOUT_FILENO);     // dup2 clears close-on-exec on the copy
        // Outside the terminal's foreground group, a read of the terminal
        // would stop it; it reads nothing of it.
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDIN_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    ::setpgid(pid, pid);  // as the child does, whichever runs first
    pid_ = pid;
    out_ = pipe_fds[0];
    link::RegisterChild(pid_);  // ended on a kill too

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd pfd{out_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char c = 0;
        const ssize_t got = ::read(out_, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1) break;  // it ended
        if (c == '\n') {
            if (line.empty() || line.front() != '/') break;
            return line;
        }
        if (line.size() < 4096) line.push_back(c);
    }
    Stop();
    throw std::runtime_error("The simulated reader did not report its terminal.");
}

bool SimulatedReader::Running() {
    if (pid_ <= 0) return false;
    const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
    if (r == 0) return true;
    if (r < 0 && errno != ECHILD) return true;
    // Ended by itself: nothing is left to stop.
    link::ClearChild(pid_);
    pid_ = -1;
    return false;
}

void SimulatedReader::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        bool ended = false;
        for (int waited = 0; waited < 200; ++waited) {
            const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
            if (r == pid_ || (r < 0 && errno == ECHILD)) {
                ended = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        link::ClearChild(pid_);
        pid_ = -1;
    }
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

// ---- launch ----

Launch::Launch(const StartOptions& options, link::ComMap& map,
               const std::vector<std::string>& simulator_args) {
    settings_path_ = options.settings_path;
    simulate_ = options.simulate;
    if (options.simulate) {
        const std::string pty = simulator_.Start(OwnDirectory() + "/torvik-sim", simulator_args);
        if (!map.add_override("COM1=" + pty)) {
            throw std::runtime_error("The simulated reader reported no terminal.");
        }
        if (settings_path_.empty()) {
            temp_.emplace("torvik-config");
            settings_path_ = temp_->file("settings.reg");
        }
    }
    if (settings_path_.empty()) settings_path_ = kDefaultSettingsPath;
    // Each device keeps its COM number in a file beside the settings.
    map.set_number_file(link::ComNumberPathBeside(settings_path_));
}

// ---- wire trace ----

std::string FormatFrameLine(long long ms, char direction, std::string_view bytes) {
    char head[32];
    std::snprintf(head, sizeof head, "%9lld ms %c ", ms, direction);
    // A note of the exchange is words of its own, not bytes of the line.
    if (direction == '!') return head + std::string(bytes);
    const std::string hex = link::HexPairs(bytes);
    std::string text;
    for (unsigned char c : bytes)
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
    return head + hex + "  |" + text + "|";
}

namespace {

// How long one trace line may wait for a FIFO's or a terminal's reader.
constexpr int kTraceWaitMs = 1000;

// Opens the trace file for appending, as the class comment says; throws
// with the reason.
int OpenTraceFile(const std::string& path) {
    const auto refuse = [&path](const std::string& why) {
        return std::runtime_error("The trace file " + link::TerminalSafe(path) +
                                  " cannot be used: " + why);
    };
    const link::Fd dir = link::OpenDirectoryOf(path);
    const std::string name = link::BaseNameOf(path);
    if (!dir.valid()) throw refuse(std::strerror(errno));
    if (name.empty()) throw refuse("it is a directory");
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
        !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
        throw refuse("it " + link::KindOf(st.st_mode) +
                     (S_ISLNK(st.st_mode) ? " (name the file it leads to)" : ""));
    }
    const int fd = ::openat(
        dir.get(), name.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error == ENXIO) throw refuse("it is a FIFO that no program reads");
        if (error == ELOOP) throw refuse("it is a symbolic link (name the file it leads to)");
        throw refuse(std::strerror(error));
    }
    if (::fstat(fd, &st) != 0 ||
        (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))) {
        ::close(fd);
        throw refuse("it " + link::KindOf(st.st_mode));
    }
    return fd;
}

}  // namespace

WireTrace::WireTrace(const std::string& path) {
    if (path.empty()) return;
    fd_ = OpenTraceFile(path);
    own_ = true;
    const time_t now = ::time(nullptr);
    tm local{};
    ::localtime_r(&now, &local);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %z", &local);
    Write(std::string("== ") + date + ", torvik-config " + TORVIK_VERSION + " ==\n");
}

WireTrace::~WireTrace() {
    if (own_) ::close(fd_);
}

bool WireTrace::Write(const std::string& text) {
    std::string_view rest = text;
    // A reader that has fallen behind gets no more waiting until it has
    // taken a line again.
    int wait_left_ms = stalled_ ? 0 : kTraceWaitMs;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n > 0) {
            rest.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && wait_left_ms > 0) {
            const auto start = std::chrono::steady_clock::now();
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, std::min(wait_left_ms, 50));
            wait_left_ms -= static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count()) +
                            1;
            continue;
        }
        // Gone (a FIFO's reader ended), full, or too slow: the line is lost.
        // A line cut in the middle is ended, so that the next one starts clean.
        if (rest.size() != text.size()) {
            [[maybe_unused]] const ssize_t ended = ::write(fd_, "\n", 1);
        }
        stalled_ = true;
        return false;
    }
    stalled_ = false;
    return true;
}

std::string FormatPortLine(long long ms, const link::PortEvent& event, const std::string& device,
                           const std::string& by_id, const std::string& failure,
                           const std::string& note) {
    char head[32];
    std::snprintf(head, sizeof head, "%9lld ms ", ms);
    const std::string com = "COM" + std::to_string(event.port_number);
    if (!event.opening) return head + ("close " + com);
    if (!event.opened) return head + ("open " + com + " failed: " + failure);
    std::string line = head + ("open " + com + " = " + (device.empty() ? "?" : device));
    if (!by_id.empty()) line += " (by-id " + by_id + ")";
    line += " at " + event.settings;
    if (!note.empty()) line += " (" + note + ")";
    return line;
}

void WireTrace::Attach(TfrmModule& form, const link::ComMap* map) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [start] {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
    };
    if (map != nullptr) {
        const std::string list = link::FormatPortList(*map);
        Line(list.substr(0, list.empty() ? 0 : list.size() - 1));
    }
    form.link.set_trace([this, &form, elapsed](char direction, std::string_view bytes) {
        std::string line = FormatFrameLine(elapsed(), direction, bytes);
        // A bare '?' would not say whether nothing came or what was wrong.
        if (direction == '?') line += "  " + link::DescribeFault(form.link.last_fault());
        Line(line);
    });
    form.port.set_watcher([this, &form, map, elapsed](const link::PortEvent& event) {
        std::string device, by_id, failure, note;
        if (event.opening) {
            device = form.svc.serial.device_path(event.port_number);
            if (!event.opened) failure = form.svc.serial.last_open_failure();
            if (failure.empty()) failure = "cannot be opened";
            if (event.opened) note = form.svc.serial.last_open_note();
            if (map != nullptr) {
                if (const auto entry = map->entry(event.port_number)) {
                    if (!entry->info.names_formed) by_id = entry->info.by_id;
                }
            }
        }
        Line(FormatPortLine(elapsed(), event, device, by_id, failure, note));
    });
}

void WireTrace::Line(const std::string& text) {
    if (lost_ > 0 && Write("(" + std::to_string(lost_) +
                           " trace lines were lost: the trace's reader fell behind)\n")) {
        lost_ = 0;
    }
    if (lost_ > 0 || !Write(link::TerminalSafe(text) + '\n')) ++lost_;
}

// ---- the start-up both programs share ----

namespace {

std::unique_ptr<WireTrace> OpenTrace(const StartOptions& options) {
    if (!options.trace) return nullptr;
    return std::make_unique<WireTrace>(options.trace_file);
}

std::unique_ptr<Beeper> MakeBeeper(const FrontEnd& front) {
    if (front.sound) return std::make_unique<AlsaBeeper>(front.clock);
    return std::make_unique<SilentBeeper>(front.clock);
}

}  // namespace

Assembly::Assembly(const StartOptions& options, link::ComMap& map, FrontEnd front,
                   const std::function<void(TfrmModule&)>& attach_reader,
                   const std::vector<std::string>& simulator_args)
    : map_(map),
      launch_(options, map, simulator_args),
      trace_(OpenTrace(options)),
      serial_(map),
      beeper_(MakeBeeper(front)),
      store_(launch_.settings_path()),
      form_(Services{serial_, front.clock, front.pump, *beeper_, front.cursor, front.errors,
                     store_}) {
    serial_.set_line_options(options.line);
    attach_reader(form_);
    if (trace_) trace_->Attach(form_, &map_);
}

void Assembly::Create(std::function<void(const std::string&)> account) {
    form_.FormCreate();
    WireTrace* trace = trace_.get();
    InstallDiagnostics(form_, map_, [trace, account = std::move(account)](const std::string& text) {
        if (trace != nullptr) {
            trace->Line(text);
        } else if (account) {
            account(text);
        }
    });
}

}  // namespace torvik::app

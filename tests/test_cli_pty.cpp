// SPDX-License-Identifier: MIT
// The torvikctl program against torvik-sim on a pseudo-terminal: the real
// serial device, the real clock, signals and exit statuses. Every COM number
// is pinned (the simulated reader on COM1, missing files for the rest), so
// no serial port of this machine is ever opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/startup.h"
#include "app/file_settings_store.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/window_model.h"
#include "cli/command_line.h"
#include "cli/template_file.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "link/tty_state.h"
#include "ops/reader_operations.h"
#include "tests/child_process.h"
#include "tests/harness.h"
#include "tests/port_rig.h"
#include "tests/scratch_dir.h"
#include "tests/sim_process.h"
#include "tests/wall_pump.h"

namespace torvik::test {
namespace {

struct Ctl {
    pid_t pid = -1;
    int out = -1, err = -1;
};

struct CtlResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out, err;
};

// The simulated readers run at 230400,e,8,1, stored as found by an earlier
// scan: a 264-byte template reply then takes 13 ms of its 200 ms budget,
// however busy the machine is.
const std::vector<std::string> kFast = {"--baud", "230400", "--parity", "e"};

void StoreFastLink(const TempDir& dir) {
    app::FileSettingsStore store((dir.dir / "settings.reg").string());
    app::SaveLinkSettings(store, app::LinkSettings{1, "230400,e,8,1", 13});
}

std::vector<std::string> Fast(std::vector<std::string> args) {
    args.insert(args.begin(), kFast.begin(), kFast.end());
    return args;
}

// Starts torvikctl with the ports pinned and the settings in `dir`; with
// `simulate`, on the simulated reader of --simulate instead, nothing pinned.
// `own_group`: in a process group of its own, as a shell starts a job in
// the terminal (whose Ctrl+C goes to the whole group).
Ctl Spawn(const TempDir& dir, const std::string& reader_pty, std::vector<std::string> args,
          bool own_group = false, bool simulate = false) {
    std::vector<std::string> full = {TORVIK_CTL_BINARY};
    if (simulate) full.push_back("--simulate");
    if (!simulate) {
        full.push_back("--settings");
        full.push_back((dir.dir / "settings.reg").string());
    }
    for (int com = 1; com <= 16 && !simulate; ++com) {
        full.push_back("--port");
        full.push_back("COM" + std::to_string(com) + "=" +
                       (com == 1 && !reader_pty.empty()
                            ? reader_pty
                            : (dir.dir / ("absent" + std::to_string(com))).string()));
    }
    full.insert(full.end(), args.begin(), args.end());
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    Ctl c;
    c.pid = fork();
    if (c.pid == 0) {
        if (own_group) setpgid(0, 0);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
        // As from a terminal: a runner started in the background may hand
        // down SIGINT ignored (or blocked), which torvikctl would keep.
        sigset_t stops;
        sigemptyset(&stops);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(sig, SIG_DFL);
            sigaddset(&stops, sig);
        }
        sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        std::vector<char*> argv;
        for (auto& a : full) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    c.out = out[0];
    c.err = err[0];
    return c;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

CtlResult Finish(Ctl& c, std::string out_so_far = {}) {
    CtlResult r;
    r.out = out_so_far + ReadAll(c.out);
    r.err = ReadAll(c.err);
    ::close(c.out);
    ::close(c.err);
    int status = 0;
    waitpid(c.pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

CtlResult RunCtl(const TempDir& dir, const std::string& pty, std::vector<std::string> args) {
    Ctl c = Spawn(dir, pty, std::move(args));
    return Finish(c);
}

std::string HighBytes(int seed) {
    std::string piece;
    for (int i = 0; i < 256; ++i) piece.push_back(static_cast<char>(0x80 + (i * 7 + seed) % 128));
    return piece;
}

TEST(CliPty, BackupOfOneReaderRestoredOnAnotherGivesIdenticalPieces) {
    TempDir dir;
    const std::string original = (dir.dir / "original.json").string();
    const std::string backup = (dir.dir / "backup.json").string();
    const std::string copy = (dir.dir / "copy.json").string();
    cli::TemplateFile file;
    cli::TemplateSlot slot;
    slot.slot = 2;
    slot.pieces = {HighBytes(1), HighBytes(2), HighBytes(3)};
    file.slots.push_back(slot);
    std::string error;
    ASSERT_TRUE(cli::SaveTemplateFile(original, file, error)) << error;

    StoreFastLink(dir);
    SimProcess a(Fast({"--serial", "AAAA0001"}));
    ASSERT_FALSE(a.path().empty());
    CtlResult r =
        RunCtl(dir, a.path(), {"template-put", "2", original, "backup", backup, "--slots", "1-2"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    a.stop();

    SimProcess b(Fast({"--serial", "BBBB0002"}));
    r = RunCtl(dir, b.path(), {"scan", "restore", backup, "template-get", "2", copy});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const auto saved = cli::LoadTemplateFile(backup, error);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(saved->reader_serial, "AAAA0001");
    ASSERT_NE(saved->find(2), nullptr);
    EXPECT_EQ(saved->find(2)->pieces, slot.pieces);
    const auto back = cli::LoadTemplateFile(copy, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->reader_serial, "BBBB0002");
    EXPECT_EQ(back->find(2)->pieces, slot.pieces);
    // Slot 1 came over as the first reader held it.
    const auto again = RunCtl(dir, b.path(), {"template-get", "1", copy, "--force"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(cli::LoadTemplateFile(copy, error)->find(1)->pieces, saved->find(1)->pieces);
}

TEST(CliPty, ExitStatusesOfTheProgram) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    ASSERT_FALSE(sim.path().empty());
    const std::string damaged = (dir.dir / "damaged.json").string();
    std::ofstream(damaged)
        << "{\"format\": \"torvik-templates\", \"version\": 1, \"slots\": "
           "[{\"slot\": 3, \"status\": \"ok\", \"pieces\": [\"A\", \"B\", \"C\"], "
           "\"crc32\": \"00000000\"}]}";
    struct Case {
        const char* name;
        bool reader;
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"success", true, {"set-id", "1"}, 0, "Set ID Ok"},
        {"json", true, {"--json", "info"}, 0, "\"operation\":\"info\",\"outcome\":\"ok\""},
        {"no reader", false, {"info"}, 2, "Reader Not Find"},
        {"damaged file",
         true,
         {"restore", damaged},
         64,
         "slot 3 is damaged: checksum does not match"},
        {"usage", true, {"set-id", "500"}, 64, "set-id"},
        {"help", false, {"backup", "--help"}, 0, "--slots LIST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CtlResult r = RunCtl(dir, c.reader ? sim.path() : std::string(), c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    }
}

TEST(CliPty, InterruptDuringBackupStopsBetweenSlotsAndKeepsTheFile) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const std::string file = (dir.dir / "b.json").string();
    Ctl c = Spawn(dir, sim.path(), {"backup", file, "--slots", "1-20"});
    // Ctrl+C once the first slot is read, while the second one is under way.
    std::string out;
    char ch = 0;
    while (out.find("slot 1: read\n") == std::string::npos && ::read(c.out, &ch, 1) == 1) out += ch;
    ASSERT_NE(out.find("slot 1: read"), std::string::npos) << out;
    kill(c.pid, SIGINT);
    const CtlResult r = Finish(c, out);
    EXPECT_EQ(r.status, cli::kExitFailed) << r.out << r.err;
    EXPECT_NE(r.out.find("stopped by request"), std::string::npos) << r.out;
    std::string error;
    EXPECT_FALSE(std::filesystem::exists(file));
    const auto saved = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(saved) << error;
    EXPECT_FALSE(saved->complete);
    // Slot 1, and slot 2 when the request came after it had begun: a slot
    // under way is read to its end.
    ASSERT_GE(saved->slots.size(), 1u);
    ASSERT_LE(saved->slots.size(), 2u);
    for (const auto& s : saved->slots) EXPECT_EQ(s.status, cli::SlotStatus::Ok) << s.slot;
    // No temporary file of the backup was left behind.
    for (const auto& name : dir.entries()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

// The frames sent, as trace lines without their time.
std::vector<std::string> SentLines(std::istream& trace) {
    std::vector<std::string> lines;
    for (std::string line; std::getline(trace, line);) {
        const size_t at = line.find(" ms > ");
        if (at != std::string::npos) lines.push_back(line.substr(at + 4));
    }
    return lines;
}

TEST(CliPty, FramesOverThePtyAreTheWindowsFrames) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::function<void(app::TfrmModule&)> window;
    };
    const std::vector<Case> cases = {
        {"set-id",
         {"set-id", "9"},
         [](app::TfrmModule& f) {
             f.user_set_position(f.sbID, 9);
             f.press(f.btnID);
         }},
        {"set-mode",
         {"set-mode", "rs485", "W42", "R24"},
         [](app::TfrmModule& f) {
             f.user_set_index(f.cmbMode, 1);
             f.user_set_index(f.cmbWiegand, 2);
             f.user_set_index(f.cmbRS485, 0);
             f.press(f.btnMode);
         }},
        {"template-get",
         {"template-get", "4", "t.json"},
         [](app::TfrmModule& f) {
             f.user_set_position(f.sbFingerNo, 4);
             f.press(f.btnGetTemplate);
         }},
        {"raw",
         {"raw", "XY"},
         [](app::TfrmModule& f) {
             f.user_set_text(f.edCRCmd, "XY");
             f.press(f.btnCRCmd);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        StoreFastLink(dir);
        SimProcess sim(kFast);
        ASSERT_FALSE(sim.path().empty());
        const std::string trace = (dir.dir / "trace.log").string();
        std::vector<std::string> args = {"--trace=" + trace};
        for (const auto& a : c.args) args.push_back(a == "t.json" ? (dir.dir / a).string() : a);
        const CtlResult r = RunCtl(dir, sim.path(), args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        std::ifstream trace_in(trace);
        const std::vector<std::string> cli_lines = SentLines(trace_in);

        // The window model on the same line, the same settings, the real clock.
        link::ComMap map((dir.dir / "dev").string(), (dir.dir / "sys").string());
        ASSERT_TRUE(map.add_override("COM1=" + sim.path()));
        link::MonotonicClock clock;
        link::PosixSerialDevice serial(map);
        WallPump pump;
        app::SilentBeeper beeper(clock);
        TestCursor cursor;
        TestErrors errors;
        app::FileSettingsStore store((dir.dir / "settings.reg").string());
        app::TfrmModule form(app::Services{serial, clock, pump, beeper, cursor, errors, store});
        ops::BindOperations(form);
        std::ostringstream window_trace;
        form.link.set_trace([&window_trace](char direction, std::string_view bytes) {
            window_trace << app::FormatFrameLine(0, direction, bytes) << "\n";
        });
        form.FormCreate();
        form.FormShow();
        form.press(form.btnScan);
        c.window(form);
        std::istringstream window_in(window_trace.str());
        EXPECT_EQ(cli_lines, SentLines(window_in));
        EXPECT_GE(cli_lines.size(), 4u);  // the scan and at least one command
    }
}

TEST(CliPty, SecondInterruptEndsTheProgramAtOnce) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const std::string file = (dir.dir / "b.json").string();
    // The line as the simulated reader left it, to compare with afterwards.
    const auto line_state = [&sim](link::TtyState& state) {
        const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool ok = fd >= 0 && link::save_tty_state(fd, state);
        if (fd >= 0) ::close(fd);
        return ok;
    };
    link::TtyState before, after;
    ASSERT_TRUE(line_state(before));
    Ctl c = Spawn(dir, sim.path(), {"backup", file, "--slots", "1-20"});
    std::string out;
    char ch = 0;
    while (out.find("slot 1: read\n") == std::string::npos && ::read(c.out, &ch, 1) == 1) out += ch;
    // Into slot 2's 2-second wait before its first piece, so that the
    // request is taken inside the slot.
    ::usleep(500 * 1000);
    kill(c.pid, SIGINT);
    // The second request once the first has been taken (two signals sent at
    // once may arrive as one).
    std::string err;
    while (err.find("stopping after this slot") == std::string::npos && ::read(c.err, &ch, 1) == 1)
        err += ch;
    ASSERT_NE(err.find("stopping after this slot"), std::string::npos) << err;
    kill(c.pid, SIGINT);
    const CtlResult r = Finish(c, out);
    EXPECT_EQ(r.status, 128 + SIGINT) << r.out << r.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    // Slot 1 was on disk before its line was printed, and stays there.
    std::string error;
    const auto kept = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(kept) << error;
    ASSERT_GE(kept->slots.size(), 1u);
    EXPECT_EQ(kept->slots[0].status, cli::SlotStatus::Ok);
    // The port was given back as found, though the program ended mid-slot.
    ASSERT_TRUE(line_state(after));
    EXPECT_TRUE(link::same_tty_state(before, after));
    for (const auto& name : dir.entries()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

TEST(CliPty, ReadByCountOverTheRealLine) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(Fast({"--card-every-ms", "300"}));
    const CtlResult r = RunCtl(dir, sim.path(), {"--json", "read", "--count", "2"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\"operation\":\"read\",\"outcome\":\"ok\""), std::string::npos) << r.out;
    const size_t cards = r.out.find("\"cards\":[");
    ASSERT_NE(cards, std::string::npos);
    const std::string list = r.out.substr(cards, r.out.find(']', cards) - cards);
    EXPECT_EQ(std::count(list.begin(), list.end(), ','), 1) << list;  // two readings
}

TEST(CliPty, RealAdaptersShowWhatACleanLineShows) {
    // The simulated reader plays the adapter on its pseudo-terminal; the
    // tool over the real serial device must show exactly what a clean line
    // shows, templates included: every adapter at 19200, the slow ones at
    // 9600 too, where a template piece outlasts the reply budget.
    struct Speed {
        const char* baud;
        app::LinkSettings stored;
        std::vector<std::vector<std::string>> adapters;
    };
    const std::vector<Speed> speeds = {
        {"19200",
         {1, "19200,e,8,1", 5},
         {{}, {"--echo"}, {"--glitch", "00"}, {"--glitch", "FF"}, {"--latency", "16"},
          {"--late", "I00V:205"}, {"--split", "8:250"},
          {"--echo", "--glitch", "FF", "--latency", "16"}}},
        {"9600",
         {1, "9600,e,8,1", 3},
         {{}, {"--echo"}, {"--latency", "16"}, {"--split", "8:250"}}},
    };
    for (const Speed& speed : speeds) {
        std::string clean;
        for (const auto& adapter : speed.adapters) {
            std::string name = std::string(speed.baud) + ":";
            for (const auto& a : adapter) name += " " + a;
            SCOPED_TRACE(name);
            std::vector<std::string> args = {"--baud", speed.baud, "--parity", "e"};
            args.insert(args.end(), adapter.begin(), adapter.end());
            SimProcess sim(args);
            ASSERT_FALSE(sim.path().empty());
            TempDir dir;
            {
                app::FileSettingsStore store((dir.dir / "settings.reg").string());
                app::SaveLinkSettings(store, speed.stored);
            }
            const std::string file = (dir.dir / "t.json").string();
            const CtlResult r =
                RunCtl(dir, sim.path(), {"--json", "scan", "template-get", "3", file});
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            // Everything but the name of the file, which is the test's own,
            // and what differs from run to run: its id, the time and the
            // terminal the simulated reader got.
            std::string shown = r.out;
            for (size_t at; (at = shown.find(file)) != std::string::npos;)
                shown.replace(at, file.size(), "FILE");
            static const std::regex varying(R"re("(run|time|device)":"[^"]*")re");
            shown = std::regex_replace(shown, varying, "\"$1\":\"-\"");
            if (clean.empty()) clean = shown;
            EXPECT_EQ(shown, clean);
        }
    }
}


// ---------------------------------------------------------------- every way out

// Reads from fd until `text` has arrived (or the other end is closed).
bool ReadUntil(int fd, std::string& buffer, const std::string& text) {
    char ch = 0;
    while (buffer.find(text) == std::string::npos) {
        const ssize_t n = ::read(fd, &ch, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return false;
        buffer += ch;
    }
    return true;
}

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool SameLineState(const std::string& path, const link::TtyState& before) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    link::TtyState after;
    const bool ok = fd >= 0 && link::save_tty_state(fd, after);
    if (fd >= 0) ::close(fd);
    return ok && link::same_tty_state(before, after);
}

TEST(CliPty, BackupKeepsEverySlotReadHoweverItEnds) {
    enum class Way { kSecondInterrupt, kTerminate, kKill };
    struct Case {
        const char* name;
        Way way;
        int status;
    };
    const std::vector<Case> cases = {
        {"a second Ctrl+C", Way::kSecondInterrupt, 128 + SIGINT},
        {"SIGTERM", Way::kTerminate, cli::kExitFailed},
        {"SIGKILL", Way::kKill, 128 + SIGKILL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        StoreFastLink(dir);
        SimProcess sim(kFast);
        ASSERT_FALSE(sim.path().empty());
        link::TtyState before;
        {
            const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_TRUE(fd >= 0 && link::save_tty_state(fd, before));
            ::close(fd);
        }
        const std::string file = (dir.dir / "b.json").string();
        Ctl ctl = Spawn(dir, sim.path(), {"backup", file, "--slots", "1-20"});
        std::string out, err;
        ASSERT_TRUE(ReadUntil(ctl.out, out, "slot 2: read\n")) << out;
        if (c.way == Way::kSecondInterrupt) {
            // Into slot 3, so that the first request waits for its end.
            ::usleep(500 * 1000);
            kill(ctl.pid, SIGINT);
            ASSERT_TRUE(ReadUntil(ctl.err, err, "stopping after this slot")) << err;
            kill(ctl.pid, SIGINT);
        } else {
            kill(ctl.pid, c.way == Way::kTerminate ? SIGTERM : SIGKILL);
        }
        const CtlResult r = Finish(ctl, out);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        // Every slot whose line was printed is in the file, whole and checked.
        const int printed = CountOf(r.out, ": read\n");
        std::string error;
        const auto kept = cli::LoadTemplateFile(cli::IncompleteName(file), error);
        ASSERT_TRUE(kept) << error;
        EXPECT_FALSE(kept->complete);
        EXPECT_GE(static_cast<int>(kept->slots.size()), printed);
        for (const auto& s : kept->slots) EXPECT_EQ(s.status, cli::SlotStatus::Ok) << s.slot;
        EXPECT_FALSE(std::filesystem::exists(file)) << "only a whole backup gets the name";
        if (c.way != Way::kKill) {
            EXPECT_TRUE(SameLineState(sim.path(), before)) << "the port was given back";
            for (const auto& name : dir.entries())
                EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
        }
    }
}

// The note that the stop request was taken comes at once, not after the
// 2-second wait between a slot's prepare command and its first piece.
TEST(CliPty, FirstInterruptIsAnsweredInsideTheTemplateWait) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const std::string file = (dir.dir / "b.json").string();
    // The trace on stderr shows the frames and the note in the order they came.
    Ctl ctl = Spawn(dir, sim.path(), {"--trace", "backup", file, "--slots", "1-5"});
    std::string err;
    ASSERT_TRUE(ReadUntil(ctl.err, err, "I00P0000020")) << err;  // slot 2's prepare sent
    ASSERT_TRUE(ReadUntil(ctl.err, err, "\n"));  // its reply line has begun
    const auto sent = std::chrono::steady_clock::now();
    kill(ctl.pid, SIGINT);
    ASSERT_TRUE(ReadUntil(ctl.err, err, "stopping after this slot")) << err;
    const auto answered = std::chrono::steady_clock::now();
    const CtlResult r = Finish(ctl);
    EXPECT_EQ(r.status, cli::kExitFailed) << r.out << r.err;
    const std::string all = err + r.err;
    const size_t note = all.find("stopping after this slot");
    const size_t first_piece = all.find("I00P0000021");
    ASSERT_NE(first_piece, std::string::npos) << "slot 2 went on to its end";
    EXPECT_LT(note, first_piece) << all;
    std::printf("stop request answered after %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(answered - sent).count()));
    // Slot 2 was read to its end, and nothing of slot 3 went out.
    EXPECT_EQ(all.find("I00P0000030"), std::string::npos);
    std::string error;
    const auto kept = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->slots.size(), 2u);
}

TEST(CliPty, ACompleteBackupSurvivesAStoppedOne) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const std::string file = (dir.dir / "door3.json").string();
    const CtlResult first = RunCtl(dir, sim.path(), {"backup", file, "--slots", "1-2"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    std::ifstream in(file, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(in)), {});

    Ctl ctl = Spawn(dir, sim.path(), {"backup", file, "--slots", "1-20", "--force"});
    std::string out;
    ASSERT_TRUE(ReadUntil(ctl.out, out, "slot 1: read\n")) << out;
    kill(ctl.pid, SIGINT);
    const CtlResult r = Finish(ctl, out);
    EXPECT_EQ(r.status, cli::kExitFailed);
    std::ifstream again(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), before);
    const std::string incomplete = cli::IncompleteName(file);
    EXPECT_NE(r.out.find("kept in " + incomplete), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(file + " was left as it was"), std::string::npos) << r.out;
    std::string error;
    EXPECT_TRUE(cli::LoadTemplateFile(incomplete, error)) << error;
}

// Mode of a file as written, with a umask in force for the program.
mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(CliPty, TemplateFilesArePrivate) {
    struct Case {
        const char* name;
        mode_t umask;
        mode_t existing;  // 0: no file before
        mode_t want;
    };
    const std::vector<Case> cases = {
        {"umask 077", 077, 0, 0600},
        {"umask 022", 022, 0, 0600},
        {"umask 277", 0277, 0, 0400},
        {"an existing 0640 file replaced", 022, 0640, 0640},
        {"an existing 0600 file replaced", 0, 0600, 0600},
    };
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = (dir.dir / (std::string(c.name) + ".json")).string();
        std::vector<std::string> args = {"template-get", "1", file};
        if (c.existing) {
            std::ofstream(file) << "{}";
            ASSERT_EQ(::chmod(file.c_str(), c.existing), 0);
            args.push_back("--force");
        }
        const mode_t old = ::umask(c.umask);
        const CtlResult r = RunCtl(dir, sim.path(), args);
        ::umask(old);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(ModeOf(file), c.want);
    }
    // As a technician types it.
    TempDir other;
    const std::string file = (other.dir / "f.json").string();
    const mode_t old = ::umask(077);
    const ProgramRun r =
        RunProgram({TORVIK_CTL_BINARY, "--simulate", "backup", file, "--slots", "1"});
    ::umask(old);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(other.entries(), std::set<std::string>{"f.json"});
}

// A path that cannot take the file is refused before the scan: the port is
// never opened.
TEST(CliPty, AnUnwritablePathIsRefusedBeforeThePortOpens) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const fs::path locked = dir.dir / "locked";
    fs::create_directory(locked);
    const bool can_lock = make_unwritable(locked);
    ASSERT_EQ(::mkfifo((dir.dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(dir.dir / "elsewhere.json", dir.dir / "link.json");
    struct Case {
        const char* name;
        std::string path;
        const char* says;
    };
    std::vector<Case> cases = {
        {"missing directory", (dir.dir / "none" / "b.json").string(), "does not exist"},
        {"a FIFO", (dir.dir / "fifo").string(), "is a FIFO"},
        {"a symbolic link", (dir.dir / "link.json").string(), "is a symbolic link"},
        {"a directory", locked.string() + "/", "is a directory"},
    };
    if (can_lock) cases.push_back({"unwritable directory", (locked / "b.json").string(), "cannot be written"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string trace = (dir.dir / "trace.log").string();
        const auto started = std::chrono::steady_clock::now();
        const CtlResult r = RunCtl(dir, sim.path(), {"--trace=" + trace, "backup", c.path});
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(r.status, cli::kExitUsage) << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << r.err;
        std::ifstream in(trace);
        const std::string logged((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(logged.find(" open COM"), std::string::npos) << logged;
        std::printf("%s: refused after %lld ms\n", c.name,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        fs::remove(trace);
    }
    EXPECT_FALSE(fs::exists(dir.dir / "elsewhere.json"));
    if (can_lock) set_immutable(locked, false);
}

TEST(CliPty, StaleTemporariesOfEarlierRunsAreRemoved) {
    TempDir dir;
    StoreFastLink(dir);
    SimProcess sim(kFast);
    const auto plant = [&dir](const char* name, bool old) {
        const fs::path path = dir.dir / name;
        std::ofstream(path) << "half a template file";
        if (old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        return path;
    };
    plant("t.json.tmp-Stale1", true);        // a killed run's: removed
    plant("t.json.tmp-Fresh1", false);       // just made, perhaps by a run starting now
    const fs::path held = plant("t.json.tmp-Held01", true);
    plant("t.json.tmp-toolong", true);       // not a name the saves make
    plant("other.json.tmp-Stale2", true);    // another file's
    fs::create_symlink(dir.dir / "settings.reg", dir.dir / "t.json.tmp-Link01");
    const int lock = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);  // a save under way holds its file

    const CtlResult r = RunCtl(dir, sim.path(), {"template-get", "1", (dir.dir / "t.json").string()});
    ::close(lock);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto names = dir.entries();
    EXPECT_FALSE(names.count("t.json.tmp-Stale1"));
    for (const char* kept : {"t.json.tmp-Fresh1", "t.json.tmp-Held01", "t.json.tmp-toolong",
                             "other.json.tmp-Stale2", "t.json.tmp-Link01", "t.json"})
        EXPECT_TRUE(names.count(kept)) << kept;
}

// The processes a process started, from the kernel's list.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> children;
    for (pid_t child; in >> child;) children.push_back(child);
    return children;
}

TEST(CliPty, TheSimulatedReaderSurvivesCtrlCInTheTerminal) {
    TempDir dir;
    const std::string file = (dir.dir / "b.json").string();
    Ctl ctl = Spawn(dir, "", {"backup", file, "--slots", "1-3"}, true, true);
    std::string out;
    ASSERT_TRUE(ReadUntil(ctl.out, out, "slot 1: read\n")) << out;
    const std::vector<pid_t> children = ChildrenOf(ctl.pid);
    ASSERT_EQ(children.size(), 1u) << "the simulated reader";
    // Ctrl+C in the terminal while slot 2 is under way: SIGINT to the
    // foreground process group.
    ::usleep(500 * 1000);
    kill(-ctl.pid, SIGINT);
    const CtlResult r = Finish(ctl, out);
    EXPECT_EQ(r.status, cli::kExitFailed) << r.out << r.err;
    EXPECT_NE(r.out.find("stopped by request"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("has ended"), std::string::npos) << r.err;
    // The slot under way was read to its end: the reader was still there.
    std::string error;
    const auto kept = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(kept) << error;
    ASSERT_EQ(kept->slots.size(), 2u);
    for (const auto& s : kept->slots) EXPECT_EQ(s.status, cli::SlotStatus::Ok);
    // And the tool ended it.
    EXPECT_NE(::kill(children[0], 0), 0);
}

TEST(CliPty, WhenTheSimulatedReaderEndsTheRunStops) {
    TempDir dir;
    const std::string file = (dir.dir / "b.json").string();
    Ctl ctl = Spawn(dir, "", {"backup", file, "--slots", "1-5", "set-id", "4"}, true, true);
    std::string out;
    ASSERT_TRUE(ReadUntil(ctl.out, out, "slot 1: read\n")) << out;
    const std::vector<pid_t> children = ChildrenOf(ctl.pid);
    ASSERT_EQ(children.size(), 1u);
    ::kill(children[0], SIGKILL);
    const CtlResult r = Finish(ctl, out);
    EXPECT_EQ(r.status, cli::kExitFailed) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("the simulated reader (torvik-sim) has ended"),
              std::string::npos)
        << r.out << r.err;
    EXPECT_NE(r.err.find("set-id"), std::string::npos) << "named as not run: " << r.err;
    std::string error;
    const auto kept = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->find(1)->status, cli::SlotStatus::Ok);
}

// A pinned pseudo-terminal is the node it was when pinned: once it is
// gone, the same path handed to a new terminal leads nowhere.
TEST(CliPty, APinnedTerminalHandedToAnotherIsNeverOpened) {
    TempDir dir;
    link::ComMap map((dir.dir / "dev").string(), (dir.dir / "sys").string(),
                     (dir.dir / "proc").string());
    std::string path;
    {
        Pty first;
        ASSERT_FALSE(first.slave.empty());
        path = first.slave;
        ASSERT_TRUE(map.add_override("COM5=" + path));
        EXPECT_EQ(map.path(5), path);
        EXPECT_EQ(map.path(5), path) << "asked again, still the same node";
    }
    // The kernel hands the lowest free number to the next terminal made.
    ::usleep(50 * 1000);  // a later creation time than the first one's
    std::vector<std::unique_ptr<Pty>> made;
    while (made.size() < 8) {
        made.push_back(std::make_unique<Pty>());
        if (made.back()->slave == path) break;
    }
    if (made.back()->slave != path) GTEST_SKIP() << "the number went to another program";
    EXPECT_EQ(map.path(5), "");
    EXPECT_TRUE(map.pin_gone(5));
    made.clear();
    EXPECT_EQ(map.path(5), "") << "for the rest of the run";

    // Other pins are paths as they stand.
    const std::string plain = (dir.dir / "plain").string();
    std::ofstream(plain) << "";
    ASSERT_TRUE(map.add_override("COM6=" + plain));
    fs::remove(plain);
    std::ofstream(plain) << "x";
    EXPECT_EQ(map.path(6), plain);
    EXPECT_FALSE(map.pin_gone(6));
}

TEST(CliPty, PortRefusalsSayWhatTheWindowSays) {
    for (const std::string pin : {"COM1=/dev/console", "COM17=/dev/null", "COM0=/dev/null",
                                  "bogus"}) {
        SCOPED_TRACE(pin);
        app::StartOptions options;
        link::ComMap map;
        std::string window_error;
        std::string prog = "torvik-config", opt = "--port", value = pin;
        char* argv[] = {prog.data(), opt.data(), value.data()};
        int i = 1;
        ASSERT_EQ(app::ParseSharedOption(3, argv, i, options, map, window_error),
                  app::OptionParse::kError);
        const ProgramRun r = RunProgram({TORVIK_CTL_BINARY, "--port", pin, "info"});
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_EQ(r.err, "torvikctl: " + window_error + "\n");
    }
}

TEST(CliPty, SettingsOrTraceInAMissingDirectoryAreUsageErrors) {
    TempDir dir;
    const std::string missing = (dir.dir / "none").string();
    const std::vector<std::vector<std::string>> calls = {
        {TORVIK_CTL_BINARY, "--settings", missing + "/settings.reg", "info"},
        {TORVIK_CTL_BINARY, "--simulate", "--trace=" + missing + "/trace.log", "info"},
    };
    for (const auto& call : calls) {
        const ProgramRun r = RunProgram(call);
        EXPECT_EQ(r.status, cli::kExitUsage) << r.err;
        EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(missing));
    }
}

TEST(CliPty, TheAccountOfAScanThatFoundNothingIsForATerminal) {
    struct Case {
        const char* lang;
        const char* no_device;
    };
    for (const Case c : {Case{"en", "no such device"}, Case{"zh-hans", "没有此设备"},
                         Case{"zh-hant", "沒有此裝置"}}) {
        SCOPED_TRACE(c.lang);
        TempDir dir;
        const CtlResult r = RunCtl(dir, "", {"--lang", c.lang, "info"});
        EXPECT_EQ(r.status, cli::kExitNotFound) << r.err;
        EXPECT_NE(r.err.find(c.no_device), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("torvikctl scan --sweep"), std::string::npos) << r.err;
        for (const char* window_words : {"lock box", "锁定框", "鎖定框"})
            EXPECT_EQ(r.err.find(window_words), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace torvik::test

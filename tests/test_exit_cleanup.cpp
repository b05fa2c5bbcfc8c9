// SPDX-License-Identifier: MIT
// However the tool ends - a kill, Ctrl+C, a logout, exit() - the port it
// holds gets its terminal state back and its exclusive flag cleared, its
// lock file goes, the child it started ends and its temporary files go.
// Each case runs the tool's code in a forked child and ends it from outside.
// The child starts as from a terminal, whatever this test program inherited
// (a runner under nohup hands SIGHUP down ignored), so that the cases hold
// however the tests are started.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "app/startup.h"
#include "link/exit_cleanup.h"
#include "sim/reader.h"
#include "tests/port_rig.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

// How the child ends: by a signal, or by exit() with the port still open.
struct Ending {
    const char* what;
    int signal;  // 0: the child calls exit()
};

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// In a child just forked: the stop signals as a program started from a
// terminal has them (default action, not blocked), then those in `ignored`
// ignored, as a parent like nohup leaves them.
void start_as_from_terminal(std::initializer_list<int> ignored = {}) {
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : kStopSignals) {
        std::signal(sig, SIG_DFL);
        sigaddset(&stops, sig);
    }
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
    for (int sig : ignored) std::signal(sig, SIG_IGN);
}

// Forks with nothing left in the stdio buffers, so that a child ending by
// exit() does not print this program's pending output a second time.
pid_t fork_flushed() {
    std::fflush(nullptr);
    return fork();
}

bool process_gone(pid_t pid) {
    // Ended, or a zombie waiting for init to collect it.
    for (int i = 0; i < 2000; ++i) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(in, text);
        if (text.empty()) return true;
        const size_t close = text.rfind(')');
        if (close != std::string::npos && text.compare(close + 2, 1, "Z") == 0) return true;
        usleep(1000);
    }
    return false;
}

// What the child made that must be gone afterwards.
struct Leftovers {
    fs::path temp_file, temp_dir;
    pid_t grandchild = -1;
};

// In the child: a temporary file, a temporary directory with a file in it,
// and a child process of its own, all registered.
Leftovers make_leftovers(const fs::path& scratch) {
    Leftovers l{scratch / "settings.reg.tmp", scratch / "KELDO TORVIK Reader Config-abc123"};
    std::ofstream(l.temp_file) << "x";
    fs::create_directories(l.temp_dir);
    std::ofstream(l.temp_dir / "settings.reg") << "x";
    link::RegisterTempPath(l.temp_file.string(), false);
    link::RegisterTempPath(l.temp_dir.string(), true);
    int started[2];
    if (pipe(started) != 0) _exit(97);
    l.grandchild = fork();
    if (l.grandchild == 0) {
        // Stands for the simulated reader, which the SIGTERM of the cleanup
        // ends whatever the tool was started with.
        start_as_from_terminal();
        ::close(started[0]);
        ::close(started[1]);  // its end closed: it is ready for the SIGTERM
        for (;;) pause();
    }
    ::close(started[1]);
    char c = 0;
    (void)!::read(started[0], &c, 1);
    ::close(started[0]);
    link::RegisterChild(l.grandchild);
    return l;
}

class ExitCleanupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty_.slave.empty());
        ASSERT_TRUE(map_.add_override("COM1=" + pty_.slave));
        before_ = pty_.set_distinct_state();
        ASSERT_EQ(pipe(ready_), 0);
        ASSERT_EQ(pipe(go_), 0);
    }
    void TearDown() override {
        // Whatever a failed case left running is ended here.
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (grandchild_ > 0 && !process_gone(grandchild_)) kill(grandchild_, SIGKILL);
        for (int fd : {ready_[0], ready_[1], go_[0], go_[1]}) ::close(fd);
    }
    // The child was collected: nothing to end for it.
    void reaped() { child_ = -1; }

    // Runs `body` in a child with the exit cleanup installed, started with
    // the signals in `ignored` ignored; the child reports the grandchild's
    // pid once it holds the port.
    template <class Body>
    void start(Body body, std::initializer_list<int> ignored = {}) {
        child_ = fork_flushed();
        if (child_ == 0) {
            start_as_from_terminal(ignored);
            link::InstallExitCleanup();
            const Leftovers l = make_leftovers(scratch_.dir);
            body(l.grandchild);
            _exit(99);  // the body never returns normally
        }
        ASSERT_GT(child_, 0);
    }
    // In the child: tells the parent the port is held, then waits for its word.
    void report_ready(pid_t grandchild) {
        const int pid = grandchild;
        (void)!::write(ready_[1], &pid, sizeof pid);
        char c = 0;
        (void)!::read(go_[0], &c, 1);
        std::exit(3);  // exit() with the port still open
    }
    pid_t wait_ready() {
        int pid = -1;
        EXPECT_EQ(::read(ready_[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
        grandchild_ = pid;
        return pid;
    }
    // Ends the child and checks that it left nothing behind.
    void end_and_check(const Ending& e, pid_t grandchild) {
        if (e.signal != 0) {
            kill(child_, e.signal);
        } else {
            ASSERT_EQ(::write(go_[1], "x", 1), 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child_, &status, 0), child_);
        reaped();
        if (e.signal != 0) {
            ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
            EXPECT_EQ(WTERMSIG(status), e.signal);  // ended as the signal ends it
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 3);
        }
        EXPECT_FALSE(pty_.exclusive());
        expect_same_termios(pty_.attrs(), before_);
        EXPECT_EQ(locks_.entries(), std::set<std::string>{});
        EXPECT_EQ(scratch_.entries(), std::set<std::string>{});
        EXPECT_TRUE(grandchild > 0 && process_gone(grandchild));
    }

    Pty pty_;
    termios before_{};
    link::ComMap map_{"/nonexistent-dev", "/nonexistent-sys"};
    TempDir scratch_, locks_;
    int ready_[2] = {-1, -1}, go_[2] = {-1, -1};
    pid_t child_ = -1, grandchild_ = -1;
};

TEST_F(ExitCleanupTest, EveryWayOutGivesThePortBackAndRemovesWhatWasMade) {
    const Ending endings[] = {
        {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"exit()", 0}};
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.what);
        start([&](pid_t grandchild) {
            link::PosixSerialDevice dev(map_, {locks_.dir.string()});
            if (!dev.open(1, "230400,n,8,1")) _exit(98);
            report_ready(grandchild);
        });
        const pid_t grandchild = wait_ready();
        EXPECT_TRUE(pty_.exclusive());
        EXPECT_EQ(locks_.entries().size(), 1u);
        end_and_check(e, grandchild);
    }
}

TEST_F(ExitCleanupTest, ASignalIgnoredAtStartStaysIgnored) {
    // Each stop signal ignored at start in turn: it is sent and does nothing,
    // and another one, not ignored, then ends the child with the cleanup.
    const Ending cases[][2] = {
        {{"SIGHUP", SIGHUP}, {"SIGTERM", SIGTERM}},
        {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}},
        {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}},
    };
    for (const auto& [ignored, ending] : cases) {
        SCOPED_TRACE(ignored.what);
        start(
            [&](pid_t grandchild) {
                link::PosixSerialDevice dev(map_, {locks_.dir.string()});
                if (!dev.open(1, "230400,n,8,1")) _exit(98);
                report_ready(grandchild);
            },
            {ignored.signal});
        const pid_t grandchild = wait_ready();
        kill(child_, ignored.signal);
        // Still running: the signal that follows is what ends it.
        end_and_check(ending, grandchild);
    }
}

// The far end of the pty as a reader: answers every frame, counts the polls
// of a live reading, and kills the tool once `until` says so.
void serve_until(const Pty& pty, pid_t tool, const std::function<bool(const std::string&)>& until) {
    sim::Reader reader;
    std::string seen;
    const auto start = std::chrono::steady_clock::now();
    // The time is only a guard against a child that never gets that far.
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        pollfd p{pty.master, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            seen.push_back(buf[i]);
            const std::string reply = reader.feed(static_cast<uint8_t>(buf[i]), 0);
            if (!reply.empty()) (void)!::write(pty.master, reply.data(), reply.size());
        }
        if (until(seen)) {
            kill(tool, SIGTERM);
            return;
        }
    }
    ADD_FAILURE() << "the tool never got there; it sent: " << seen.size() << " bytes";
    kill(tool, SIGKILL);
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(ExitCleanupTest, KilledDuringAnExchangeOrALiveReading) {
    struct Case {
        const char* what;
        bool reading;
        std::function<bool(const std::string&)> until;
    } const cases[] = {
        // A silent line: the scan's first presence check is waiting for its reply.
        {"exchange", false, [](const std::string& seen) { return count(seen, "I00B") >= 1; }},
        // The reader answers; the live reading has polled a few times.
        {"live reading", true, [](const std::string& seen) { return count(seen, "I00F") >= 3; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start([&](pid_t grandchild) {
            const int pid = grandchild;
            (void)!::write(ready_[1], &pid, sizeof pid);
            ModelRig<link::MonotonicClock> rig(map_, {locks_.dir.string()});
            rig.scan(true);
            if (c.reading) rig.form.press(rig.form.btnReadCard);  // runs until killed
            for (;;) pause();
        });
        const pid_t grandchild = wait_ready();
        if (c.reading) {
            serve_until(pty_, child_, c.until);
        } else {
            // Nobody answers: just watch what the tool sends.
            std::string seen;
            const auto start = std::chrono::steady_clock::now();
            // The time is only a guard against a child that never sends.
            while (!c.until(seen) &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
                pollfd p{pty_.master, POLLIN, 0};
                if (::poll(&p, 1, 100) > 0) seen += pty_.drain();
            }
            EXPECT_TRUE(c.until(seen)) << "the tool sent nothing";
            kill(child_, SIGTERM);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child_, &status, 0), child_);
        reaped();
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), SIGTERM);
        EXPECT_FALSE(pty_.exclusive());
        expect_same_termios(pty_.attrs(), before_);
        EXPECT_EQ(locks_.entries(), std::set<std::string>{});
        EXPECT_EQ(scratch_.entries(), std::set<std::string>{});
        EXPECT_TRUE(process_gone(grandchild));
        pty_.drain();
    }
}

TEST(StartUpCleanup, AKilledRunWithSimulateLeavesNoReaderAndNoTemporaryFiles) {
    TempDir scratch;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t tool = fork_flushed();
    if (tool == 0) {
        start_as_from_terminal();
        link::InstallExitCleanup();
        ::setenv("TMPDIR", scratch.dir.c_str(), 1);
        app::StartOptions options;
        options.simulate = true;
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        try {
            app::Launch launch(options, map, {"--quiet"});
            std::ofstream(launch.settings_path()) << "x";  // the store writes here
            const int pid = launch.simulator_pid();
            (void)!::write(ready[1], &pid, sizeof pid);
            for (;;) pause();
        } catch (...) {
            _exit(98);
        }
    }
    ::close(ready[1]);
    int sim = -1;
    ASSERT_EQ(::read(ready[0], &sim, sizeof sim), static_cast<ssize_t>(sizeof sim));
    ::close(ready[0]);
    EXPECT_EQ(scratch.entries().size(), 1u);  // its settings directory
    kill(tool, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(tool, &status, 0), tool);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(process_gone(sim));
    EXPECT_EQ(scratch.entries(), std::set<std::string>{});
}

TEST(StartUpCleanup, PinsToSystemPortsAndBeyondCom16AreRefusedWithTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"COM1=/dev/console", "--port COM1=/dev/console refused: system console"},
        {"COM17=/dev/pts/9",
         "bad --port value COM17=/dev/pts/9 (expected COMn=PATH, n from 1 to 16)"},
    };
    for (const auto& [value, want] : cases) {
        std::string arg0 = "prog", arg1 = "--port", arg2 = value;
        char* argv[] = {arg0.data(), arg1.data(), arg2.data()};
        int i = 1;
        app::StartOptions options;
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        std::string error;
        EXPECT_EQ(app::ParseSharedOption(3, argv, i, options, map, error),
                  app::OptionParse::kError);
        EXPECT_EQ(error, want);
        EXPECT_TRUE(map.list().empty());
    }
}

}  // namespace
}  // namespace torvik::test

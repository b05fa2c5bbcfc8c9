// SPDX-License-Identifier: MIT
// Ports that belong to the system, lock files of other programs, and every
// port left as it was found: on real pseudo-terminals and a fake /sys and
// /proc tree.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "link/system_ports.h"
#include "link/uucp_lock.h"
#include "tests/port_rig.h"
#include "tests/sim_process.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// ttyUSB0: a shell's terminal; ttyUSB1: free; ttyS0: the kernel console
// (by name only, like a real UART node the test cannot make); ttyS1: a
// getty's line; ttyACM0: the console again, known by its device number.
class SystemPortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (Pty* p : {&shell_, &free_, &getty_, &console_}) ASSERT_FALSE(p->slave.empty());
        sys_.node("ttyUSB0", shell_.slave);
        sys_.node("ttyUSB1", free_.slave);
        sys_.node("ttyS0");
        sys_.node("ttyS1", getty_.slave);
        sys_.node("ttyACM0", console_.slave);
        sys_.uart("ttyS0");
        sys_.uart("ttyS1");
        const dev_t c = console_.device();
        sys_.uart("consoleacm", std::to_string(major(c)) + ":" + std::to_string(minor(c)));
        sys_.consoles("tty0 ttyS0 consoleacm");
        sys_.process(612, "agetty", 612, getty_.tty_nr());
        sys_.process(900, "bash", 900, shell_.tty_nr());
        sys_.process(901, "vim (1)", 900, shell_.tty_nr());  // same terminal, not its leader
        sys_.process(77, "cron", 77, 0);                     // no terminal
        sys_.raw_stat("88", "88 (broken");
        sys_.raw_stat("self", "1 (x) S 1 1 1 1");
    }
    link::ComMap map() const { return link::ComMap(sys_.dev(), sys_.sys(), sys_.proc()); }

    Pty shell_, free_, getty_, console_;
    FakeSystem sys_;
};

TEST_F(SystemPortsTest, ReasonsForEachKindOfPort) {
    const link::SystemPorts ports(sys_.sys(), sys_.proc());
    const Pairs cases = {
        {sys_.path("ttyUSB0"), "login terminal of bash (pid 900)"},
        {shell_.slave, "login terminal of bash (pid 900)"},
        {sys_.path("ttyS1"), "login terminal of agetty (pid 612)"},
        {sys_.path("ttyS0"), "system console"},
        {sys_.path("ttyACM0"), "system console"},
        {"/dev/console", "system console"},
        {sys_.path("ttyUSB1"), ""},
        {"/nonexistent/ttyUSB7", ""},
        {"", ""},
    };
    for (const auto& [path, want] : cases) EXPECT_EQ(ports.reason(path), want) << path;
}

TEST_F(SystemPortsTest, SystemPortsGetNoNumberAndCannotBePinned) {
    link::ComMap m = map();
    EXPECT_EQ(m.present_devices(), std::vector<std::string>{sys_.path("ttyUSB1")});
    EXPECT_EQ(m.skipped_devices(),
              (Pairs{{sys_.path("ttyUSB0"), "login terminal of bash (pid 900)"},
                     {sys_.path("ttyACM0"), "system console"},
                     {sys_.path("ttyS0"), "system console"},
                     {sys_.path("ttyS1"), "login terminal of agetty (pid 612)"}}));

    const Pairs pins = {
        {"COM2=" + sys_.path("ttyS1"), "login terminal of agetty (pid 612)"},
        {"COM3=" + sys_.path("ttyS0"), "system console"},
        {"COM17=" + free_.slave, "expected COMn=PATH with n from 1 to 16"},
        {"COM0=" + free_.slave, "expected COMn=PATH with n from 1 to 16"},
        {"COM16=" + free_.slave, ""},
        {"COM1=" + free_.slave, ""},
    };
    for (const auto& [pin, want] : pins) {
        std::string why = "untouched";
        EXPECT_EQ(m.add_override(pin, &why), want.empty()) << pin;
        EXPECT_EQ(why, want) << pin;
    }
    EXPECT_EQ(m.path(16), free_.slave);
    EXPECT_EQ(m.path(2), "");
}

TEST_F(SystemPortsTest, ScanNeverOpensThemAndTellsWhy) {
    OpenWatch shell(shell_.slave), getty(getty_.slave), console(console_.slave), free(free_.slave);
    ASSERT_TRUE(shell.works() && getty.works() && console.works() && free.works());
    const link::ComMap m = map();
    ModelRig<HurriedClock> rig(m, {sys_.root.dir.string()});
    rig.scan(false);  // every port, all fourteen settings
    EXPECT_EQ(rig.form.pnMsg.caption(), "Reader Not Find");
    EXPECT_TRUE(free.opened());
    EXPECT_FALSE(shell.opened());
    EXPECT_FALSE(getty.opened());
    EXPECT_FALSE(console.opened());
    EXPECT_EQ(free_.drain().find('\t'), 0u);  // presence checks went to the free port only

    const std::string account =
        app::DescribeScan(rig.form.scan_record(), m.present_devices(), rig.serial.skipped_ports());
    EXPECT_NE(account.find(sys_.path("ttyS1") + ": skipped: login terminal of agetty (pid 612)"),
              std::string::npos)
        << account;
    EXPECT_NE(account.find(sys_.path("ttyS0") + ": skipped: system console"), std::string::npos);
    EXPECT_NE(account.find("COM1 (" + sys_.path("ttyUSB1") + ")"), std::string::npos);
    EXPECT_EQ(account.find("COM2 ("), std::string::npos);
}

TEST_F(SystemPortsTest, APinThatBecomesALoginIsNotOpened) {
    link::ComMap m = map();
    ASSERT_TRUE(m.add_override("COM5=" + free_.slave));
    sys_.process(1200, "agetty", 1200, free_.tty_nr());  // a getty started on it since
    OpenWatch watch(free_.slave);
    const termios before = free_.set_distinct_state();
    link::PosixSerialDevice dev(m, {sys_.root.dir.string()});
    EXPECT_FALSE(dev.open(5, "19200,e,8,1"));
    EXPECT_EQ(dev.last_open_failure(),
              "COM5 (" + free_.slave + "): skipped: login terminal of agetty (pid 1200)");
    EXPECT_FALSE(watch.opened());
    expect_same_termios(free_.attrs(), before);
}

TEST_F(SystemPortsTest, AScanLooksOnceAndTheNextOpeningLooksAgain) {
    link::ComMap m = map();
    ASSERT_TRUE(m.add_override("COM6=" + free_.slave));
    link::PosixSerialDevice dev(m, {sys_.root.dir.string()});
    {
        link::ScanScope scan(dev);
        ASSERT_TRUE(dev.open(6, "19200,e,8,1"));
        dev.close();
        sys_.process(1300, "agetty", 1300, free_.tty_nr());
        EXPECT_TRUE(dev.open(6, "9600,e,8,1"));  // the scan's one look
        dev.close();
    }
    EXPECT_FALSE(dev.open(6, "19200,e,8,1"));
    EXPECT_EQ(dev.last_open_failure(),
              "COM6 (" + free_.slave + "): skipped: login terminal of agetty (pid 1300)");
}

TEST(LockFiles, NamesAndContents) {
    const Pairs names = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/5", "LCK..pts_5"},
        {"/tmp/nowhere/line", "LCK..line"},
    };
    for (const auto& [path, want] : names) EXPECT_EQ(link::lock_file_name(path), want) << path;
    TempDir dir;
    fs::create_symlink("/dev/null", dir.dir / "by-id-link");
    EXPECT_EQ(link::lock_file_name((dir.dir / "by-id-link").string()), "LCK..null");

    int32_t binary = 4321;
    const std::pair<std::string, int> contents[] = {
        {"       812\n", 812},
        {"812", 812},
        {"  812 minicom dialout\n", 812},
        {std::string(reinterpret_cast<const char*>(&binary), 4), 4321},
        {"", 0},
        {"\n", 0},
        {"abc\n", 0},
        {"-5\n", 0},
        {"812x\n", 0},
        {"99999999999\n", 0},
        {"         0\n", 0},
    };
    for (const auto& [text, pid] : contents) EXPECT_EQ(link::lock_file_pid(text), pid) << text;
}

// A process that stays alive under a given name until killed.
struct Holder {
    pid_t pid = -1;
    explicit Holder(const char* name) {
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, name);
            for (;;) pause();
        }
        // The name is set by the child; wait until /proc shows it.
        for (int i = 0; i < 1000; ++i) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
            std::string got;
            std::getline(in, got);
            if (got == name) break;
            usleep(1000);
        }
    }
    ~Holder() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

pid_t dead_pid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class LockFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty_.slave.empty());
        fs::create_directories(second_.dir / "sub");
        ASSERT_TRUE(map_.add_override("COM3=" + pty_.slave));
        name_ = link::lock_file_name(pty_.slave);
    }
    std::vector<std::string> dirs() const { return {first_.dir.string(), second_.dir.string()}; }
    void write_lock(const fs::path& dir, const std::string& name, pid_t pid) const {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        std::ofstream(dir / name) << text;
    }

    Pty pty_;
    TempDir first_, second_;
    link::ComMap map_{"/nonexistent-dev", "/nonexistent-sys"};
    std::string name_;
};

TEST_F(LockFileTest, ALiveOwnerMakesThePortBusyAndIsNamed) {
    Holder minicom("minicom");
    const std::string short_name = "LCK.." + pty_.slave.substr(pty_.slave.rfind('/') + 1);
    struct Case {
        const char* what;
        const TempDir* dir;
        std::string name;
    } const cases[] = {
        {"first directory", &first_, name_},
        {"second directory", &second_, name_},
        {"by the last part of the path", &first_, short_name},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_lock(c.dir->dir, c.name, minicom.pid);
        const termios before = pty_.set_distinct_state();
        OpenWatch watch(pty_.slave);
        link::PosixSerialDevice dev(map_, dirs());
        EXPECT_FALSE(dev.open(3, "19200,e,8,1"));
        EXPECT_EQ(dev.last_open_failure(), "COM3 (" + pty_.slave +
                                               "): busy: held by minicom (pid " +
                                               std::to_string(minicom.pid) + ")");
        EXPECT_FALSE(watch.opened());
        expect_same_termios(pty_.attrs(), before);
        EXPECT_EQ(link::lock_file_pid(read_file(c.dir->dir / c.name)), minicom.pid);  // left alone
        EXPECT_FALSE(fs::exists((c.dir == &first_ ? second_ : first_).dir / name_));
        fs::remove(c.dir->dir / c.name);
    }
}

TEST_F(LockFileTest, StaleOrNoLockGivesThePortAndOurOwnLockWhileOpen) {
    const pid_t gone = dead_pid();
    struct Case {
        const char* what;
        std::string stale;  // what the lock file held before, empty: none
    } const cases[] = {
        {"no lock file", ""},
        {"dead owner", std::to_string(gone)},
        {"garbage", "not a pid"},
    };
    const std::string ours = std::to_string(getpid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.stale.empty()) std::ofstream(first_.dir / name_) << c.stale << "\n";
        link::PosixSerialDevice dev(map_, dirs());
        ASSERT_TRUE(dev.open(3, "19200,e,8,1")) << dev.last_open_failure();
        for (const TempDir* d : {&first_, &second_}) {
            const std::string text = read_file(d->dir / name_);
            EXPECT_EQ(text, std::string(10 - ours.size(), ' ') + ours + "\n");
        }
        dev.close();
        EXPECT_EQ(first_.entries(), std::set<std::string>{});
        EXPECT_EQ(second_.entries(), std::set<std::string>{"sub"});
    }
}

TEST_F(LockFileTest, AnUnwritableLockDirectoryDoesNotStopTheTool) {
    ASSERT_TRUE(make_unwritable(first_.dir));
    link::PosixSerialDevice dev(map_, {first_.dir.string(), "/nonexistent-lock-dir"});
    EXPECT_TRUE(dev.open(3, "19200,e,8,1")) << dev.last_open_failure();
    dev.close();
    set_immutable(first_.dir, false);
}

// The line as it was found, after every kind of operation: the whole
// terminal state, field by field, against the simulated reader.
TEST(PortState, EveryKindOfOperationLeavesTheLineAsFound) {
    // At 115200 a template piece leaves ample time in its reply budget, so
    // a busy machine does not turn the read into a failure.
    SimProcess sim({"--card-every-ms", "200", "--baud", "115200", "--parity", "e"});
    ASSERT_FALSE(sim.path().empty());
    TempDir locks;
    link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
    ASSERT_TRUE(map.add_override("COM1=" + sim.path()));
    ModelRig<link::MonotonicClock> rig(map, {locks.dir.string()});
    rig.form.state.link.settings = "115200,e,8,1";
    rig.form.state.link.index = 11;

    const int line = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0);
    termios found{};
    ASSERT_EQ(tcgetattr(line, &found), 0);
    found.c_lflag |= ICANON | ECHO;
    found.c_cc[VMIN] = 3;
    found.c_cc[VTIME] = 9;
    ASSERT_EQ(tcsetattr(line, TCSANOW, &found), 0);
    ASSERT_EQ(tcgetattr(line, &found), 0);

    auto& f = rig.form;
    struct Step {
        const char* what;
        std::function<void()> run;
        std::string outcome;
    } const steps[] = {
        {"scan", [&] { rig.scan(true); }, "Get Reader Info Ok. (COM : #1)"},
        {"short command", [&] { f.press(f.btnCardType); }, "Set Card Type Ok"},
        {"long command",
         [&] {
             f.user_set_text(f.edCRCmd, "HELLO");
             f.press(f.btnCRCmd);
         },
         "Test Command Ok"},
        {"template read", [&] { f.press(f.btnGetTemplate); }, "Test Command Ok"},
        {"live reading",
         [&] {
             rig.pump.after_ms(700, [&] { f.press(f.btnReadCard); });
             f.press(f.btnReadCard);
         },
         ""},
        {"refused settings string",
         [&] {
             f.state.link.settings = "fast";  // does not parse: the line keeps its settings
             f.press(f.btnID);
         },
         ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.run();
        if (!s.outcome.empty()) {
            EXPECT_EQ(f.pnMsg.caption(), s.outcome);
        }
        EXPECT_FALSE(rig.serial.is_open());
        termios now{};
        ASSERT_EQ(tcgetattr(line, &now), 0);
        expect_same_termios(now, found);
        EXPECT_EQ(locks.entries(), std::set<std::string>{});
    }
    ::close(line);
}

TEST(PortState, AClearedLockSweepLeavesTheLineAsFound) {
    Pty pty;
    TempDir locks;
    link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
    ASSERT_TRUE(map.add_override("COM2=" + pty.slave));
    const termios before = pty.set_distinct_state();
    ModelRig<HurriedClock> rig(map, {locks.dir.string()});
    std::vector<std::string> opened;
    rig.scan(false);
    for (const app::PortAttempt& a : rig.form.scan_record()) {
        if (a.opened) opened.push_back(a.settings);
    }
    EXPECT_EQ(opened.size(), 14u);  // all fourteen speeds went over the line
    expect_same_termios(pty.attrs(), before);
    EXPECT_FALSE(pty.exclusive());
}

}  // namespace
}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// The technician's diagnostics: why a real device did not open (rights,
// another program, nothing there), the group advice, finding holders in a
// /proc tree, and the scan's account in the tooltip.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/diagnostics.h"
#include "link/com_map.h"
#include "link/port_diagnostics.h"
#include "link/posix_serial.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;
using app::PortAttempt;
using link::PortHolder;

// Reads everything the other end writes until it closes the pipe.
std::string drain(int fd) {
    std::string got;
    char buf[512];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return got;
}

class OpenCauseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = ptsname(master_);
        ASSERT_TRUE(map_.add_override("COM3=" + slave_));
    }
    void TearDown() override { ::close(master_); }

    // The cause of a failed open of COM3, tried as user nobody (from a child
    // process) when `as_nobody`, else by this process.
    std::string cause(bool as_nobody) {
        if (!as_nobody) {
            link::PosixSerialDevice dev(map_);
            EXPECT_FALSE(dev.open(3, "19200,e,8,1"));
            return dev.last_open_failure();
        }
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(out[0]);
            const passwd* nobody = ::getpwnam("nobody");
            std::string text = "cannot become nobody";
            if (nobody != nullptr && ::setgroups(0, nullptr) == 0 &&
                ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0) {
                link::PosixSerialDevice dev(map_);
                text = dev.open(3, "19200,e,8,1") ? "opened" : dev.last_open_failure();
            }
            (void)!::write(out[1], text.data(), text.size());
            ::_exit(0);
        }
        ::close(out[1]);
        std::string text = drain(out[0]);
        ::waitpid(child, nullptr, 0);
        return text;
    }

    int master_ = -1;
    std::string slave_;
    link::ComMap map_{"/nonexistent-dev", "/nonexistent-sys"};
};

TEST_F(OpenCauseTest, RefusedDeviceNamesTheGroupToJoin) {
    const bool root = ::geteuid() == 0;
    const group* dialout = ::getgrnam("dialout");
    if (root && dialout == nullptr) GTEST_SKIP() << "no group dialout";
    const std::string advice =
        slave_ +
        " belongs to group dialout and you are not in it; run: sudo usermod -aG "
        "dialout nobody, then log out completely and log in again";
    struct Case {
        gid_t group;  // (gid_t)-1: leave as it is
        mode_t mode;
        std::string want;  // after "COM3 (slave): permission denied"
    } const cases[] = {
        // A serial device of the usual kind, and the user not in its group.
        {root ? dialout->gr_gid : static_cast<gid_t>(-1), 0660, root ? ": " + advice : ""},
        // The group has no rights either: no group would help.
        {static_cast<gid_t>(-1), 0000, ""},
    };
    for (const Case& c : cases) {
        if (!root && c.mode != 0000) continue;  // only root can hand the node to dialout
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(::chown(slave_.c_str(), static_cast<uid_t>(-1), c.group), 0);
        ASSERT_EQ(::chmod(slave_.c_str(), c.mode), 0);
        EXPECT_EQ(cause(root), "COM3 (" + slave_ + "): permission denied" + c.want);
    }
}

TEST_F(OpenCauseTest, BusyDeviceNamesTheProgramHoldingIt) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        ::prctl(PR_SET_NAME, "pty-holder");
        const int fd = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::close(ready[1]);
        char c;
        (void)!::read(release[0], &c, 1);  // until the test closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    EXPECT_EQ(drain(ready[0]), "y");

    EXPECT_EQ(cause(false), "COM3 (" + slave_ + "): busy: held by pty-holder (pid " +
                                std::to_string(holder) + ")");

    ::close(release[1]);
    ::waitpid(holder, nullptr, 0);
    ASSERT_TRUE(map_.add_override("COM3=/nonexistent-dev/ttyUSB0"));
    EXPECT_EQ(cause(false), "COM3 (/nonexistent-dev/ttyUSB0): no such device");
}

TEST(GroupAdvice, TellsWhatTheUserLacks) {
    const std::string user = "torvik-no-such-user";  // in no member list
    constexpr gid_t kPrimary = 424242, kUnnamed = 434343;
    const auto not_in = [&](const std::string& g) {
        return "/dev/ttyUSB0 belongs to group " + g +
               " and you are not in it; run: sudo usermod -aG " + g + " " + user +
               ", then log out completely and log in again";
    };
    struct Case {
        gid_t gid;
        std::vector<gid_t> session;
        std::string want;
    } const cases[] = {
        {0, {kPrimary}, not_in("root")},
        {kUnnamed, {}, not_in("434343")},
        // The database has it (the primary group), the session does not.
        {kPrimary,
         {0},
         "/dev/ttyUSB0 belongs to group 424242; you were added to group 424242 but this session "
         "does not have it yet: log out completely and log in again"},
        {kPrimary, {0, kPrimary}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gid);
        EXPECT_EQ(link::group_advice("/dev/ttyUSB0", c.gid, user, kPrimary, c.session), c.want);
    }
}

TEST(FindHolders, ReadsDescriptorsOfAProcTree) {
    const fs::path root = fs::path(testing::TempDir()) / "diag_proc";
    fs::remove_all(root);
    const fs::path proc = root / "proc";
    fs::create_directories(root / "dev");
    std::ofstream(root / "dev" / "ttyUSB3") << "";
    const std::string real_usb3 = fs::canonical(root / "dev" / "ttyUSB3").string();
    fs::create_directories(root / "by-id");
    fs::create_symlink(real_usb3, root / "by-id" / "usb-adapter");
    const auto process = [&](const char* pid, const char* comm, std::vector<std::string> fds) {
        fs::create_directories(proc / pid / "fd");
        if (comm != nullptr) std::ofstream(proc / pid / "comm") << comm << "\n";
        for (size_t i = 0; i < fds.size(); ++i)
            fs::create_symlink(fds[i], proc / pid / "fd" / std::to_string(i));
    };
    process("812", "ModemManager", {"/dev/null", "socket:[1234]", "/dev/ttyUSB0"});
    process("900", "minicom", {"/dev/ttyUSB0"});
    process("901", "bash", {"/dev/ttyUSB1", "/dev/pts/2"});
    process("960", nullptr, {"/dev/ttyUSB0"});
    process("970", "gpsd", {real_usb3});
    fs::create_directories(proc / "950");  // going away: no fd directory
    fs::create_directory_symlink(proc / "900", proc / "self");

    const PortHolder mm{812, "ModemManager"}, minicom{900, "minicom"}, unnamed{960, ""};
    struct Case {
        std::string device;
        int skip;
        std::vector<PortHolder> want;
    } const cases[] = {
        {"/dev/ttyUSB0", -1, {mm, minicom, unnamed}},
        {"/dev/ttyUSB0", 900, {mm, unnamed}},
        {(root / "by-id" / "usb-adapter").string(), -1, {{970, "gpsd"}}},
        {"/dev/ttyACM0", -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const std::vector<PortHolder> got = link::find_holders(c.device, proc.string(), c.skip);
        EXPECT_EQ(got, c.want);
    }
    EXPECT_EQ(link::describe_holders({mm, unnamed}),
              "held by ModemManager (pid 812), a program (pid 960)");
    EXPECT_TRUE(link::find_holders("/dev/ttyUSB0", (root / "none").string()).empty());
    fs::remove_all(root);
}

const std::string kNoDeviceHint =
    "No serial device found: is the USB adapter plugged in? If it disappears right after plug-in, "
    "brltty may have claimed it (look for 'brltty' in: sudo dmesg | grep -i tty; remove it with: "
    "sudo apt remove brltty)";

PortAttempt Tried(int port, std::string device, std::string settings, bool answered = false) {
    PortAttempt a;
    a.port = port;
    a.device = std::move(device);
    a.settings = std::move(settings);
    a.opened = true;
    a.answered = answered;
    return a;
}
PortAttempt Failed(int port, std::string device, std::string cause, std::string settings = "") {
    PortAttempt a;
    a.port = port;
    a.device = std::move(device);
    a.settings = std::move(settings);
    a.cause = std::move(cause);
    return a;
}
PortAttempt Absent(int port) {
    return Failed(port, "", "COM" + std::to_string(port) + ": no such device");
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

TEST(DescribeScan, ListsPortsInOrderWithCausesCollapsed) {
    const std::string mm = "busy: held by ModemManager (pid 812)";
    std::vector<PortAttempt> sweep{
        Failed(3, "/dev/ttyUSB0", "COM3 (/dev/ttyUSB0): " + mm, "19200,e,8,1")};
    for (const char* s : app::kSettingsList) sweep.push_back(Tried(1, "/dev/ttyS0", s));
    sweep.push_back(Failed(2, "/dev/ttyUSB0", "COM2 (/dev/ttyUSB0): " + mm, "4800,n,8,1"));
    std::vector<PortAttempt> none;
    for (int p = 1; p <= 16; ++p) none.push_back(Absent(p));
    sweep.insert(sweep.end(), none.begin() + 2, none.end());
    const PortAttempt refused =
        Failed(1, "/dev/ttyUSB0", "COM1 (/dev/ttyUSB0): permission denied", "19200,e,8,1");

    struct Case {
        const char* name;
        std::vector<PortAttempt> attempts;
        std::vector<std::string> present;
        std::string want;
    } const cases[] = {
        {"sweep",
         sweep,
         {"/dev/ttyUSB0", "/dev/ttyS0"},
         Lines({"The scan tried:", "COM3 (/dev/ttyUSB0) at 19200,e,8,1: " + mm,
                "COM1 (/dev/ttyS0) at 4800,n,8,1 to 230400,e,8,1 (14 settings): no answer",
                "COM2 (/dev/ttyUSB0) at 4800,n,8,1: " + mm, "COM3 to COM16: no such device"})},
        {"nothing plugged in",
         none,
         {},
         Lines({"The scan tried:", "COM1 to COM16: no such device", kNoDeviceHint})},
        {"no scan yet", {}, {}, kNoDeviceHint},
        {"repeats of one port",
         {refused, refused, Tried(2, "/dev/pts/4", "9600,n,8,1"),
          Tried(2, "/dev/pts/4", "19200,e,8,1"), Tried(2, "/dev/pts/4", "38400,n,8,1", true),
          Failed(5, "", "")},
         {},  // a pinned pseudo-terminal opened: no hint
         Lines(
             {"The scan tried:", "COM1 (/dev/ttyUSB0) at 19200,e,8,1 (2 times): permission denied",
              "COM2 (/dev/pts/4) at 9600,n,8,1; 19200,e,8,1: no answer",
              "COM2 (/dev/pts/4) at 38400,n,8,1: answered", "COM5: cannot be opened"})},
        // Ports without device are joined only while their numbers follow on.
        {"gaps",
         {none[0], none[1], none[3]},
         {"/dev/ttyS0"},
         Lines({"The scan tried:", "COM1 to COM2: no such device", "COM4: no such device"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::DescribeScan(c.attempts, c.present), c.want);
    }
}

TEST(DescribeLink, NamesTheAdapterFromTheComMap) {
    link::ComMap map{"/nonexistent-dev", "/nonexistent-sys"};
    std::vector<link::PortInfo> ports(1);
    ports[0].device = "/dev/ttyUSB0";
    ports[0].sys_name = "ttyUSB0";
    ports[0].vendor = "FTDI";
    ports[0].model = "FT232R_USB_UART";
    ports[0].serial = "A1";
    ports[0].by_id = "/dev/serial/by-id/usb-FTDI_A1-if00";
    map.set_port_source([&ports] { return ports; });
    map.set_time_source([] { return int64_t{1'800'000'000}; });
    ASSERT_TRUE(map.add_override("COM2=/dev/pts/77"));
    struct Case {
        int port, language;
        std::string want;
    } const present[] = {
        {1, 0,
         "COM1 = /dev/ttyUSB0, FTDI FT232R USB UART, by-id /dev/serial/by-id/usb-FTDI_A1-if00"},
        {2, 0, "COM2 = /dev/pts/77 (pinned)"},
        {2, 2, "COM2 = /dev/pts/77 (指定)"},
        {5, 0, "COM5: no device"},
        {5, 1, "COM5: 没有设备"},
        {0, 2, "尚無 COM 埠"},
    };
    for (const Case& c : present) EXPECT_EQ(app::DescribeLink(c.port, map, c.language), c.want);
    ports.clear();  // pulled: the number stays kept for it
    EXPECT_EQ(app::DescribeLink(1, map),
              "COM1: no device (kept for FTDI FT232R USB UART, last seen /dev/ttyUSB0)");
}

TEST(DescribeLink, NamesTheDeviceOfTheStoredPort) {
    EXPECT_EQ(app::DescribeLink(3, "/dev/ttyUSB0"), "COM3 = /dev/ttyUSB0");
    EXPECT_EQ(app::DescribeLink(3, ""), "COM3: no device");
    EXPECT_EQ(app::DescribeLink(0, ""), "no COM port yet");
}

// The scan on the in-process line: its record lists every opening in the
// order tried, with settings, open result and answer, and is handed over.
TEST(DescribeScan, ScanRecordFollowsTheSweep) {
    Harness h;
    auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
    key["ScanCommNo"] = {app::ValueType::Dword, 2, {}};  // stored, but busy now
    key["ScanBaudRate"] = {app::ValueType::String, 0, "19200,e,8,1"};
    key["ScanBaudRateNo"] = {app::ValueType::Dword, 5, {}};
    h.line.set_port(1, doubles::FakeLine::PortKind::Silent);
    h.line.set_port(2, doubles::FakeLine::PortKind::Busy);
    std::vector<PortAttempt> reported;
    h.form.core.on_scan_finished = [&](const std::vector<PortAttempt>& record) {
        reported = record;
    };
    h.start();
    h.form.chkLock.set_checked(false);
    h.form.press(h.form.btnScan);
    ASSERT_TRUE(h.form.state.reader_found);

    std::vector<std::tuple<int, std::string, bool, bool>> want{{2, "19200,e,8,1", false, false}};
    for (const char* s : app::kSettingsList) want.emplace_back(1, s, true, false);
    want.emplace_back(2, "4800,n,8,1", false, false);
    for (size_t i = 0; i < 6; ++i) want.emplace_back(3, app::kSettingsList[i], true, i == 5);
    std::vector<std::tuple<int, std::string, bool, bool>> got;
    for (const PortAttempt& a : h.form.scan_record()) {
        got.emplace_back(a.port, a.settings, a.opened, a.answered);
        EXPECT_EQ(a.device, "sim:COM" + std::to_string(a.port));
        EXPECT_EQ(a.cause.empty(), a.opened) << a.cause;
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(reported.size(), h.form.scan_record().size());
}

}  // namespace
}  // namespace torvik::test

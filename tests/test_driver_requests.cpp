// SPDX-License-Identifier: MIT
// RS-485 direction and low latency, asked of the port's driver: a stand-in
// driver (a pseudo-terminal has neither) records every request, so that
// what the serial device asks, verifies and puts back is seen exactly, at
// a normal close, when the driver refuses, and when a signal ends the
// program. The real programs over a pseudo-terminal refuse --rs485 with
// the reason and leave the line alone.
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/com_map.h"
#include "link/driver_requests.h"
#include "link/exit_cleanup.h"
#include "link/posix_serial.h"
#include "tests/child_process.h"
#include "tests/port_rig.h"
#include "tests/scratch_dir.h"
#include "tests/sim_process.h"

namespace torvik::test {
namespace {

// The stand-in driver: what it holds, how it answers, and every request in
// order. Plain static data, so that a signal handler may use it.
struct Driver {
    bool has_rs485 = true;
    bool refuses_rs485 = false;  // the set request fails
    bool ignores_rs485 = false;  // the set request "works" but changes nothing
    bool has_serial = true;
    serial_rs485 rs485{};
    serial_struct serial{};
    struct Request {
        unsigned long what;
        serial_rs485 rs485;
        serial_struct serial;
    };
    Request log[32];
    int logged = 0;
    int report_fd = -1;  // a child reports its requests through a pipe
};
Driver g_driver;

int StandIn(int, unsigned long request, void* arg) {
    Driver& d = g_driver;
    Driver::Request r{request, {}, {}};
    int result = 0;
    switch (request) {
        case TIOCGRS485:
            if (!d.has_rs485) {
                errno = ENOTTY;
                return -1;
            }
            std::memcpy(arg, &d.rs485, sizeof d.rs485);
            break;
        case TIOCSRS485:
            std::memcpy(&r.rs485, arg, sizeof r.rs485);
            if (d.refuses_rs485) {
                errno = EINVAL;
                result = -1;
            } else if (!d.ignores_rs485) {
                d.rs485 = r.rs485;
            }
            break;
        case TIOCGSERIAL:
            if (!d.has_serial) {
                errno = ENOTTY;
                return -1;
            }
            std::memcpy(arg, &d.serial, sizeof d.serial);
            break;
        case TIOCSSERIAL:
            std::memcpy(&r.serial, arg, sizeof r.serial);
            d.serial = r.serial;
            break;
        default:
            return ::ioctl(0, request, arg);
    }
    if (request == TIOCSRS485 || request == TIOCSSERIAL) {
        if (d.logged < 32) d.log[d.logged++] = r;
        if (d.report_fd >= 0) (void)!::write(d.report_fd, &r, sizeof r);
    }
    return result;
}

// A driver as a board's UART leaves it: RS-485 off, RTS after send, no
// delays; low latency off.
void Reset(Driver& d) {
    d = Driver{};
    d.rs485.flags = SER_RS485_RTS_AFTER_SEND;
    d.serial.flags = 0;
    d.serial.xmit_fifo_size = 16;  // something of its own, kept as it is
}

struct Rig {
    Rig() {
        Reset(g_driver);
        link::SetDriverRequest(&StandIn);
        EXPECT_TRUE(map.add_override("COM1=" + pty.slave));
        before = pty.set_distinct_state();
    }
    ~Rig() { link::SetDriverRequest(nullptr); }
    Pty pty;
    termios before{};
    link::ComMap map{"/nonexistent-dev", "/nonexistent-sys"};
    TempDir locks;
};

bool SameRs485(const serial_rs485& a, const serial_rs485& b) {
    return a.flags == b.flags && a.delay_rts_before_send == b.delay_rts_before_send &&
           a.delay_rts_after_send == b.delay_rts_after_send;
}

TEST(DriverRequests, Rs485AndLowLatencyAreAskedVerifiedAndPutBack) {
    struct Case {
        const char* name;
        link::LineOptions options;
        void (*driver)(Driver&);
        bool opens;
        const char* refusal;  // in the failure text
    } cases[] = {
        {"RS-485 with delays", {true, 2, 3, false}, [](Driver&) {}, true, ""},
        {"low latency", {false, 0, 0, true}, [](Driver&) {}, true, ""},
        {"both", {true, 0, 0, true}, [](Driver&) {}, true, ""},
        {"a driver without RS-485 (a USB adapter, a pty)",
         {true, 0, 0, false},
         [](Driver& d) { d.has_rs485 = false; },
         false,
         "no RS-485 mode in this port's driver"},
        {"a driver that refuses it", {true, 0, 0, false},
         [](Driver& d) { d.refuses_rs485 = true; }, false, "did not take the RS-485 mode"},
        {"a driver that says yes and does nothing",
         {true, 0, 0, false},
         [](Driver& d) { d.ignores_rs485 = true; },
         false,
         "did not take the RS-485 mode"},
        {"low latency not offered: the port still opens", {false, 0, 0, true},
         [](Driver& d) { d.has_serial = false; }, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.driver(g_driver);
        const serial_rs485 rs485_before = g_driver.rs485;
        const serial_struct serial_before = g_driver.serial;
        link::PosixSerialDevice dev(rig.map, {rig.locks.dir.string()});
        dev.set_line_options(c.options);
        ASSERT_EQ(dev.open(1, "19200,e,8,1"), c.opens) << dev.last_open_failure();
        if (!c.opens) {
            EXPECT_NE(dev.last_open_failure().find(c.refusal), std::string::npos)
                << dev.last_open_failure();
        } else {
            if (c.options.rs485) {
                EXPECT_TRUE(g_driver.rs485.flags & SER_RS485_ENABLED);
                EXPECT_TRUE(g_driver.rs485.flags & SER_RS485_RTS_ON_SEND);
                EXPECT_FALSE(g_driver.rs485.flags & SER_RS485_RTS_AFTER_SEND);
                EXPECT_EQ(g_driver.rs485.delay_rts_before_send, c.options.rs485_delay_before_ms);
                EXPECT_EQ(g_driver.rs485.delay_rts_after_send, c.options.rs485_delay_after_ms);
            }
            if (c.options.low_latency && g_driver.has_serial) {
                EXPECT_TRUE(g_driver.serial.flags & ASYNC_LOW_LATENCY);
            }
            dev.close();
        }
        // Given back as found, whether it was used or refused.
        EXPECT_TRUE(SameRs485(g_driver.rs485, rs485_before));
        EXPECT_EQ(g_driver.serial.flags, serial_before.flags);
        EXPECT_EQ(g_driver.serial.xmit_fifo_size, serial_before.xmit_fifo_size);
        EXPECT_FALSE(rig.pty.exclusive());
        expect_same_termios(rig.pty.attrs(), rig.before);
    }
}

TEST(DriverRequests, ASignalPutsTheDriverBackToo) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        Rig rig;
        int report[2], ready[2];
        ASSERT_EQ(pipe(report), 0);
        ASSERT_EQ(pipe(ready), 0);
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
            link::InstallExitCleanup();
            g_driver.report_fd = report[1];
            link::PosixSerialDevice dev(rig.map, {rig.locks.dir.string()});
            dev.set_line_options({true, 5, 5, true});
            if (!dev.open(1, "19200,e,8,1")) _exit(98);
            (void)!::write(ready[1], "x", 1);
            for (;;) pause();
        }
        ::close(report[1]);
        ::close(ready[1]);
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        kill(child, sig);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        std::vector<Driver::Request> requests;
        for (Driver::Request r{}; ::read(report[0], &r, sizeof r) == sizeof r;)
            requests.push_back(r);
        ::close(report[0]);
        ::close(ready[0]);
        // Set at the opening, put back by the handler: the last of each kind
        // is the driver as it was found.
        serial_rs485 last_rs485{};
        serial_struct last_serial{};
        int rs485_sets = 0, serial_sets = 0;
        for (const auto& r : requests) {
            if (r.what == TIOCSRS485) last_rs485 = r.rs485, ++rs485_sets;
            if (r.what == TIOCSSERIAL) last_serial = r.serial, ++serial_sets;
        }
        EXPECT_EQ(rs485_sets, 2);
        EXPECT_EQ(serial_sets, 2);
        EXPECT_TRUE(SameRs485(last_rs485, g_driver.rs485));
        EXPECT_EQ(last_serial.flags, g_driver.serial.flags);
        EXPECT_FALSE(rig.pty.exclusive());
        expect_same_termios(rig.pty.attrs(), rig.before);
    }
}

TEST(DriverRequests, ProgramsRefuseRs485OnAPortWithoutItAndLeaveTheLineAlone) {
    SimProcess sim({});
    ASSERT_FALSE(sim.path().empty());
    TempDir dir;
    termios before{};
    {
        const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(tcgetattr(fd, &before), 0);
        ::close(fd);
    }
    const ProgramRun r = RunProgram({TORVIK_CTL_BINARY, "--settings",
                                     (dir.dir / "settings.reg").string(), "--port",
                                     "COM1=" + sim.path(), "--rs485", "scan"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("no RS-485 mode in this port's driver"), std::string::npos) << r.err;
    const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    ::close(fd);
    expect_same_termios(after, before);
}

TEST(DriverRequests, DelaysAndLatencyTimerParse) {
    EXPECT_EQ(link::ParseRs485Delays("0,0"), std::make_pair(0u, 0u));
    EXPECT_EQ(link::ParseRs485Delays("2,10"), std::make_pair(2u, 10u));
    EXPECT_EQ(link::ParseRs485Delays("1000,1000"), std::make_pair(1000u, 1000u));
    for (const char* bad : {"", "2", "2,", ",2", "1001,0", "-1,2", "2;3", "2,3,4", " 2,3"})
        EXPECT_FALSE(link::ParseRs485Delays(bad)) << bad;

    // An FTDI adapter tells its latency timer beside its tty in sysfs.
    TempDir sys;
    std::filesystem::create_directories(sys.dir / "class/tty/ttyUSB7/device");
    std::ofstream(sys.dir / "class/tty/ttyUSB7/device/latency_timer") << "16\n";
    std::ofstream(sys.dir / "ttyUSB7");  // stands for /dev/ttyUSB7
    EXPECT_EQ(link::read_latency_timer((sys.dir / "ttyUSB7").string(), sys.dir.string()), 16u);
    std::ofstream(sys.dir / "ttyS3");
    EXPECT_FALSE(link::read_latency_timer((sys.dir / "ttyS3").string(), sys.dir.string()));
}

}  // namespace
}  // namespace torvik::test

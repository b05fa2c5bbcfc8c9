// SPDX-License-Identifier: MIT
// The production serial device against real pseudo-terminals, the COM number
// mapping against a fake /dev and /sys tree, and the monotonic clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "tests/port_rig.h"
#include "tests/scratch_dir.h"

namespace torvik::link {
namespace {

namespace fs = std::filesystem;
using Ms = std::chrono::duration<double, std::milli>;
using Steady = std::chrono::steady_clock;

TEST(PosixSerialSettings, ParsesAndRefuses) {
    const std::pair<const char*, LineSettings> good[] = {
        {"19200,e,8,1", {19200, 'e', 8, 1}},   {"9600,N,8,1", {9600, 'n', 8, 1}},
        {"115200,o,7,2", {115200, 'o', 7, 2}}, {"230400,n,5,1", {230400, 'n', 5, 1}},
        {"110,M,6,2", {110, 'm', 6, 2}},       {" 4800 , s ,8, 1 ", {4800, 's', 8, 1}},
    };
    for (const auto& [text, want] : good) EXPECT_EQ(parse_line_settings(text), want) << text;

    for (const char* text : {"",
                             ",,,",
                             "19200",
                             "19200,e,8",
                             "19200,e,8,1,",
                             "abc,e,8,1",
                             "9600.0,n,8,1",
                             "+9600,n,8,1",
                             "19201,e,8,1",
                             "0,n,8,1",
                             "75,n,8,1",
                             "460800,n,8,1",
                             "99999999999999999999,n,8,1",
                             "19200,x,8,1",
                             "19200,ee,8,1",
                             "19200,,8,1",
                             "19200,e,9,1",
                             "19200,e,4,1",
                             "19200,e,8,0",
                             "19200,e,8,3",
                             "19200,e,8,1.5",
                             "19200;e;8;1"}) {
        EXPECT_FALSE(parse_line_settings(text).has_value()) << '"' << text << '"';
    }
}

constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

TEST(PosixSerialSettings, MapsOntoTerminalFlags) {
    struct Case {
        LineSettings line;
        speed_t speed;
        tcflag_t bits;
    } const cases[] = {
        {{19200, 'e', 8, 1}, B19200, CS8 | PARENB},
        {{9600, 'o', 7, 2}, B9600, CS7 | PARENB | PARODD | CSTOPB},
        {{115200, 'n', 8, 1}, B115200, CS8},
        {{4800, 'm', 6, 1}, B4800, CS6 | PARENB | PARODD | CMSPAR},
        {{2400, 's', 5, 2}, B2400, CS5 | PARENB | CMSPAR | CSTOPB},
    };
    for (const Case& c : cases) {
        termios t{};  // every line bit set beforehand, so stale ones show
        t.c_cflag = kLineBits | CLOCAL | CREAD;
        apply_line_settings(t, c.line);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.line.baud;
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.line.baud;
        EXPECT_EQ(t.c_cflag & kLineBits, c.bits) << c.line.baud;
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    }
}

// The slave side of a pseudo-terminal plays the serial device, the master is
// the far end. Termios requests on the master act on the slave's settings.
// A pty keeps speed, stop bits and PARODD/CMSPAR but forces eight data bits
// without PARENB, hence kPtyBits.
constexpr tcflag_t kPtyBits = PARODD | CMSPAR | CSTOPB;

class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = ptsname(master_);
        ASSERT_TRUE(map_.add_override("COM3=" + slave_));
    }
    void TearDown() override { unplug(); }

    void unplug() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    termios attrs() const {
        termios t{};
        EXPECT_EQ(tcgetattr(master_, &t), 0);
        return t;
    }
    void set_attrs(const termios& t) const { ASSERT_EQ(tcsetattr(master_, TCSANOW, &t), 0); }
    std::string receive(size_t count) const {
        std::string got;
        for (const auto until = Steady::now() + std::chrono::seconds(3);
             got.size() < count && Steady::now() < until;) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<size_t>(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return got;
    }

    // Lock files go to a scratch directory, never to the system's.
    std::vector<std::string> locks() const { return {lock_dir_.dir.string()}; }

    int master_ = -1;
    std::string slave_;
    ComMap map_{"/nonexistent-dev", "/nonexistent-sys"};
    test::TempDir lock_dir_;
};

TEST_F(PosixSerialTest, OpenAppliesRawModeTimeoutsAndSettings) {
    struct Case {
        const char* settings;
        speed_t speed;
        tcflag_t bits;
    } const cases[] = {
        {"9600,o,7,2", B9600, PARODD | CSTOPB},
        {"2400,s,5,2", B2400, CMSPAR | CSTOPB},
        {"19200,e,8,1", B19200, 0},
        // Refused strings leave the line as it was found.
        {"", B1200, PARODD},
        {"fast", B1200, PARODD},
        {"19201,n,8,2", B1200, PARODD},
        {"19200,m,8,1.5", B1200, PARODD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        termios before = attrs();  // cooked, flow control on, blocking reads
        before.c_lflag |= ICANON | ECHO | ISIG;
        before.c_oflag |= OPOST;
        before.c_cflag |= CRTSCTS | PARODD;
        before.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CMSPAR | CLOCAL);
        before.c_iflag |= IXON | IXOFF;
        before.c_cc[VMIN] = 5;
        before.c_cc[VTIME] = 7;
        cfsetispeed(&before, B1200);
        cfsetospeed(&before, B1200);
        set_attrs(before);
        before = attrs();  // as the pty keeps it

        PosixSerialDevice dev(map_, locks());
        ASSERT_TRUE(dev.open(3, c.settings)) << dev.last_open_failure();
        termios t = attrs();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & kPtyBits, c.bits);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);

        dev.close();  // the whole line back as it was found
        test::expect_same_termios(attrs(), before);
    }
}

TEST_F(PosixSerialTest, PortIsHeldExclusively) {
    PosixSerialDevice first(map_, locks()), second(map_, locks());
    ASSERT_TRUE(first.open(3, "19200,o,8,1"));
    const termios held = attrs();

    EXPECT_FALSE(second.open(3, "9600,n,8,2"));  // another handle
    EXPECT_EQ(second.last_open_failure(), "COM3 (" + slave_ + "): busy (held by another program)");
    EXPECT_FALSE(first.open(3, "9600,n,8,2"));  // the same handle again
    EXPECT_TRUE(first.is_open());
    // Neither refused open touched the line, which still works.
    const termios now = attrs();
    EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&held));
    EXPECT_EQ(now.c_cflag, held.c_cflag);
    first.write(reinterpret_cast<const uint8_t*>("ping"), 4);
    EXPECT_EQ(receive(4), "ping");

    first.close();
    EXPECT_TRUE(second.open(3, "9600,n,8,2")) << second.last_open_failure();
    EXPECT_EQ(second.last_open_failure(), "");
}

TEST_F(PosixSerialTest, FailedOpensNameTheCause) {
    const std::string plain = testing::TempDir() + "posix_serial_plain";
    const std::string locked = testing::TempDir() + "posix_serial_locked";
    std::ofstream(plain) << "x";
    std::ofstream(locked) << "x";
    fs::permissions(locked, fs::perms::none);
    ASSERT_TRUE(map_.add_override("COM5=/nonexistent-dev/ttyUSB9"));
    ASSERT_TRUE(map_.add_override("COM6=" + plain));
    ASSERT_TRUE(map_.add_override("COM7=" + locked));
    const std::string directory = lock_dir_.dir.string();
    ASSERT_TRUE(map_.add_override("COM8=" + directory));
    const std::pair<int, std::string> cases[] = {
        {8, "COM8 (" + directory + "): not a serial device"},
        {4, "COM4: no such device"},
        {0, "COM0: no such device"},
        {5, "COM5 (/nonexistent-dev/ttyUSB9): no such device"},
        {6, "COM6 (" + plain + "): not a serial device"},
        {7, geteuid() == 0 ? "" : "COM7 (" + locked + "): permission denied"},
    };
    for (const auto& [number, text] : cases) {
        if (text.empty()) continue;  // root opens any file
        PosixSerialDevice dev(map_, locks());
        EXPECT_FALSE(dev.open(number, "19200,e,8,1"));
        EXPECT_FALSE(dev.is_open());
        EXPECT_EQ(dev.last_open_failure(), text);
    }
    fs::remove(plain);
    fs::remove(locked);
}

TEST_F(PosixSerialTest, ReadsTakeAboutOneMillisecond) {
    PosixSerialDevice dev(map_, locks());
    ASSERT_TRUE(dev.open(3, "19200,e,8,1"));
    uint8_t byte = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = Steady::now();
        EXPECT_FALSE(dev.read_byte(byte));
        EXPECT_LT(Ms(Steady::now() - start).count(), 50.0);
    }
    ASSERT_EQ(::write(master_, "AB", 2), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(dev.read_byte(byte));  // waiting bytes come at once, in order
    EXPECT_EQ(byte, 'A');
    ASSERT_TRUE(dev.read_byte(byte));
    EXPECT_EQ(byte, 'B');
    EXPECT_FALSE(dev.read_byte(byte));
}

TEST_F(PosixSerialTest, WritesWholeBlocksAndGivesUpOnAStuckLine) {
    PosixSerialDevice dev(map_, locks());
    ASSERT_TRUE(dev.open(3, "19200,e,8,1"));
    std::string sent;
    for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<char>(i));  // CR, LF, XON alike
    std::string got;
    std::thread far_end([&] { got = receive(sent.size()); });
    dev.write(reinterpret_cast<const uint8_t*>(sent.data()), sent.size());
    far_end.join();
    EXPECT_EQ(got, sent);

    // Nobody reads: a block far larger than the buffers must not hang.
    const std::vector<uint8_t> block(1 << 20, 0x55);
    const auto start = Steady::now();
    dev.write(block.data(), block.size());
    EXPECT_LT(Ms(Steady::now() - start).count(), 5000.0);
}

double cpu_ms() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

TEST_F(PosixSerialTest, UnpluggedLineNeitherHangsNorSpins) {
    PosixSerialDevice dev(map_, locks());
    ASSERT_TRUE(dev.open(3, "19200,e,8,1"));
    unplug();
    uint8_t byte = 0;
    const double cpu_start = cpu_ms();
    const auto start = Steady::now();
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(dev.read_byte(byte));
    const double wall = Ms(Steady::now() - start).count();
    const double cpu = cpu_ms() - cpu_start;
    EXPECT_GE(wall, 150.0);
    EXPECT_LT(cpu, wall * 0.5) << "cpu " << cpu << " ms over " << wall << " ms";

    const auto before = Steady::now();
    dev.write(&byte, 1);
    dev.close();
    EXPECT_LT(Ms(Steady::now() - before).count(), 2000.0);
}

class ComMapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::path(testing::TempDir()) / ("com_map_" + std::to_string(getpid()));
        fs::create_directories(root_ / "dev");
        for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2",
                                 "ttyS3", "tty0", "ttyUSB", "ttyUSBx", "ttyAMA0", "console"}) {
            touch(name);
        }
        uart("ttyS0", "4\n");
        uart("ttyS1", "0\n");  // no UART behind it
        uart("ttyS3", "junk");
        // ttyS2 has no type file at all
    }
    void TearDown() override { fs::remove_all(root_); }

    void touch(const std::string& name) { std::ofstream(root_ / "dev" / name); }
    void uart(const std::string& name, const char* type) {
        fs::create_directories(root_ / "sys/class/tty" / name);
        std::ofstream(root_ / "sys/class/tty" / name / "type") << type;
    }
    std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    ComMap map() const { return ComMap((root_ / "dev").string(), (root_ / "sys").string()); }

    fs::path root_;
};

TEST_F(ComMapTest, NumbersPresentDevicesInStableOrder) {
    const ComMap m = map();
    using List = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(
        m.list(),
        (List{{1, dev("ttyUSB2")}, {2, dev("ttyUSB10")}, {3, dev("ttyACM0")}, {4, dev("ttyS0")}}));
    EXPECT_EQ(m.path(3), dev("ttyACM0"));
    for (int n : {-1, 0, 5}) EXPECT_EQ(m.path(n), "") << n;

    // Plugged in while running: the new device gets the next free number,
    // and the numbers already given stay with their devices.
    touch("ttyUSB0");
    EXPECT_EQ(m.path(1), dev("ttyUSB2"));
    EXPECT_EQ(m.path(4), dev("ttyS0"));
    EXPECT_EQ(m.path(5), dev("ttyUSB0"));

    EXPECT_TRUE(ComMap((root_ / "nope").string()).list().empty());
}

TEST_F(ComMapTest, OverridesWinAndBadOnesAreRefused) {
    ComMap m = map();
    for (const char* text :
         {"", "COM", "COM3", "COM3=", "COM=/x", "3=/x", "COM0=/x", "COM-1=/x", "COM+1=/x",
          "COMx=/x", "COM 3=/x", "COM3 =/x", " COM3=/x", "PORT3=/x", "COM99999999999=/x"}) {
        EXPECT_FALSE(m.add_override(text)) << '"' << text << '"';
    }
    EXPECT_EQ(m.list().size(), 4u);

    EXPECT_TRUE(m.add_override("COM2=/dev/pts/9"));
    EXPECT_TRUE(m.add_override("com7=/tmp/line=a"));
    EXPECT_TRUE(m.add_override("Com4=/dev/pts/1"));
    EXPECT_TRUE(m.add_override("cOM4=/dev/pts/4"));  // the later pin wins
    using List = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(m.list(), (List{{1, dev("ttyUSB2")},
                              {2, "/dev/pts/9"},
                              {3, dev("ttyACM0")},
                              {4, "/dev/pts/4"},
                              {7, "/tmp/line=a"}}));
    EXPECT_EQ(m.path(2), "/dev/pts/9");
}

void ignore_signal(int) {}

TEST(PosixSerialClock, SleepLastsThroughSignals) {
    struct sigaction action = {};
    struct sigaction old = {};
    action.sa_handler = ignore_signal;  // no SA_RESTART: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
    const pthread_t sleeper = pthread_self();
    std::atomic<bool> done{false};
    std::thread poker([&] {
        for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            pthread_kill(sleeper, SIGUSR1);
        }
    });
    MonotonicClock clock;
    const uint32_t start = clock.now_ms();
    clock.sleep_ms(80);
    const uint32_t elapsed = elapsed_ms(start, clock.now_ms());
    done = true;
    poker.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GE(elapsed, 79u);
    EXPECT_LT(elapsed, 2000u);
}

}  // namespace
}  // namespace torvik::link

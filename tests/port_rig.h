// SPDX-License-Identifier: MIT
// Pieces for tests of port safety: real pseudo-terminals, a fake /sys and
// /proc tree, a watch that tells whether anybody opened a device, and the
// window model over the production serial device.
#pragma once
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/window_model.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "ops/reader_operations.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/harness.h"
#include "tests/scratch_dir.h"
#include "tests/wall_pump.h"

namespace torvik::test {

// A pseudo-terminal: the slave plays the serial device, the master the far
// end. Termios requests on the master act on the slave's settings.
struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    termios attrs() const {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }
    void set_attrs(const termios& t) const { tcsetattr(master, TCSANOW, &t); }
    // A state no program of ours would leave: cooked, echo, flow control,
    // odd parity, 1200 baud, blocking reads of 5 bytes.
    termios set_distinct_state() const {
        termios t = attrs();
        t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        t.c_oflag |= OPOST | ONLCR;
        t.c_iflag |= IXON | IXOFF | ICRNL;
        t.c_cflag |= CRTSCTS | PARODD | HUPCL;
        t.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        t.c_cc[VMIN] = 5;
        t.c_cc[VTIME] = 7;
        cfsetispeed(&t, B1200);
        cfsetospeed(&t, B1200);
        set_attrs(t);
        return attrs();
    }
    dev_t device() const {
        struct stat st {};
        ::stat(slave.c_str(), &st);
        return st.st_rdev;
    }
    // The device number as field 7 (tty_nr) of /proc/PID/stat encodes it.
    long tty_nr() const {
        const dev_t d = device();
        const unsigned maj = major(d), min = minor(d);
        return static_cast<long>((min & 0xff) | (maj << 8) | ((min & ~0xffu) << 12));
    }
    // Whether the tty's exclusive flag is set.
    bool exclusive() const {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno == EBUSY;
        int on = 0;
        ioctl(fd, TIOCGEXCL, &on);
        ::close(fd);
        return on != 0;
    }
    // Reads what the tool sent, without waiting.
    std::string drain() const {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        return got;
    }
};

// Field by field, so that a difference names what was left changed.
inline void expect_same_termios(const termios& got, const termios& want) {
    EXPECT_EQ(got.c_iflag, want.c_iflag) << "input modes";
    EXPECT_EQ(got.c_oflag, want.c_oflag) << "output modes";
    EXPECT_EQ(got.c_cflag, want.c_cflag) << "control modes";
    EXPECT_EQ(got.c_lflag, want.c_lflag) << "local modes";
    EXPECT_EQ(got.c_line, want.c_line) << "line discipline";
    for (size_t i = 0; i < NCCS; ++i) EXPECT_EQ(got.c_cc[i], want.c_cc[i]) << "c_cc[" << i << "]";
    EXPECT_EQ(cfgetispeed(&got), cfgetispeed(&want)) << "input speed";
    EXPECT_EQ(cfgetospeed(&got), cfgetospeed(&want)) << "output speed";
}

// Tells whether a file was opened by anybody since the watch was set.
class OpenWatch {
  public:
    explicit OpenWatch(const std::string& path) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) ok_ = inotify_add_watch(fd_, path.c_str(), IN_OPEN) >= 0;
    }
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool works() const { return ok_; }
    bool opened() {
        alignas(inotify_event) char buf[4096];
        bool any = false;
        while (::read(fd_, buf, sizeof buf) > 0) any = true;
        return any;
    }

  private:
    int fd_ = -1;
    bool ok_ = false;
};

// A fake /dev, /sys and /proc in a scratch directory.
struct FakeSystem {
    TempDir root;
    std::string dev() const { return (root.dir / "dev").string(); }
    std::string sys() const { return (root.dir / "sys").string(); }
    std::string proc() const { return (root.dir / "proc").string(); }

    FakeSystem() {
        for (const char* d : {"dev", "sys/class/tty/console", "proc"}) {
            std::filesystem::create_directories(root.dir / d);
        }
    }
    void consoles(const std::string& names) const {
        std::ofstream(root.dir / "sys/class/tty/console/active") << names << "\n";
    }
    // A node in the fake /dev: a link to `target`, or a plain file.
    void node(const std::string& name, const std::string& target = {}) const {
        if (target.empty()) {
            std::ofstream(root.dir / "dev" / name);
        } else {
            std::filesystem::create_symlink(target, root.dir / "dev" / name);
        }
    }
    void uart(const std::string& name, const std::string& dev_number = {}) const {
        const auto dir = root.dir / "sys/class/tty" / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "type") << "4\n";
        if (!dev_number.empty()) std::ofstream(dir / "dev") << dev_number << "\n";
    }
    void process(int pid, const std::string& name, int session, long tty_nr) const {
        const auto dir = root.dir / "proc" / std::to_string(pid);
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "stat") << pid << " (" << name << ") S 1 " << session << " " << session
                                    << " " << tty_nr << " -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0\n";
        std::ofstream(dir / "comm") << name << "\n";
    }
    void raw_stat(const std::string& pid, const std::string& text) const {
        const auto dir = root.dir / "proc" / pid;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "stat") << text;
    }
    std::string path(const std::string& dev_name) const { return dev() + "/" + dev_name; }
};

// Milliseconds that pass at every look at the clock: a silent line costs a
// few real milliseconds per exchange instead of its 200 ms budget.
class HurriedClock final : public link::Clock {
  public:
    uint32_t now_ms() override { return now_ += 40; }
    void sleep_ms(uint32_t ms) override { now_ += ms; }

  private:
    uint32_t now_ = 0;
};

// The window model over the production serial device, on a given map.
template <class ClockType>
struct ModelRig {
    ModelRig(const link::ComMap& map, std::vector<std::string> lock_dirs)
        : serial(map, std::move(lock_dirs)),
          form(app::Services{serial, clock, pump, beeper, cursor, errors, store}) {
        ops::BindOperations(form);
        form.FormCreate();
        form.FormShow();
    }
    void scan(bool locked) {
        form.user_set_checked(form.chkLock, locked);
        form.press(form.btnScan);
    }
    link::PosixSerialDevice serial;
    ClockType clock;
    WallPump pump;
    QuietBeeper beeper;
    TestCursor cursor;
    TestErrors errors;
    doubles::MemorySettingsStore store;
    app::TfrmModule form;
};

}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// A port's exclusive flag outlives a program killed with SIGKILL while any
// other program keeps the port open. The tool then names the flag as left
// by a program that ended, instead of naming the program that merely has
// the port open; a program that locks the port is still named as its
// holder; and root, where nobody else has the port open, takes the flag
// over, clears it at close and says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "link/posix_serial.h"
#include "link/uucp_lock.h"
#include "tests/child_process.h"
#include "tests/port_rig.h"

namespace torvik::test {
namespace {

class ExclusiveFlagTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty_.slave.empty());
        ASSERT_TRUE(map_.add_override("COM3=" + pty_.slave));
        // Others may open the line and read the lock directory, as on a
        // machine where the serial group holds the technicians.
        ASSERT_EQ(::chmod(pty_.slave.c_str(), 0666), 0);
        ASSERT_EQ(::chmod(locks_.dir.c_str(), 0755), 0);
    }

    // What SIGKILL leaves of a program that held the port the tool's way:
    // the flag set, and its lock file (when `lock_file`) naming it though
    // it is gone.
    void killed_holder(bool lock_file) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(pty_.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0) ::_exit(1);
            if (lock_file) {
                const std::string path = locks_.dir.string() + "/" + link::lock_file_name(pty_.slave);
                if (FILE* f = std::fopen(path.c_str(), "w")) {
                    std::fprintf(f, "%10d\n", static_cast<int>(::getpid()));
                    std::fclose(f);
                    ::chmod(path.c_str(), 0644);
                }
            }
            ::_exit(0);  // without clearing anything
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_TRUE(pty_.exclusive());
    }

    // The outcome of opening COM3: "opened" (and what the opening said), or
    // why not; as user nobody from a child process when `as_nobody`.
    std::string open_port(bool as_nobody) {
        const auto attempt = [this] {
            link::PosixSerialDevice dev(map_, {locks_.dir.string()});
            if (!dev.open(3, "19200,e,8,1")) return dev.last_open_failure();
            std::string text = "opened";
            if (!dev.last_open_note().empty()) text += ": " + dev.last_open_note();
            dev.close();
            return text;
        };
        if (!as_nobody) return attempt();
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(out[0]);
            const passwd* nobody = ::getpwnam("nobody");
            std::string text = "cannot become nobody";
            if (nobody != nullptr && ::setgroups(0, nullptr) == 0 &&
                ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0) {
                text = attempt();
            }
            (void)!::write(out[1], text.data(), text.size());
            ::_exit(0);
        }
        ::close(out[1]);
        std::string text;
        char buf[512];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
        ::close(out[0]);
        ::waitpid(child, nullptr, 0);
        return text;
    }

    std::string busy(const std::string& detail) const {
        return "COM3 (" + pty_.slave + "): busy" + detail;
    }

    Pty pty_;
    link::ComMap map_{"/nonexistent-dev", "/nonexistent-sys"};
    // Reached by user nobody too, so not below a private TMPDIR.
    TempDir locks_{"/tmp"};
};

const std::string kLeft =
    ": the port's exclusive flag was left set by a program that ended; unplug and replug the "
    "adapter";

TEST_F(ExclusiveFlagTest, AFlagLeftByAKilledProgramIsNamedAsSuchNotAfterWhoeverHasThePortOpen) {
    if (::geteuid() != 0) GTEST_SKIP() << "opening past the flag, and as another user, needs root";
    struct Case {
        const char* what;
        bool lock_file;  // the killed program left its lock file
        bool keeper;     // another program keeps the port open, without a lock
        bool as_nobody;
        std::string want;  // %KEEPER% stands for "pty-keeper (pid N)"
    } const cases[] = {
        {"its lock file left, the far end kept open", true, true, false,
         kLeft + ", or end %KEEPER%, which keeps the port open"},
        {"the same, for a user who cannot see the keeper", true, true, true, kLeft},
        {"no lock file, the far end kept open", false, true, false,
         ": the port's exclusive flag is set, but no program locks the port: either %KEEPER%, "
         "which has the port open, set it, or a program that ended left it set (then unplug and "
         "replug the adapter)"},
        {"no lock file, for a user who cannot see the keeper", false, true, true,
         " (held by another program, or the port's exclusive flag was left set by a program "
         "that ended: unplug and replug the adapter)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        killed_holder(c.lock_file);
        LineHolder keeper(pty_.slave, "pty-keeper", LineHolder::How::kOpen);
        ASSERT_TRUE(keeper.ok());
        std::string want = c.want;
        const size_t at = want.find("%KEEPER%");
        if (at != std::string::npos)
            want.replace(at, 8, "pty-keeper (pid " + std::to_string(keeper.pid()) + ")");
        EXPECT_EQ(open_port(c.as_nobody), busy(want));
        // The flag is left as it was: somebody may still be using it.
        EXPECT_TRUE(pty_.exclusive());
        // Clear it for the next case (as the last program to close would).
        const int fd = ::open(pty_.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        std::filesystem::remove(locks_.dir / link::lock_file_name(pty_.slave));
    }
}

TEST_F(ExclusiveFlagTest, RootClearsAFlagNobodyHoldsAndSaysSo) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root opens past the flag";
    killed_holder(true);
    // A user still cannot open it; the lock file says who left it.
    EXPECT_EQ(open_port(true), busy(kLeft));
    EXPECT_EQ(open_port(false),
              "opened: the port's exclusive flag, left set by a program that ended, was cleared");
    EXPECT_FALSE(pty_.exclusive());
    EXPECT_EQ(open_port(true), "opened");
}

TEST_F(ExclusiveFlagTest, AProgramThatLocksThePortIsNamedAsItsHolder) {
    LineHolder locker(pty_.slave, "pty-locker", LineHolder::How::kLock);
    ASSERT_TRUE(locker.ok());
    const std::string held = busy(": held by pty-locker (pid " + std::to_string(locker.pid()) + ")");
    EXPECT_EQ(open_port(false), held);
    // Named from the table of locks even where its descriptors cannot be seen.
    if (::geteuid() == 0) {
        EXPECT_EQ(open_port(true), held);
    }
    // Beside it, a program that only has the port open is not named.
    LineHolder keeper(pty_.slave, "pty-keeper", LineHolder::How::kOpen);
    EXPECT_EQ(open_port(false), held);
}

}  // namespace
}  // namespace torvik::test

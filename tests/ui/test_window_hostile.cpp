// SPDX-License-Identifier: MIT
// The window program against files others control, as root runs it: a COM
// number file whose names carry control characters is listed escaped, and
// the settings directory's lock file planted as a link to a file of root's
// (here a stand-in, 0640) comes through a whole run of the window, scan and
// language buttons included, exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/terminal_text.h"
#include "tests/child_process.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

ProgramRun RunWindow(std::vector<std::string> args) {
    args.insert(args.begin(), TORVIK_CONFIG_BINARY);
    return RunProgram(args);
}

TEST(WindowHostile, ComNumberFileNamesAreListedEscaped) {
    TempDir dir;
    std::ofstream(dir.dir / "com-numbers")
        << "# torvik-config: the COM number each serial device keeps (written by the tool)\n"
           "COM2\t/dev/serial/by-id/usb-A\t1800000000\t/dev/ttyUSB9\tFTDI \xC2\x9B"
           "2J\xE9\n"
           "COM3\t/dev/serial/by-id/usb-B\x1b]2;owned\x07\t1800000000\t/dev/ttyUSB8\tX\n";
    const ProgramRun r =
        RunWindow({"--settings", (dir.dir / "settings.reg").string(), "--list-ports"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(link::IsTerminalSafe(r.out)) << r.out;
    EXPECT_NE(r.out.find("COM2  absent since 2027-01-15 08:00 UTC  /dev/ttyUSB9  FTDI \\x9b2J\\xe9"),
              std::string::npos)
        << r.out;
    // A line that carries a control character is not read at all.
    EXPECT_EQ(r.out.find("COM3"), std::string::npos) << r.out;
}

TEST(WindowHostile, PlantedLockLinkLeavesRootsFileAsItWas) {
    TempDir dir, elsewhere;
    const fs::path victim = elsewhere.dir / "shadow";
    std::ofstream(victim) << "root:secret:19000:0:99999:7:::\n";
    ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(victim.c_str(), &before), 0);
    const fs::path lock = dir.dir / "settings.reg.lock";
    fs::create_symlink(victim, lock);

    // The screenshot sequence scans (a searching scan saves the link) and
    // presses the three language buttons (each saves the language).
    const ProgramRun r = RunWindow({"-platform", "offscreen", "--simulate", "--settings",
                                 (dir.dir / "settings.reg").string(), "--screenshot-script",
                                 "--screenshot-dir", (dir.dir / "shots").string()});

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(lock.string() +
                         " is a symbolic link, not a lock file: the settings are not saved until "
                         "it is removed"),
              std::string::npos)
        << r.err;
    struct stat after {};
    ASSERT_EQ(::stat(victim.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_ino, before.st_ino);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "root:secret:19000:0:99999:7:::\n");
    EXPECT_TRUE(fs::is_symlink(lock));
}

}  // namespace
}  // namespace torvik::test

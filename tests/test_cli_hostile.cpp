// SPDX-License-Identifier: MIT
// The torvikctl program against texts and files others control, as root
// runs it: escape sequences in the reader's serial number, in the stored
// settings string, in the name of a program holding the port and in a
// template file reach stdout, stderr and the trace file escaped; FIFOs
// given as template, trace or settings file are refused without waiting;
// and the settings directory's lock file planted as a link to a file of
// root's leaves that file as it was. Every COM number is pinned (the
// simulated reader or a test line on COM1, missing files for the rest), so
// no serial port of this machine is opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/file_settings_store.h"
#include "app/settings.h"
#include "cli/text.h"
#include "link/terminal_text.h"
#include "link/uucp_lock.h"
#include "tests/child_process.h"
#include "tests/port_rig.h"
#include "tests/scratch_dir.h"
#include "tests/sim_process.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

const std::string kTitle = "\x1b]2;owned\x07";
const std::string kClear = "\x1b[2J";

// Runs torvikctl with the settings in `dir` and COM1 pinned to `com1`
// (nothing when empty), every other number to a missing file.
ProgramRun RunCtl(const TempDir& dir, const std::string& com1, std::vector<std::string> args) {
    std::vector<std::string> full = {TORVIK_CTL_BINARY, "--settings",
                                     (dir.dir / "settings.reg").string()};
    for (int com = com1.empty() ? 1 : 2; com <= 16; ++com) {
        full.push_back("--port");
        full.push_back("COM" + std::to_string(com) + "=" +
                       (dir.dir / ("absent" + std::to_string(com))).string());
    }
    if (!com1.empty()) {
        full.push_back("--port");
        full.push_back("COM1=" + com1);
    }
    full.insert(full.end(), args.begin(), args.end());
    return RunProgram(full);
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The simulated reader is found at once at these stored settings (a pty
// takes any speed); `settings` is what the file says the link runs at.
void StoreLink(const TempDir& dir, const std::string& settings) {
    app::FileSettingsStore store((dir.dir / "settings.reg").string());
    app::SaveLinkSettings(store, app::LinkSettings{1, settings, 13});
}

void ExpectSafe(const ProgramRun& r) {
    EXPECT_TRUE(link::IsTerminalSafe(r.out)) << r.out;
    EXPECT_TRUE(link::IsTerminalSafe(r.err)) << r.err;
}

TEST(CliHostile, EscapeSequencesFromEachSourceAreShownEscaped) {
    struct Case {
        const char* source;
        std::string hostile;
    } const sequences[] = {{"title", kTitle}, {"clear", kClear}};
    for (const auto& [what, seq] : sequences) {
        SCOPED_TRACE(what);
        const std::string shown = link::TerminalSafe(seq);

        // The reader's serial number (eight bytes; blanks and controls at
        // its ends would be trimmed off by the panel).
        {
            TempDir dir;
            StoreLink(dir, "230400,e,8,1");
            const std::string serial = ("A" + seq + "BCDEFGH").substr(0, 8);
            SimProcess sim({"--baud", "230400", "--serial", serial});
            ASSERT_FALSE(sim.path().empty());
            for (const char* json : {"", "--json"}) {
                std::vector<std::string> args = {"info"};
                if (*json) args.insert(args.begin(), json);
                const ProgramRun r = RunCtl(dir, sim.path(), args);
                EXPECT_EQ(r.status, 0) << r.out << r.err;
                ExpectSafe(r);
                const std::string want =
                    *json ? cli::JsonQuote(cli::Latin1ToUtf8(serial)) : link::TerminalSafe(serial);
                EXPECT_NE(r.out.find(want), std::string::npos) << r.out;
            }
        }
        // The settings string of the settings file, on stdout and in the trace.
        {
            TempDir dir;
            StoreLink(dir, "230400," + seq + ",8,1");
            SimProcess sim({"--baud", "230400"});
            const fs::path trace = dir.dir / "trace.log";
            const ProgramRun r = RunCtl(dir, sim.path(), {"--trace=" + trace.string(), "info"});
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            ExpectSafe(r);
            EXPECT_NE(r.out.find("COM1 230400," + shown + ",8,1"), std::string::npos) << r.out;
            const std::string logged = ReadText(trace);
            EXPECT_TRUE(link::IsTerminalSafe(logged)) << logged;
            EXPECT_NE(logged.find("at 230400," + shown + ",8,1"), std::string::npos) << logged;
        }
        // The name of another program holding the port, by lock file or by
        // lock; a line nobody answers on stands for the reader.
        for (const auto how : {LineHolder::How::kLockFile, LineHolder::How::kFlock}) {
            TempDir dir;
            Pty line;
            LineHolder holder(line.slave, "x" + seq, how,
                              "/run/lock/" + link::lock_file_name(line.slave));
            if (!holder.ok()) {
                ADD_FAILURE() << "the holder did not take the line";
                continue;
            }
            const ProgramRun r = RunCtl(dir, line.slave, {"info"});
            EXPECT_EQ(r.status, 2) << r.out << r.err;
            ExpectSafe(r);
            EXPECT_NE(r.err.find("busy: held by x" + shown + " (pid " +
                                 std::to_string(holder.pid()) + ")"),
                      std::string::npos)
                << r.err;
        }
        // A template file's texts, and its name.
        {
            TempDir dir;
            StoreLink(dir, "230400,e,8,1");
            SimProcess sim({"--baud", "230400"});
            const fs::path file = dir.dir / ("t" + seq + ".json");
            std::ofstream(file) << "{\"format\": \"torvik-templates\", \"version\": 1, \"slots\": "
                                   "[{\"slot\": 1, \"status\": " +
                                       cli::JsonQuote(seq) + "}]}";
            const ProgramRun r = RunCtl(dir, sim.path(), {"restore", file.string()});
            EXPECT_EQ(r.status, 64) << r.out << r.err;
            ExpectSafe(r);
            EXPECT_NE(r.err.find("t" + shown + ".json: slot 1 is damaged: unknown status \"" +
                                 shown + "\"; nothing was sent"),
                      std::string::npos)
                << r.err;
        }
    }
}

// FIFOs where a file is expected: nothing waits on them, and the run goes
// on or ends with words.
TEST(CliHostile, FifosAreRefusedWithoutWaiting) {
    TempDir dir;
    StoreLink(dir, "230400,e,8,1");
    SimProcess sim({"--baud", "230400"});
    const fs::path fifo = dir.dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const ProgramRun restore = RunCtl(dir, sim.path(), {"restore", fifo.string()});
    EXPECT_EQ(restore.status, 64) << restore.err;
    EXPECT_NE(restore.err.find(fifo.string() + " is a FIFO, not a template file; nothing was sent"),
              std::string::npos)
        << restore.err;
    const ProgramRun trace = RunCtl(dir, sim.path(), {"--trace=" + fifo.string(), "info"});
    EXPECT_EQ(trace.status, 64);
    EXPECT_NE(trace.err.find("--trace=" + fifo.string() +
                             " refused: it is a FIFO that no program reads"),
              std::string::npos)
        << trace.err;

    // The settings file a FIFO: the defaults, and a word why.
    TempDir other;
    ASSERT_EQ(::mkfifo((other.dir / "settings.reg").c_str(), 0600), 0);
    const ProgramRun settings = RunCtl(other, "", {"info"});
    EXPECT_EQ(settings.status, 2) << settings.err;
    EXPECT_NE(settings.err.find((other.dir / "settings.reg").string() +
                                " is a FIFO: it is left as it is, and the defaults are used"),
              std::string::npos)
        << settings.err;
    EXPECT_TRUE(fs::is_fifo(other.dir / "settings.reg"));
}

// The reproducer: a member of the serial group replaces the settings
// file's lock file by a link to a file of root's (here a stand-in, 0640),
// and root scans with the simulated reader.
TEST(CliHostile, PlantedLockLinkLeavesRootsFileAsItWas) {
    TempDir dir, elsewhere;
    const fs::path victim = elsewhere.dir / "shadow";
    std::ofstream(victim) << "root:secret:19000:0:99999:7:::\n";
    ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(victim.c_str(), &before), 0);
    const fs::path lock = dir.dir / "settings.reg.lock";
    fs::create_symlink(victim, lock);

    const ProgramRun r = RunCtl(dir, "", {"--simulate", "scan", "--sweep"});

    EXPECT_EQ(r.status, 0) << r.out << r.err;
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
    EXPECT_EQ(ReadText(victim), "root:secret:19000:0:99999:7:::\n");
    EXPECT_TRUE(fs::is_symlink(lock));
}

}  // namespace
}  // namespace torvik::test

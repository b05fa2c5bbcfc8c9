// SPDX-License-Identifier: MIT
// The settings directory is shared by every member of the serial ports'
// group, and root runs the tool too: whatever another member plants there
// under the name of a file, a lock file or a temporary file of the tool (a
// link to a file of root's, a dangling link, a FIFO, a device, a
// directory), the tool neither follows nor opens it, changes nothing about
// what it leads to, and says why it does not save. A technician's own file
// named with --settings is never replaced unless it is a settings file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/file_settings_store.h"
#include "app/startup.h"
#include "app/settings.h"
#include "link/com_map.h"
#include "link/com_number_file.h"
#include "link/posix_serial.h"
#include "link/uucp_lock.h"
#include "tests/port_rig.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file of root's that must come through unchanged: content, mode, owner.
struct Victim {
    fs::path path;
    struct stat before {};
    explicit Victim(fs::path p) : path(std::move(p)) {
        std::ofstream(path) << "root:secret:19000:0:99999:7:::\n";
        ::chmod(path.c_str(), 0640);
        ::stat(path.c_str(), &before);
    }
    void expect_unchanged() const {
        struct stat now {};
        ASSERT_EQ(::stat(path.c_str(), &now), 0);
        EXPECT_EQ(now.st_mode, before.st_mode);
        EXPECT_EQ(now.st_uid, before.st_uid);
        EXPECT_EQ(now.st_gid, before.st_gid);
        EXPECT_EQ(now.st_ino, before.st_ino);
        EXPECT_EQ(ReadText(path), "root:secret:19000:0:99999:7:::\n");
    }
};

// What a neighbour may put in place of a file of the tool.
struct Plant {
    const char* what;
    bool needs_root;  // making a device node
    std::function<bool(const fs::path& at, const fs::path& victim, const fs::path& missing)> make;
};

const std::vector<Plant> kPlants = {
    {"link to a file of root's", false,
     [](const fs::path& at, const fs::path& victim, const fs::path&) {
         return ::symlink(victim.c_str(), at.c_str()) == 0;
     }},
    {"link to a file that does not exist", false,
     [](const fs::path& at, const fs::path&, const fs::path& missing) {
         return ::symlink(missing.c_str(), at.c_str()) == 0;
     }},
    {"FIFO", false,
     [](const fs::path& at, const fs::path&, const fs::path&) {
         return ::mkfifo(at.c_str(), 0666) == 0;
     }},
    {"device", true,
     [](const fs::path& at, const fs::path&, const fs::path&) {
         return ::mknod(at.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as /dev/null
     }},
    {"directory", false,
     [](const fs::path& at, const fs::path&, const fs::path&) {
         return ::mkdir(at.c_str(), 0777) == 0;
     }},
};

// One USB adapter, so that the COM number file has something to keep.
link::PortInfo Adapter() {
    link::PortInfo p;
    p.device = "/dev/ttyUSB0";
    p.sys_name = "ttyUSB0";
    p.serial = "A1";
    p.by_id = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    return p;
}

// What the tool does with each of its files in the directory; the result
// is whatever it said about the file it left alone.
struct Use {
    const char* file;  // the name a neighbour takes
    std::function<std::string(const fs::path& dir)> run;
};

std::string SaveSettings(const fs::path& dir) {
    app::FileSettingsStore store((dir / "settings.reg").string());
    std::string said;
    store.set_report([&said](const std::string& text) { said += text + "\n"; });
    app::AppState state;
    app::LoadSettings(store, state);
    app::SaveLinkSettings(store, app::LinkSettings{3, "38400,e,8,1", 7});
    app::SaveLanguage(store, "ChineseGB");
    return said;
}

std::string NumberPorts(const fs::path& dir) {
    link::ComMap map;
    map.set_number_file((dir / "com-numbers").string());
    map.set_port_source([] { return std::vector<link::PortInfo>{Adapter()}; });
    map.set_time_source([] { return int64_t{1'800'000'000}; });
    // A number is still given for the run.
    EXPECT_EQ(map.path(1), "/dev/ttyUSB0");
    std::string said;
    for (const std::string& n : map.notes()) said += n + "\n";
    return said;
}

const std::vector<Use> kUses = {
    {"settings.reg.lock", SaveSettings},
    {"settings.reg", SaveSettings},
    {"com-numbers.lock", NumberPorts},
    {"com-numbers", NumberPorts},
};

TEST(HostileFiles, PlantedFilesAreNeitherFollowedNorOpenedAndTheVictimStaysAsItWas) {
    for (const Use& use : kUses) {
        for (const Plant& plant : kPlants) {
            SCOPED_TRACE(std::string(use.file) + " planted as " + plant.what);
            if (plant.needs_root && ::geteuid() != 0) continue;  // only root makes device nodes
            TempDir dir, elsewhere;
            const Victim victim(elsewhere.dir / "shadow");
            const fs::path missing = elsewhere.dir / "made-by-root";
            const fs::path at = dir.dir / use.file;
            ASSERT_TRUE(plant.make(at, victim.path, missing));
            struct stat planted {};
            ASSERT_EQ(::lstat(at.c_str(), &planted), 0);
            OpenWatch watch(at.string());

            const std::string said = use.run(dir.dir);

            victim.expect_unchanged();
            EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
            struct stat after {};
            ASSERT_EQ(::lstat(at.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, planted.st_ino);  // still what was planted
            EXPECT_EQ(after.st_mode, planted.st_mode);
            // Not even opened to look (a FIFO or a serial line would notice).
            if (watch.works() && !S_ISLNK(planted.st_mode)) {
                EXPECT_FALSE(watch.opened());
            }
            // And the technician is told which file was left alone.
            EXPECT_NE(said.find(at.string()), std::string::npos) << said;
            // No temporary file was left behind.
            for (const auto& name : dir.entries())
                EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
        }
    }
}

// Names of the saves' temporary files taken by a neighbour: they are never
// written through, never removed unless they are plain files, and the save
// still goes through.
TEST(HostileFiles, PlantedTemporaryNamesAreLeftAloneAndTheSaveGoesThrough) {
    for (const Use& use : {kUses[0], kUses[2]}) {
        const std::string file = std::string(use.file).substr(0, std::string(use.file).size() - 5);
        SCOPED_TRACE(file);
        TempDir dir, elsewhere;
        const Victim victim(elsewhere.dir / "shadow");
        const fs::path link = dir.dir / (file + ".tmp-aaaaaa");
        const fs::path fifo = dir.dir / (file + ".tmp-bbbbbb");
        const fs::path stale = dir.dir / (file + ".tmp-cccccc");  // of a killed save
        ASSERT_EQ(::symlink(victim.path.c_str(), link.c_str()), 0);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
        std::ofstream(stale) << "half a sa";

        EXPECT_EQ(use.run(dir.dir), "");

        victim.expect_unchanged();
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_FALSE(fs::exists(stale));
        EXPECT_TRUE(fs::is_regular_file(dir.dir / file));
    }
}

// A file a technician names with --settings that is not a settings file is
// left as it is; a settings file keeps its mode, group and owner.
TEST(HostileFiles, OnlyASettingsFileIsReplacedAndItKeepsItsModeAndOwner) {
    const passwd* nobody = ::getpwnam("nobody");
    struct Case {
        const char* what;
        std::string text;
        mode_t mode;
        bool owned_by_nobody;
        bool replaced;
    } const cases[] = {
        {"notes of the technician", "call Anna about door 3\n", 0600, false, false},
        {"a settings file", "Windows Registry Editor Version 5.00\n", 0600, false, true},
        {"an empty file", "", 0640, false, true},
        {"a settings file of another user", "Windows Registry Editor Version 5.00\n", 0644,
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.owned_by_nobody && (::geteuid() != 0 || nobody == nullptr)) continue;
        TempDir dir;
        const fs::path file = dir.file();
        std::ofstream(file) << c.text;
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (c.owned_by_nobody) {
            ASSERT_EQ(::chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        struct stat before {};
        ::stat(file.c_str(), &before);

        const std::string said = SaveSettings(dir.dir);

        struct stat after {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        if (c.replaced) {
            EXPECT_NE(ReadText(file).find("\"LanguageFlag\"=\"ChineseGB\""), std::string::npos);
            EXPECT_EQ(said, "");
        } else {
            EXPECT_EQ(ReadText(file), c.text);
            EXPECT_NE(said.find("is not a settings file"), std::string::npos) << said;
            // Told once, though the load and two saves met it.
            EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        }
    }
}

// The lock file a save makes is the one file whose mode the tool sets: it
// made it in that call. One that was there keeps its mode and owner.
TEST(HostileFiles, OnlyALockFileMadeNowIsGivenItsMode) {
    TempDir dir;
    const mode_t old_umask = ::umask(077);
    SaveSettings(dir.dir);
    ::umask(old_umask);
    struct stat lock {};
    ASSERT_EQ(::stat((dir.dir / "settings.reg.lock").c_str(), &lock), 0);
    EXPECT_EQ(lock.st_mode & 07777, 0664u);

    ASSERT_EQ(::chmod((dir.dir / "settings.reg.lock").c_str(), 0600), 0);
    SaveSettings(dir.dir);
    ASSERT_EQ(::stat((dir.dir / "settings.reg.lock").c_str(), &lock), 0);
    EXPECT_EQ(lock.st_mode & 07777, 0600u);
}

// The serial lock directory is writable by every user: what stands there
// under a port's lock file name and is no lock file is neither followed,
// opened nor removed, and the port counts as held by someone unknown.
TEST(HostileFiles, PlantedSerialLockFilesAreNotOpenedAndThePortIsLeftAlone) {
    for (const Plant& plant : kPlants) {
        SCOPED_TRACE(plant.what);
        if (plant.needs_root && ::geteuid() != 0) continue;
        Pty pty;
        ASSERT_FALSE(pty.slave.empty());
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        ASSERT_TRUE(map.add_override("COM3=" + pty.slave));
        TempDir locks, elsewhere;
        const Victim victim(elsewhere.dir / "shadow");
        const fs::path missing = elsewhere.dir / "made-by-root";
        const fs::path at = locks.dir / link::lock_file_name(pty.slave);
        ASSERT_TRUE(plant.make(at, victim.path, missing));
        OpenWatch watch(at.string());

        link::PosixSerialDevice dev(map, {locks.dir.string()});
        EXPECT_FALSE(dev.open(3, "19200,e,8,1"));
        EXPECT_EQ(dev.last_open_failure(), "COM3 (" + pty.slave + "): busy (held by another program)");

        victim.expect_unchanged();
        EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
        EXPECT_TRUE(fs::exists(fs::symlink_status(at)));
        if (watch.works() && !fs::is_symlink(at)) {
            EXPECT_FALSE(watch.opened());
        }
        EXPECT_EQ(locks.entries().size(), 1u);  // nothing of ours left beside it
    }
}

// Two adapters whose names differ only by a control character: neither
// takes the other's number, and the one the file can hold keeps its number
// from run to run.
TEST(HostileFiles, NamesThatDifferOnlyByAControlCharacterNeverShareANumber) {
    TempDir dir;
    link::PortInfo plain = Adapter(), odd = Adapter();
    plain.device = "/dev/ttyUSB0";
    plain.by_id = "/dev/serial/by-id/usb-X_A_B-if00";
    odd.device = "/dev/ttyUSB1";
    odd.serial = "A2";
    odd.by_id = "/dev/serial/by-id/usb-X_A\x01" "B-if00";
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        link::ComMap map;
        map.set_number_file((dir.dir / "com-numbers").string());
        // The odd one first, so that it would get the lower number.
        map.set_port_source([&] { return std::vector<link::PortInfo>{odd, plain}; });
        map.set_time_source([run] { return int64_t{1'800'000'000} + run * 3600; });
        const auto list = map.list();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_NE(list[0].first, list[1].first);
        // The plain one was numbered in the first run and keeps it.
        EXPECT_EQ(map.path(2), "/dev/ttyUSB0");
        const std::string shown = link::FormatPortList(map);
        EXPECT_NE(shown.find("for this run only"), std::string::npos) << shown;
        EXPECT_NE(shown.find("usb-X_A\\x01B-if00"), std::string::npos) << shown;
        const auto kept = link::ComNumberFile((dir.dir / "com-numbers").string()).load();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].key, plain.by_id);
    }
}

// A trace file is appended to without following a link; a FIFO is written
// only while a program reads it, and never makes the tool wait for long.
TEST(HostileFiles, TraceFilesOfEveryKind) {
    TempDir dir, elsewhere;
    const Victim victim(elsewhere.dir / "shadow");
    const fs::path link = dir.dir / "link.log";
    ASSERT_EQ(::symlink(victim.path.c_str(), link.c_str()), 0);
    const fs::path fifo = dir.dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        const char* what;
        fs::path path;
        std::string refusal;  // empty: taken
    } const rows[] = {
        {"a link", link, "it is a symbolic link (name the file it leads to)"},
        {"a FIFO nobody reads", fifo, "it is a FIFO that no program reads"},
        {"a directory", dir.dir, "it is a directory"},
        {"a new file", dir.dir / "new.log", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        try {
            app::WireTrace trace(r.path.string());
            trace.Line("COM1 (/dev/pts/1): busy: held by \x1b]2;owned\x07 (pid 5)");
            EXPECT_EQ(r.refusal, "");
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "The trace file " + r.path.string() + " cannot be used: " + r.refusal);
        }
    }
    victim.expect_unchanged();
    const std::string text = ReadText(dir.dir / "new.log");
    EXPECT_NE(text.find("held by \\x1b]2;owned\\x07 (pid 5)\n"), std::string::npos) << text;

    // A FIFO that a program reads, until it stops reading: lines that do
    // not fit are counted, and the count goes out once the reader is back.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        app::WireTrace trace(fifo.string());
        const std::string line(1000, 'x');
        for (int i = 0; i < 100; ++i) trace.Line(line);  // more than the FIFO holds
        std::string got;
        char buf[65536];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;) got.append(buf, n);
        EXPECT_EQ(got.substr(0, 3), "== ");
        trace.Line("after");
        got.clear();
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;) got.append(buf, n);
        EXPECT_NE(got.find(" trace lines were lost: the trace's reader fell behind)\nafter\n"),
                  std::string::npos)
            << got.substr(0, 200);
    }
    ::close(reader);
}

}  // namespace
}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// The start-up pieces both front ends share: options, the simulated reader
// as a child process, the temporary settings directory, the trace lines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/file_settings_store.h"
#include "app/startup.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

struct OptionCase {
    std::vector<std::string> args;
    app::OptionParse result;
    int consumed;  // arguments taken
    bool simulate, trace;
    std::string trace_file, settings, com1;
};

TEST(SharedOptions, EachOptionAndItsFaults) {
    const std::vector<OptionCase> cases = {
        {{"--simulate"}, app::OptionParse::kTaken, 1, true, false, "", "", ""},
        {{"--trace"}, app::OptionParse::kTaken, 1, false, true, "", "", ""},
        {{"--trace=/tmp/t.log"}, app::OptionParse::kTaken, 1, false, true, "/tmp/t.log", "", ""},
        {{"--trace="}, app::OptionParse::kError, 1, false, true, "", "", ""},
        {{"--settings", "/x/s.reg"}, app::OptionParse::kTaken, 2, false, false, "", "/x/s.reg", ""},
        {{"--settings"}, app::OptionParse::kError, 1, false, false, "", "", ""},
        {{"--settings", ""}, app::OptionParse::kError, 2, false, false, "", "", ""},
        {{"--port", "COM1=/dev/pts/9"},
         app::OptionParse::kTaken,
         2,
         false,
         false,
         "",
         "",
         "/dev/pts/9"},
        {{"--port", "COM1"}, app::OptionParse::kError, 2, false, false, "", "", ""},
        {{"--port"}, app::OptionParse::kError, 1, false, false, "", "", ""},
        {{"--help"}, app::OptionParse::kNotShared, 1, false, false, "", "", ""},
        {{"-platform", "offscreen"}, app::OptionParse::kNotShared, 1, false, false, "", "", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> owned = {"prog"};
        owned.insert(owned.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& a : owned) argv.push_back(a.data());
        app::StartOptions options;
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        std::string error;
        int i = 1;
        const auto result = app::ParseSharedOption(static_cast<int>(argv.size()), argv.data(), i,
                                                   options, map, error);
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(error.empty(), result != app::OptionParse::kError);
        if (result == app::OptionParse::kNotShared) continue;
        EXPECT_EQ(i, c.consumed);
        EXPECT_EQ(options.simulate, c.simulate);
        EXPECT_EQ(options.trace, c.trace);
        if (result != app::OptionParse::kTaken) continue;
        EXPECT_EQ(options.trace_file, c.trace_file);
        EXPECT_EQ(options.settings_path, c.settings);
        EXPECT_EQ(map.path(1), c.com1);
    }
}

TEST(FrameTraceLine, HexAndPrintableCharacters) {
    EXPECT_EQ(app::FormatFrameLine(7, '>', std::string("\tI00B02\r")),
              "        7 ms > 09 49 30 30 42 30 32 0D  |.I00B02.|");
    EXPECT_EQ(app::FormatFrameLine(123456, '<', std::string("\x7F\xE9", 2)),
              "   123456 ms < 7F E9  |..|");
    EXPECT_EQ(app::FormatFrameLine(0, '<', ""), "        0 ms <   ||");
}

bool process_alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

TEST(Launch, WithoutSimulateStartsNothingAndMakesNoFile) {
    TempDir scratch;
    const std::string old_tmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", scratch.dir.c_str(), 1);
    {
        app::StartOptions options;
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        app::Launch launch(options, map, {});
        EXPECT_EQ(launch.simulator_pid(), -1);
        EXPECT_EQ(launch.settings_path(), app::kDefaultSettingsPath);
        EXPECT_TRUE(launch.temporary_directory().empty());
        EXPECT_TRUE(fs::is_empty(scratch.dir));
    }
    if (old_tmp.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", old_tmp.c_str(), 1);
}

TEST(Launch, SimulateRunsTheReaderOnCom1AndCleansUpAfterwards) {
    TempDir scratch;
    const std::string old_tmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", scratch.dir.c_str(), 1);
    pid_t pid = -1;
    std::string dir;
    {
        app::StartOptions options;
        options.simulate = true;
        link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
        app::Launch launch(options, map, {"--quiet"});
        pid = launch.simulator_pid();
        dir = launch.temporary_directory();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(process_alive(pid));
        EXPECT_EQ(map.path(1).rfind("/dev/pts/", 0), 0u) << map.path(1);
        EXPECT_EQ(launch.settings_path(), dir + "/settings.reg");
        EXPECT_EQ(dir.rfind(scratch.dir.string(), 0), 0u);
        std::ofstream(launch.settings_path()) << "x";  // the store writes here
        std::ofstream(dir + "/settings.reg.tmp-1") << "y";
    }
    EXPECT_FALSE(process_alive(pid));
    EXPECT_FALSE(fs::exists(dir));
    if (old_tmp.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", old_tmp.c_str(), 1);
}

TEST(Launch, AGivenSettingsFileIsKeptWithSimulate) {
    app::StartOptions options;
    options.simulate = true;
    options.settings_path = "/somewhere/settings.reg";
    link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
    app::Launch launch(options, map, {"--quiet"});
    EXPECT_EQ(launch.settings_path(), "/somewhere/settings.reg");
    EXPECT_TRUE(launch.temporary_directory().empty());
}

TEST(SimulatedReaderProcess, AProgramThatReportsNoTerminalIsRefusedAndEnded) {
    app::SimulatedReader reader;
    EXPECT_THROW(reader.Start("/bin/echo", {"not a terminal"}), std::runtime_error);
    EXPECT_EQ(reader.pid(), -1);
    EXPECT_THROW(reader.Start("/nonexistent/torvik-sim", {}), std::runtime_error);
    EXPECT_THROW(reader.Start("/bin/true", {}), std::runtime_error);
}

}  // namespace
}  // namespace torvik::test

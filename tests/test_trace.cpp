// SPDX-License-Identifier: MIT
// The report a technician can send: the trace file, appended run after run
// under a header with date and version, with every opening and closing of
// a port around its frames and the reason of every refused reply.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "tests/harness.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

std::vector<std::string> ReadLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The part of a trace line after the time stamp ("  812 ms ").
std::string Body(const std::string& line) {
    const size_t ms = line.find(" ms ");
    return ms == std::string::npos ? line : line.substr(ms + 4);
}

TEST(Trace, PortsFramesAndReasonsInOrderAppendedUnderAHeader) {
    TempDir dir;
    const fs::path file = dir.dir / "trace.txt";
    {
        Harness h;
        h.line.set_port(1, doubles::FakeLine::PortKind::Silent);
        app::WireTrace trace(file.string());
        trace.Attach(h.form);
        h.start();
        h.form.press(h.form.btnScan);  // COM1 silent, COM2 absent, COM3 the reader
        ASSERT_TRUE(h.form.state.reader_found);
    }
    {
        app::WireTrace again(file.string());  // a second run appends
    }
    const std::vector<std::string> lines = ReadLines(file);
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines.front().substr(0, 3), "== ");
    EXPECT_NE(lines.front().find("torvik-config " TORVIK_VERSION), std::string::npos);
    EXPECT_EQ(lines.back().substr(0, 3), "== ");

    std::vector<std::string> bodies;
    for (size_t i = 1; i + 1 < lines.size(); ++i) bodies.push_back(Body(lines[i]));
    // The stored settings are 19200,e (the lock is ticked): COM1 takes two
    // presence checks that get nothing, COM2 does not open, COM3 answers.
    const std::vector<std::string> want_prefix = {
        "open COM1 = sim:COM1 at 19200,e,8,1",
        "> 09 49 30 30 42 30 32 0D  |.I00B02.|",
        "?   ||  no reply",
        "> 09 49 30 30 42 30 32 0D  |.I00B02.|",
        "?   ||  no reply",
        "close COM1",
    };
    ASSERT_GE(bodies.size(), want_prefix.size() + 3);
    for (size_t i = 0; i < want_prefix.size(); ++i) EXPECT_EQ(bodies[i], want_prefix[i]) << i;
    EXPECT_EQ(bodies[6].substr(0, 18), "open COM2 failed: ");
    EXPECT_EQ(bodies[7], "open COM3 = sim:COM3 at 19200,e,8,1");
    EXPECT_EQ(bodies.back(), "close COM3");
}

TEST(Trace, PortLinesNameDeviceAndById) {
    link::PortEvent open{true, 3, "19200,e,8,1", true};
    EXPECT_EQ(
        Body(app::FormatPortLine(12, open, "/dev/ttyUSB0", "/dev/serial/by-id/usb-F_A-if00", "")),
        "open COM3 = /dev/ttyUSB0 (by-id /dev/serial/by-id/usb-F_A-if00) at 19200,e,8,1");
    open.opened = false;
    EXPECT_EQ(Body(app::FormatPortLine(12, open, "", "", "COM3: no such device")),
              "open COM3 failed: COM3: no such device");
    EXPECT_EQ(Body(app::FormatPortLine(99, {false, 3, "19200,e,8,1", false}, "", "", "")),
              "close COM3");
}

}  // namespace
}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// Text others control reaches a terminal with every control character
// shown, not obeyed: the escaping itself, torvikctl's text conversions and
// JSON strings, and the stream torvikctl's standard output goes through.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/terminal_stream.h"
#include "cli/text.h"
#include "link/terminal_text.h"

namespace torvik::test {
namespace {

using namespace std::string_literals;

// A window title change and a screen clear, as a hostile text carries them.
const std::string kTitle = "\x1b]2;owned\x07";
const std::string kClear = "\x1b[2J";

TEST(TerminalText, ControlCharactersBecomeVisibleEscapes) {
    struct Row {
        const char* what;
        std::string in;
        std::string utf8;    // TerminalSafe
        std::string latin1;  // TerminalSafeLatin1 of the same bytes
    } const rows[] = {
        {"plain text", "COM1 /dev/ttyUSB0", "COM1 /dev/ttyUSB0", "COM1 /dev/ttyUSB0"},
        {"tab and line feed stay", "a\tb\nc", "a\tb\nc", "a\tb\nc"},
        {"title sequence", kTitle, "\\x1b]2;owned\\x07", "\\x1b]2;owned\\x07"},
        {"screen clear", kClear, "\\x1b[2J", "\\x1b[2J"},
        {"other C0, CR and DEL", "\x01\r\x7f"s, "\\x01\\x0d\\x7f", "\\x01\\x0d\\x7f"},
        {"zero byte", "a\0b"s, "a\\x00b", "a\\x00b"},
        {"C1 CSI as UTF-8", "\xC2\x9B" "2J", "\\x9b2J", "\xC3\x82\\x9b2J"},
        {"C1 as a lone byte", "\x9b" "2J", "\\x9b2J", "\\x9b2J"},
        {"Latin-1 letters", "\xE9\xFF", "\\xe9\\xff", "\xC3\xA9\xC3\xBF"},
        {"UTF-8 letters", "\xC3\xA9 \xE6\x89\xAB\xE6\x8F\x8F", "\xC3\xA9 \xE6\x89\xAB\xE6\x8F\x8F",
         "\xC3\x83\xC2\xA9 \xC3\xA6\\x89\xC2\xAB\xC3\xA6\\x8f\\x8f"},
        {"overlong and surrogate forms", "\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80",
         "\xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0\\x80"},
        {"a cut-off character at the end", "ok\xE6\x89", "ok\\xe6\\x89", "ok\xC3\xA6\\x89"},
        {"backslashes stay", "C:\\x1b", "C:\\x1b", "C:\\x1b"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(link::TerminalSafe(r.in), r.utf8);
        EXPECT_EQ(link::TerminalSafeLatin1(r.in), r.latin1);
        // What comes out is safe, and escaping it again changes nothing.
        EXPECT_TRUE(link::IsTerminalSafe(r.utf8));
        EXPECT_TRUE(link::IsTerminalSafe(r.latin1));
        EXPECT_EQ(link::TerminalSafe(r.utf8), r.utf8);
        EXPECT_EQ(link::TerminalSafe(r.latin1), r.latin1);
        EXPECT_EQ(link::IsTerminalSafe(r.in), r.in == r.utf8);
    }
}

TEST(TerminalText, TorvikctlTextsAndJsonStringsCarryNoControlCharacter) {
    // Reader bytes (not UTF-8) are taken as Latin-1, catalogue rows as UTF-8.
    EXPECT_EQ(cli::ForTerminal("S/N \x9b" "2J\xE9"), "S/N \\x9b2J\xC3\xA9");
    EXPECT_EQ(cli::ForTerminal("\xE6\x89\xAB" + kTitle), "\xE6\x89\xAB\\x1b]2;owned\\x07");
    struct Row {
        std::string in, json;
    } const rows[] = {
        {kTitle, "\"\\u001B]2;owned\\u0007\""},
        {"\xC2\x9B" "2J", "\"\\u009B2J\""},
        {"\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF", "\"\\u0080\\u009F\xC2\xA0\xC3\xBF\""},
        {"\x9b\xE9", "\"\\u009B\xC3\xA9\""},  // stray bytes stand for their characters
        {"\xE6\x89\xAB \"\\\n", "\"\xE6\x89\xAB \\\"\\\\\\n\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.json);
        EXPECT_EQ(cli::JsonQuote(r.in), r.json);
        EXPECT_TRUE(link::IsTerminalSafe(r.json));
    }
}

TEST(TerminalText, StandardOutputStreamEscapesAcrossWrites) {
    std::ostringstream sink;
    {
        cli::TerminalSafeBuf safe(sink.rdbuf());
        std::ostream out(&safe);
        out << "S/N : " << kTitle.substr(0, 3);
        out.flush();
        out << kTitle.substr(3) << kClear << "\n";
        // A UTF-8 character split over two writes and a flush stays whole.
        out << "\xE6\x89";
        out.flush();
        out << "\xAB\n{\"text\":\"\\u001B\"}\n";
        out << "\xE6";  // cut off at the end: escaped when the stream ends
    }
    EXPECT_EQ(sink.str(), "S/N : \\x1b]2;owned\\x07\\x1b[2J\n\xE6\x89\xAB\n{\"text\":\"\\u001B\"}\n\\xe6");
}

}  // namespace
}  // namespace torvik::test

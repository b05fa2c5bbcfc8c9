// SPDX-License-Identifier: MIT
// Text that others control (file contents, the reader's bytes, process
// names, USB product strings, lock files) made safe for a terminal and for
// the trace file: every control character a terminal acts on is written as
// a visible escape, so an escape sequence hidden in such a text shows as
// "\x1b]2;...\x07" instead of retitling the window or clearing the screen.
//
// Escaped: the C0 controls other than TAB and LF (so CR, BEL, ESC, ...),
// DEL, and the C1 controls U+0080 to U+009F (a terminal takes CSI, OSC and
// the others there as well). Each becomes "\x" and two lower-case hex
// digits of its value. A byte that is not part of well-formed UTF-8 is
// escaped the same way. Everything else, backslashes included, stays as it
// is, so escaping twice gives what escaping once gave.
#pragma once
#include <string>
#include <string_view>

namespace torvik::link {

// UTF-8 text (with perhaps some malformed bytes) for a terminal.
std::string TerminalSafe(std::string_view utf8);

// Bytes that stand for characters of the same value (Latin-1, as the
// reader's fields are read) for a UTF-8 terminal.
std::string TerminalSafeLatin1(std::string_view bytes);

// Whether the text would go out unchanged.
bool IsTerminalSafe(std::string_view utf8);

}  // namespace torvik::link

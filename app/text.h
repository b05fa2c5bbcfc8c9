// SPDX-License-Identifier: MIT
// Text above the wire is Unicode, held as UTF-8. The two crossings happen
// here and nowhere else: bytes the reader sent become text (each byte the
// character of the same code, U+0000 to U+00FF), and typed text becomes the
// bytes that go on the wire (one byte per character; a character above
// U+00FF has no byte and is refused where text is typed).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace torvik::app {

// Reader bytes as text.
std::string TextOfBytes(std::string_view bytes);
// Typed text as wire bytes; nothing for malformed UTF-8 or a character
// above U+00FF.
std::optional<std::string> BytesOfText(std::string_view text);
// Whether every character of the UTF-8 text has a one-byte code.
inline bool IsByteText(std::string_view text) {
    return BytesOfText(text).has_value();
}

// Text trimmed of leading and trailing characters of code 0 to 32 (the
// rule for texts taken from edit boxes and panels).
std::string Trim(std::string_view text);

}  // namespace torvik::app

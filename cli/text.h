// SPDX-License-Identifier: MIT
// Text conversions of torvikctl: the window model's texts are bytes (the
// catalogue's UTF-8 rows, and what the reader sent, one byte per character);
// the terminal and the JSON output are UTF-8.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace torvik::cli {

// Each byte as the Unicode code point of the same value, in UTF-8 (the
// one crossing of app/text.h, under the name template files use).
std::string Latin1ToUtf8(std::string_view bytes);
// The inverse: UTF-8 whose code points are all below 256 back to one byte
// each. Nothing for malformed UTF-8 or a code point above 255.
std::optional<std::string> Utf8ToLatin1(std::string_view text);
// Whether the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view bytes);
// A model text for the terminal: kept when it already is UTF-8 (catalogue
// rows), otherwise taken as Latin-1 (reader bytes); either way with every
// control character written as a visible escape (link/terminal_text.h).
std::string ForTerminal(std::string_view bytes);
// A caption as shown: "&" marks a mnemonic and is dropped, "&&" is one "&".
std::string WithoutMnemonic(std::string_view caption);
// A JSON string literal (quotes included) of UTF-8 text. Control
// characters, the C1 controls U+0080 to U+009F included, are written as
// \uXXXX, so that the line is safe on a terminal too; a byte that is not
// part of well-formed UTF-8 stands for the character of its value.
std::string JsonQuote(std::string_view utf8);

}  // namespace torvik::cli

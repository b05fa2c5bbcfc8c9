// SPDX-License-Identifier: MIT
#include "link/terminal_text.h"

#include <cstdint>

namespace torvik::link {
namespace {

void AppendEscape(std::string& out, uint32_t value) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[(value >> 4) & 0xF];
    out += kHex[value & 0xF];
}

// A character a terminal acts on instead of showing it.
bool IsControl(uint32_t cp) {
    return (cp < 0x20 && cp != '\t' && cp != '\n') || (cp >= 0x7F && cp <= 0x9F);
}

// The length of the well-formed UTF-8 sequence at s[i] and its code point;
// 0 when the byte there does not start one.
size_t Utf8At(std::string_view s, size_t i, uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    uint32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string TerminalSafe(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = 0;
        const size_t len = Utf8At(utf8, i, cp);
        if (len == 0) {
            AppendEscape(out, static_cast<unsigned char>(utf8[i]));
            ++i;
        } else if (IsControl(cp)) {
            AppendEscape(out, cp);
            i += len;
        } else {
            out.append(utf8, i, len);
            i += len;
        }
    }
    return out;
}

std::string TerminalSafeLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const unsigned char c : bytes) {
        if (IsControl(c)) {
            AppendEscape(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsTerminalSafe(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp = 0;
        const size_t len = Utf8At(utf8, i, cp);
        if (len == 0 || IsControl(cp)) return false;
        i += len;
    }
    return true;
}

}  // namespace torvik::link

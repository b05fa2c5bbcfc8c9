// SPDX-License-Identifier: MIT
#include "cli/text.h"

#include <cstdint>
#include <cstdio>

#include "app/text.h"
#include "link/terminal_text.h"

namespace torvik::cli {

std::string Latin1ToUtf8(std::string_view bytes) {
    return app::TextOfBytes(bytes);
}

std::optional<std::string> Utf8ToLatin1(std::string_view text) {
    return app::BytesOfText(text);
}

bool IsUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= bytes.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto n = static_cast<unsigned char>(bytes[i + k]);
            if ((n & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (n & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string ForTerminal(std::string_view bytes) {
    return IsUtf8(bytes) ? link::TerminalSafe(bytes) : link::TerminalSafeLatin1(bytes);
}

std::string WithoutMnemonic(std::string_view caption) {
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') out.push_back('&');
            if (i + 1 < caption.size() && caption[i + 1] == '&') ++i;
            continue;
        }
        out.push_back(caption[i]);
    }
    return out;
}

std::string JsonQuote(std::string_view utf8) {
    std::string out = "\"";
    const auto escape = [&out](uint32_t cp) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04X", static_cast<unsigned>(cp));
        out += esc;
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        escape(c);
                    } else {
                        out.push_back(static_cast<char>(c));
                    }
            }
            ++i;
            continue;
        }
        // A whole UTF-8 character goes as it is, except the C1 controls
        // U+0080 to U+009F, which a terminal showing the line would act on.
        // A byte that starts no well-formed character stands for the
        // character of its value, as reader bytes do.
        size_t len = 1;
        while (len < 4 && i + len <= utf8.size() && !IsUtf8(utf8.substr(i, len))) ++len;
        if (i + len <= utf8.size() && IsUtf8(utf8.substr(i, len))) {
            const auto c1 = static_cast<unsigned char>(utf8[i + 1]);
            if (c == 0xC2 && c1 < 0xA0) {
                escape(c1);
            } else {
                out.append(utf8, i, len);
            }
            i += len;
        } else {
            if (c < 0xA0) {
                escape(c);
            } else {
                out += Latin1ToUtf8(utf8.substr(i, 1));
            }
            ++i;
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace torvik::cli

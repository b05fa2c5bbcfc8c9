// SPDX-License-Identifier: MIT
#include "app/text.h"

namespace torvik::app {

std::string TextOfBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> BytesOfText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        // Only the two-byte forms of U+0080..U+00FF (lead byte C2 or C3).
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= text.size()) return std::nullopt;
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        out.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}

std::string Trim(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    return std::string(text.substr(first, last - first));
}

}  // namespace torvik::app

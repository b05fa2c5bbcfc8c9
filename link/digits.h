// SPDX-License-Identifier: MIT
// Numbers written as a run of ASCII digits: COM numbers, device and port
// numbers of sysfs and udev, pids of procfs, stored counters.
#pragma once
#include <charconv>
#include <string_view>
#include <system_error>

namespace torvik::link {

// `text` as a number of type T: digits only (no sign, no blank, not empty)
// and within T's range. `out` is left as it was otherwise.
template <class T>
bool ParseDigits(std::string_view text, T& out) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

}  // namespace torvik::link

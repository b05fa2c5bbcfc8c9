// SPDX-License-Identifier: MIT
// The --port COMn=PATH pin under arbitrary text. A pin is taken only when
// it has the form (COM in any case, a number from 1 to 16 in digits, '=',
// a path), and then that number leads to exactly that path; a refused pin
// changes nothing and says why in a text safe for a terminal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "link/com_map.h"
#include "link/terminal_text.h"

namespace {

// The form of a pin, written out once more for comparison.
bool WellFormed(std::string_view text, int& number, std::string& path) {
    if (text.size() < 3) return false;
    for (size_t i = 0; i < 3; ++i) {
        const char c = text[i];
        if (c != "COM"[i] && c != "com"[i]) return false;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos || eq == 3) return false;
    long long n = 0;  // leading zeros are allowed; beyond 16 it only grows
    for (const char c : text.substr(3, eq - 3)) {
        if (c < '0' || c > '9') return false;
        n = n > 1000 ? n : n * 10 + (c - '0');
    }
    path = std::string(text.substr(eq + 1));
    number = static_cast<int>(n);
    return n >= 1 && n <= 16 && !path.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Nowhere on this machine: no port of it is looked at.
    torvik::link::ComMap map("/nonexistent-dev", "/nonexistent-sys", "/nonexistent-proc");
    int number = 0;
    std::string path;
    const bool form = WellFormed(text, number, path);
    CHECK(torvik::link::ComMap::pin_well_formed(text) == form);
    std::string refusal;
    const bool taken = map.add_override(text, &refusal);
    CHECK(!taken || form);
    CHECK(taken == refusal.empty());
    CHECK(torvik::link::IsTerminalSafe(torvik::link::TerminalSafe(refusal)));
    if (taken) {
        CHECK(map.path(number) == path);
        for (int other = 1; other <= 16; ++other) {
            if (other != number) CHECK(map.path(other).empty());
        }
    } else {
        for (int n = 1; n <= 16; ++n) CHECK(map.path(n).empty());
    }
    return 0;
}

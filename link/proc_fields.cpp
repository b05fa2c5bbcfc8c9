// SPDX-License-Identifier: MIT
#include "link/proc_fields.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <climits>

#include "link/digits.h"

namespace torvik::link {
namespace {

bool ParseSigned(std::string_view text, long long& out) {
    if (text.empty() || text.front() == '+') return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

// Hexadecimal digits only, within 32 bits.
bool ParseHex(std::string_view text, unsigned& out) {
    if (text.empty() || text.size() > 8) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
    return ec == std::errc{} && end == text.data() + text.size();
}

// The next run of characters other than blanks; empty at the end.
std::string_view NextField(std::string_view& rest) {
    const size_t start = rest.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const size_t end = std::min(rest.find_first_of(" \t\n"), rest.size());
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end);
    return field;
}

}  // namespace

bool ParseStatLine(std::string_view text, StatFields& out) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return false;
    }
    // state ppid pgrp session tty_nr, blank-separated.
    std::string_view rest = text.substr(close + 1);
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        field = NextField(rest);
        if (field.empty()) return false;
    }
    long long session = 0, tty_nr = 0;
    if (!ParseSigned(fields[3], session) || !ParseSigned(fields[4], tty_nr)) return false;
    out.name = std::string(text.substr(open + 1, close - open - 1));
    out.session = session;
    out.tty_nr = tty_nr;
    return true;
}

dev_t DecodeTtyNr(long long nr) {
    const auto n = static_cast<unsigned long long>(nr) & 0xffffffffULL;
    const auto major = static_cast<unsigned>((n >> 8) & 0xfff);
    const auto minor = static_cast<unsigned>((n & 0xff) | ((n >> 12) & 0xfff00));
    return makedev(major, minor);
}

bool ParseDeviceNumber(std::string_view text, dev_t& out) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    const size_t colon = text.find(':');
    unsigned major = 0, minor = 0;
    if (colon == std::string_view::npos || !ParseDigits(text.substr(0, colon), major) ||
        !ParseDigits(text.substr(colon + 1), minor)) {
        return false;
    }
    out = makedev(major, minor);
    return true;
}

bool ParseLocksLine(std::string_view line, LockLine& out) {
    std::string_view rest = line;
    const std::string_view id = NextField(rest);
    if (id.size() < 2 || id.back() != ':') return false;
    unsigned number = 0;
    if (!ParseDigits(id.substr(0, id.size() - 1), number)) return false;
    std::string_view kind = NextField(rest);
    if (kind == "->") return false;  // waiting, holds nothing
    // FLOCK ADVISORY WRITE pid maj:min:inode start end; a lease or an
    // older kernel may add or leave out a word before the pid, so the pid
    // is the field before the one with two colons.
    std::string_view previous, field;
    while (!(field = NextField(rest)).empty()) {
        if (std::count(field.begin(), field.end(), ':') == 2) break;
        previous = field;
    }
    if (field.empty() || kind.empty()) return false;
    int pid = 0;
    if (!ParseDigits(previous, pid) || pid <= 0) return false;
    const size_t first = field.find(':');
    const size_t second = field.find(':', first + 1);
    unsigned major = 0, minor = 0;
    uint64_t inode = 0;
    if (!ParseHex(field.substr(0, first), major) ||
        !ParseHex(field.substr(first + 1, second - first - 1), minor) ||
        !ParseDigits(field.substr(second + 1), inode)) {
        return false;
    }
    out.kind = std::string(kind);
    out.pid = pid;
    out.device = makedev(major, minor);
    out.inode = inode;
    return true;
}

}  // namespace torvik::link

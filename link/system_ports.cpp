// SPDX-License-Identifier: MIT
#include "link/system_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string_view>

#include "link/file_io.h"

namespace torvik::link {
namespace {

// Far more than a stat line or a device number ever holds.
constexpr size_t kSmallFileLimit = 64 * 1024;

// The device /dev/console stands for, whichever console that is today, and
// /dev/tty, the opening process's own terminal.
const dev_t kConsoleDevice = makedev(5, 1);
const dev_t kOwnTerminalDevice = makedev(5, 0);

bool parse_int(std::string_view text, long long& out) {
    if (text.empty()) return false;
    const char* first = text.data();
    if (*first == '+') return false;
    auto [end, ec] = std::from_chars(first, first + text.size(), out);
    return ec == std::errc{} && end == first + text.size();
}

// The whole of a small system file (sysfs, procfs); empty when it cannot
// be read. One open and read, no stream: a scan reads one file per process.
std::string read_all(const std::string& path) {
    std::string text;
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0 || !ReadAll(fd.get(), text, kSmallFileLimit)) return {};
    return text;
}

// "4:64" as a device number.
bool parse_dev(std::string_view text, dev_t& out) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    const size_t colon = text.find(':');
    long long major = 0, minor = 0;
    if (colon == std::string_view::npos || !parse_int(text.substr(0, colon), major) ||
        !parse_int(text.substr(colon + 1), minor) || major < 0 || minor < 0) {
        return false;
    }
    out = makedev(static_cast<unsigned>(major), static_cast<unsigned>(minor));
    return true;
}

// The kernel's encoding of tty_nr: minor bits 0-7 and 20-31, major 8-19.
dev_t decode_tty_nr(long long nr) {
    const auto n = static_cast<unsigned long long>(nr) & 0xffffffffULL;
    const auto major = static_cast<unsigned>((n >> 8) & 0xfff);
    const auto minor = static_cast<unsigned>((n & 0xff) | ((n >> 12) & 0xfff00));
    return makedev(major, minor);
}

struct StatFields {
    std::string name;
    long long session = 0;
    long long tty_nr = 0;
};

// Fields of /proc/PID/stat: "pid (comm) state ppid pgrp session tty_nr ...".
// The name may hold blanks and parentheses, so the fields start after the
// last ')'.
bool parse_stat(std::string_view text, StatFields& out) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return false;
    }
    out.name = std::string(text.substr(open + 1, close - open - 1));
    // state ppid pgrp session tty_nr, blank-separated.
    std::string_view rest = text.substr(close + 1);
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const size_t start = rest.find_first_not_of(" \n");
        if (start == std::string_view::npos) return false;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find_first_of(" \n"), rest.size());
        field = rest.substr(0, end);
        rest.remove_prefix(end);
    }
    return parse_int(fields[3], out.session) && parse_int(fields[4], out.tty_nr);
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

}  // namespace

std::string SystemPortsView::reason(const std::string& path) const {
    if (path.empty()) return {};
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        dev_t device = st.st_rdev;
        if (device == kOwnTerminalDevice) device = own_terminal_;
        if (device == kConsoleDevice || console_devices_.count(device) != 0) {
            return "system console";
        }
        if (auto it = terminals_.find(device); it != terminals_.end()) {
            const std::string name = it->second.name.empty() ? "a program" : it->second.name;
            return "login terminal of " + name + " (pid " + std::to_string(it->second.pid) + ")";
        }
    }
    if (console_names_.count(base_name(resolved(path))) != 0) return "system console";
    return {};
}

SystemPorts::SystemPorts(std::string sys_root, std::string proc_root)
    : sys_root_(std::move(sys_root)), proc_root_(std::move(proc_root)) {}

void SystemPorts::hold() const {
    ++holds_;
}

void SystemPorts::release() const {
    if (holds_ > 0 && --holds_ == 0) held_.reset();
}

SystemPortsView SystemPorts::look() const {
    if (holds_ == 0) return take();
    if (!held_) held_ = take();
    return *held_;
}

SystemPortsView SystemPorts::take() const {
    SystemPortsView view;
    std::istringstream names(read_all(sys_root_ + "/class/tty/console/active"));
    for (std::string name; names >> name;) {
        view.console_names_.insert(name);
        dev_t device = 0;
        if (parse_dev(read_all(sys_root_ + "/class/tty/" + name + "/dev"), device)) {
            view.console_devices_.insert(device);
        }
    }

    const long long own_pid = ::getpid();
    DIR* proc = ::opendir(proc_root_.c_str());
    if (proc == nullptr) return view;
    while (const dirent* entry = ::readdir(proc)) {
        long long pid = 0;
        if (!parse_int(entry->d_name, pid) || pid <= 0 || pid > INT_MAX) continue;
        StatFields fields;
        if (!parse_stat(read_all(proc_root_ + "/" + entry->d_name + "/stat"), fields)) continue;
        if (fields.tty_nr == 0) continue;  // no controlling terminal
        const dev_t device = decode_tty_nr(fields.tty_nr);
        if (pid == own_pid) view.own_terminal_ = device;
        // The terminal is named after its session leader (the getty, the
        // login shell), the lowest such pid; failing one, the lowest pid.
        SystemPortsView::Owner owner{static_cast<int>(pid), fields.name, fields.session == pid};
        auto [it, added] = view.terminals_.emplace(device, owner);
        if (!added) {
            const SystemPortsView::Owner& have = it->second;
            if (owner.session_leader != have.session_leader ? owner.session_leader
                                                            : owner.pid < have.pid) {
                it->second = owner;
            }
        }
    }
    ::closedir(proc);
    return view;
}

}  // namespace torvik::link

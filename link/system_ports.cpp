// SPDX-License-Identifier: MIT
#include "link/system_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string_view>

#include "link/digits.h"
#include "link/file_io.h"
#include "link/proc_fields.h"
#include "link/terminal_text.h"

namespace torvik::link {
namespace {

// Far more than a stat line or a device number ever holds.
constexpr size_t kSmallFileLimit = 64 * 1024;

// The device /dev/console stands for, whichever console that is today, and
// /dev/tty, the opening process's own terminal.
const dev_t kConsoleDevice = makedev(5, 1);
const dev_t kOwnTerminalDevice = makedev(5, 0);

// The whole of a small system file (sysfs, procfs); empty when it cannot
// be read. One open and read, no stream: a scan reads one file per process.
std::string read_all(const std::string& path) {
    std::string text;
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0 || !ReadAll(fd.get(), text, kSmallFileLimit)) return {};
    return text;
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
            // The name is whatever the process calls itself.
            const std::string name =
                it->second.name.empty() ? "a program" : TerminalSafe(it->second.name);
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
        if (ParseDeviceNumber(read_all(sys_root_ + "/class/tty/" + name + "/dev"), device)) {
            view.console_devices_.insert(device);
        }
    }

    const int own_pid = static_cast<int>(::getpid());
    DIR* proc = ::opendir(proc_root_.c_str());
    if (proc == nullptr) return view;
    while (const dirent* entry = ::readdir(proc)) {
        int pid = 0;
        if (!ParseDigits(std::string_view(entry->d_name), pid) || pid <= 0) continue;
        StatFields fields;
        if (!ParseStatLine(read_all(proc_root_ + "/" + entry->d_name + "/stat"), fields)) continue;
        if (fields.tty_nr == 0) continue;  // no controlling terminal
        const dev_t device = DecodeTtyNr(fields.tty_nr);
        if (pid == own_pid) view.own_terminal_ = device;
        // The terminal is named after its session leader (the getty, the
        // login shell), the lowest such pid; failing one, the lowest pid.
        SystemPortsView::Owner owner{pid, fields.name, fields.session == pid};
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

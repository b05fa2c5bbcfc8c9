// SPDX-License-Identifier: MIT
#include "link/port_diagnostics.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "link/digits.h"
#include "link/file_io.h"
#include "link/proc_fields.h"
#include "link/terminal_text.h"

namespace torvik::link {
namespace {

// A directory entry name made only of digits, as a pid.
bool parse_pid(const char* name, int& pid) {
    return ParseDigits(std::string_view(name), pid);
}

std::string read_link(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

// The path a device path finally names (a /dev/serial/by-id link leads to
// the tty), or empty when it cannot be resolved.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string{};
}

std::string process_name(const std::string& pid_dir) {
    std::ifstream in(pid_dir + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool holds(const std::string& fd_dir, const std::string& device_path, const std::string& real_path,
           const struct stat* device) {
    DIR* dir = ::opendir(fd_dir.c_str());
    if (dir == nullptr) return false;  // another user's process, or gone
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string fd_path = fd_dir + "/" + entry->d_name;
        const std::string target = read_link(fd_path);
        if (target.empty()) continue;
        if (target == device_path || (!real_path.empty() && target == real_path)) {
            found = true;
            break;
        }
        // The same device under another name: only device nodes are worth
        // a stat, not every file and socket the process has open.
        if (device != nullptr && target.compare(0, 5, "/dev/") == 0) {
            struct stat st {};
            if (::stat(fd_path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == device->st_rdev) {
                found = true;
                break;
            }
        }
    }
    ::closedir(dir);
    return found;
}

bool contains(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The groups the group database puts the user in, the primary one included.
std::vector<gid_t> database_groups(const std::string& user, gid_t primary_gid) {
    std::vector<gid_t> groups(32);
    for (int attempt = 0; attempt < 4; ++attempt) {
        int count = static_cast<int>(groups.size());
        if (::getgrouplist(user.c_str(), primary_gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<size_t>(count));
            return groups;
        }
        // Too small: `count` now holds the number needed.
        groups.resize(static_cast<size_t>(std::max(count, static_cast<int>(groups.size()) * 2)));
    }
    return {primary_gid};
}

std::string group_name(gid_t gid) {
    if (const group* g = ::getgrgid(gid); g != nullptr && g->gr_name != nullptr) return g->gr_name;
    return std::to_string(gid);
}

std::vector<gid_t> session_groups() {
    std::vector<gid_t> groups;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        groups.resize(static_cast<size_t>(count));
        const int got = ::getgroups(count, groups.data());
        groups.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    groups.push_back(::getegid());
    return groups;
}

}  // namespace

std::vector<PortHolder> find_holders(const std::string& device_path, const std::string& proc_root,
                                     int skip_pid) {
    std::vector<PortHolder> holders;
    if (device_path.empty()) return holders;
    const std::string real_path = resolved(device_path);
    struct stat device_stat {};
    const bool is_device =
        ::stat(device_path.c_str(), &device_stat) == 0 && S_ISCHR(device_stat.st_mode);

    DIR* proc = ::opendir(proc_root.c_str());
    if (proc == nullptr) return holders;
    while (const dirent* entry = ::readdir(proc)) {
        int pid = 0;
        if (!parse_pid(entry->d_name, pid) || pid == skip_pid) continue;
        const std::string pid_dir = proc_root + "/" + entry->d_name;
        if (holds(pid_dir + "/fd", device_path, real_path, is_device ? &device_stat : nullptr)) {
            holders.push_back({pid, process_name(pid_dir)});
        }
    }
    ::closedir(proc);
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::vector<PortHolder> lock_holders(const std::string& path, const std::string& proc_root) {
    std::vector<PortHolder> holders;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return holders;
    std::string table;
    const Fd locks(::open((proc_root + "/locks").c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!locks.valid() || !ReadAll(locks.get(), table, size_t{16} << 20)) return holders;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        LockLine lock;
        if (ParseLocksLine(std::string_view(table).substr(start, end - start), lock) &&
            lock.device == st.st_dev && lock.inode == st.st_ino &&
            std::none_of(holders.begin(), holders.end(),
                         [&](const PortHolder& h) { return h.pid == lock.pid; })) {
            holders.push_back({lock.pid, process_name(proc_root + "/" + std::to_string(lock.pid))});
        }
        start = end + 1;
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

bool locked_by_another(const std::string& device_path, int own_pid, const std::string& proc_root) {
    for (const PortHolder& h : lock_holders(device_path, proc_root)) {
        if (own_pid == 0 || h.pid != own_pid) return true;
    }
    return false;
}

std::string describe_holders(const std::vector<PortHolder>& holders) {
    std::string text;
    for (const PortHolder& h : holders) {
        text += text.empty() ? "held by " : ", ";
        // The name is whatever the process calls itself.
        text += (h.name.empty() ? std::string("a program") : TerminalSafe(h.name)) + " (pid " +
                std::to_string(h.pid) + ")";
    }
    return text;
}

std::string exclusive_flag_detail(bool left_by_ended, const std::vector<PortHolder>& openers) {
    constexpr const char* kReplug = "unplug and replug the adapter";
    // The names without "held by ": they hold no lock.
    const std::string names = openers.empty() ? std::string() : describe_holders(openers).substr(8);
    const char* verb = openers.size() == 1 ? "keeps" : "keep";
    if (left_by_ended) {
        std::string text =
            std::string(": the port's exclusive flag was left set by a program that ended; ") +
            kReplug;
        if (!openers.empty()) text += ", or end " + names + ", which " + verb + " the port open";
        return text;
    }
    if (!openers.empty()) {
        return ": the port's exclusive flag is set, but no program locks the port: either " +
               names + (openers.size() == 1 ? ", which has" : ", which have") +
               " the port open, set it, or a program that ended left it set (then " + kReplug +
               ")";
    }
    return std::string(
               " (held by another program, or the port's exclusive flag was left set by a "
               "program that ended: ") +
           kReplug + ")";
}

std::string group_advice(const std::string& device_path, gid_t gid, const std::string& user,
                         gid_t primary_gid, const std::vector<gid_t>& session) {
    if (contains(session, gid)) return {};
    const std::string group = group_name(gid);
    const std::string who = user.empty() ? std::string("$USER") : user;
    if (!contains(database_groups(user, primary_gid), gid)) {
        return TerminalSafe(device_path) + " belongs to group " + TerminalSafe(group) +
               " and you are not in it; run: sudo usermod -aG " + TerminalSafe(group) + " " +
               TerminalSafe(who) +
               ", then log out completely and log in again";
    }
    return TerminalSafe(device_path) + " belongs to group " + TerminalSafe(group) +
           "; you were added to group " + TerminalSafe(group) +
           " but this session does not have it yet: log out completely and log in again";
}

std::string permission_detail(const std::string& device_path) {
    struct stat st {};
    if (device_path.empty() || ::stat(device_path.c_str(), &st) != 0) return {};
    const uid_t uid = ::getuid();
    // For the owner only the owner's bits count; no group would help.
    if (st.st_uid == uid) return {};
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if ((st.st_mode & kGroupReadWrite) != kGroupReadWrite) return {};

    std::string user;
    gid_t primary_gid = ::getgid();
    if (const passwd* pw = ::getpwuid(uid); pw != nullptr) {
        if (pw->pw_name != nullptr) user = pw->pw_name;
        primary_gid = pw->pw_gid;
    }
    const std::string advice =
        group_advice(device_path, st.st_gid, user, primary_gid, session_groups());
    return advice.empty() ? std::string{} : ": " + advice;
}

std::string busy_detail(const std::string& device_path) {
    const int own = static_cast<int>(::getpid());
    // Those that lock it hold it; the others may only be looking.
    std::vector<PortHolder> holders = lock_holders(device_path);
    holders.erase(std::remove_if(holders.begin(), holders.end(),
                                 [own](const PortHolder& h) { return h.pid == own; }),
                  holders.end());
    if (holders.empty()) holders = find_holders(device_path, "/proc", own);
    if (holders.empty()) return " (held by another program)";
    return ": " + describe_holders(holders);
}

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
#include "link/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace torvik::link {
namespace {

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads a lock file without following a link planted in its place, and
// without opening anything but a regular file (the lock directory is
// writable by every user: a FIFO or a device may stand there). False when
// it is not there; `error` is set when something is there that cannot be
// read as a lock file.
bool read_lock(const std::string& path, std::string& contents, int& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = errno;
        return error != ENOENT && error != ENOTDIR;
    }
    if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
        return true;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return error != ENOENT && error != ENOTDIR;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino ||
        opened.st_dev != st.st_dev) {
        ::close(fd);
        error = EINVAL;
        return true;
    }
    char buf[128];
    ssize_t n = 0;
    do {
        n = ::read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    error = 0;
    contents.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return true;
}

bool alive(int pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string process_name(const std::string& proc_root, int pid) {
    std::ifstream in(proc_root + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Writes this process's pid into a new file in `dir`, then links it to
// `path` in one step, so that nobody ever reads a half-written lock.
// 0 when the lock file is ours, else the error (EEXIST: someone has it).
int create_lock(const std::string& dir, const std::string& path) {
    const std::string temp = dir + "/LTMP." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {  // left by an earlier process with our pid
        ::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0) return errno;
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<size_t>(len)) == len;
    ::fchmod(fd, 0644);  // readable by every program that checks, whatever the umask
    ::close(fd);
    if (!written) {
        const int error = errno != 0 ? errno : EIO;
        ::unlink(temp.c_str());
        return error;
    }
    int result = ::link(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
    ::unlink(temp.c_str());
    return result;
}

}  // namespace

std::vector<std::string> default_lock_dirs() {
    std::vector<std::string> dirs{"/run/lock"};
    const std::string run = resolved("/run/lock"), var = resolved("/var/lock");
    if (run != var && ::access("/var/lock", F_OK) == 0) dirs.push_back("/var/lock");
    return dirs;
}

std::string lock_file_name(const std::string& device_path) {
    const std::string real = resolved(device_path);
    std::string name = real.compare(0, 5, "/dev/") == 0 ? real.substr(5) : base_name(real);
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return "LCK.." + name;
}

int lock_file_pid(const std::string& contents) {
    // The old binary form: the pid as a native 4-byte int, whose high byte
    // is zero for every pid the kernel hands out.
    if (contents.size() == 4 && contents.find('\0') != std::string::npos) {
        int32_t pid = 0;
        std::memcpy(&pid, contents.data(), sizeof pid);
        return pid > 0 ? pid : 0;
    }
    size_t i = contents.find_first_not_of(' ');
    if (i == std::string::npos) return 0;
    long long pid = 0;
    const size_t start = i;
    while (i < contents.size() && contents[i] >= '0' && contents[i] <= '9' && i - start < 10) {
        pid = pid * 10 + (contents[i++] - '0');
    }
    if (i == start) return 0;
    // What follows the number, if anything, is a line break or a blank
    // (some programs add their name and user after it).
    if (i < contents.size() && contents[i] != '\n' && contents[i] != ' ' && contents[i] != '\r') {
        return 0;
    }
    return pid > 0 && pid <= 0x7fffffff ? static_cast<int>(pid) : 0;
}

UucpLock::UucpLock(std::vector<std::string> dirs, std::string proc_root)
    : dirs_(std::move(dirs)), proc_root_(std::move(proc_root)) {}

bool UucpLock::live_owner(const std::string& path, PortHolder& holder, bool remove_stale,
                          bool* stale) const {
    std::string contents;
    int error = 0;
    if (!read_lock(path, contents, error)) return false;
    if (error != 0) {
        // There but unreadable: someone holds it, and we cannot tell who.
        holder = {0, {}};
        return true;
    }
    const int pid = lock_file_pid(contents);
    if (pid == static_cast<int>(::getpid())) return false;
    if (pid > 0 && alive(pid)) {
        holder = {pid, process_name(proc_root_, pid)};
        return true;
    }
    // The owner is gone, or the file names none: a stale lock.
    if (stale != nullptr && pid > 0) *stale = true;
    if (remove_stale) ::unlink(path.c_str());
    return false;
}

UucpLock::Result UucpLock::acquire(const std::string& device_path, PortHolder& holder,
                                   bool* stale_found) {
    release();
    if (stale_found != nullptr) *stale_found = false;
    const std::string name = lock_file_name(device_path);
    // Programs that take the lock by the plain last part of the path
    // ("LCK..5" for /dev/pts/5) are honoured too.
    const std::string short_name = "LCK.." + base_name(resolved(device_path));
    for (const std::string& dir : dirs_) {
        for (const std::string& n : {name, short_name}) {
            if (live_owner(dir + "/" + n, holder, false, stale_found)) return Result::kBusy;
        }
    }
    for (const std::string& dir : dirs_) {
        const std::string path = dir + "/" + name;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int error = create_lock(dir, path);
            if (error == 0) {
                files_.push_back(path);
                break;
            }
            if (error != EEXIST) break;  // not writable here: not ours to take
            std::string contents;
            int read_error = 0;
            if (read_lock(path, contents, read_error) && read_error == 0 &&
                lock_file_pid(contents) == static_cast<int>(::getpid())) {
                break;  // another handle of this process: the device open decides
            }
            if (live_owner(path, holder, true)) {
                release();
                return Result::kBusy;
            }
        }
    }
    return Result::kTaken;
}

void UucpLock::release() {
    for (const std::string& path : files_) {
        // Only a file that still names us: a program that broke a lock it
        // thought stale keeps its own.
        std::string contents;
        int error = 0;
        if (read_lock(path, contents, error) && error == 0 &&
            lock_file_pid(contents) == static_cast<int>(::getpid())) {
            ::unlink(path.c_str());
        }
    }
    files_.clear();
}

}  // namespace torvik::link

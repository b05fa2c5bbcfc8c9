// SPDX-License-Identifier: MIT
#include "link/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace torvik::link {

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Fd::close_checked() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
}

bool ReadAll(int fd, std::string& out, size_t limit) {
    out.clear();
    char buffer[8192];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit) return false;
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Fd TakeLockFile(const std::string& path, mode_t mode, int wait_ms) {
    Fd lock(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, mode));
    if (lock.get() < 0) lock.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (lock.get() < 0) return lock;
    // Made under another umask, or by an older version: all users share it.
    struct stat st {};
    if (::fstat(lock.get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != mode) {
        ::fchmod(lock.get(), mode);
    }
    for (int waited_ms = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; waited_ms += 10) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited_ms >= wait_ms) {
            lock.reset();
            return lock;
        }
        ::usleep(10000);
    }
    return lock;
}

CurrentFile ReadCurrentFile(const std::string& path, size_t limit, std::string& text,
                            gid_t& group) {
    text.clear();
    const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return errno == ENOENT ? CurrentFile::kMissing : CurrentFile::kUnreadable;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !ReadAll(file.get(), text, limit)) {
        text.clear();
        return CurrentFile::kUnreadable;
    }
    group = st.st_gid;
    return CurrentFile::kRead;
}

void RemoveTemporaries(const std::string& path, const char* infix) {
    const size_t slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + infix;
    DIR* dir = ::opendir(DirectoryOf(path).c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) continue;
        // mkostemp's six letters and digits.
        bool temporary = true;
        for (char c : name.substr(prefix.size())) {
            temporary = temporary && std::isalnum(static_cast<unsigned char>(c));
        }
        if (temporary) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool ReplaceFile(const std::string& path, const char* infix, std::string_view text, mode_t mode,
                 std::optional<gid_t> group, bool cut_short) {
    std::string temp_path = path + infix + "XXXXXX";
    Fd temp(::mkostemp(temp_path.data(), O_CLOEXEC));
    if (temp.get() < 0) return false;
    const auto fail = [&] {
        temp.reset();
        ::unlink(temp_path.c_str());
        return false;
    };
    if (cut_short) {
        WriteAll(temp.get(), text.substr(0, text.size() / 2));
        return fail();
    }
    if (!WriteAll(temp.get(), text) || ::fsync(temp.get()) != 0) return fail();
    // Keep the group of the old file (the group of the machine's users) when
    // we are allowed to; the mode gives that group write access.
    if (group) {
        [[maybe_unused]] const int ignored = ::fchown(temp.get(), static_cast<uid_t>(-1), *group);
    }
    if (::fchmod(temp.get(), mode) != 0) return fail();
    if (!temp.close_checked()) return fail();
    if (::rename(temp_path.c_str(), path.c_str()) != 0) return fail();
    // Make the rename itself durable; the new content is in place either way.
    Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

}  // namespace torvik::link

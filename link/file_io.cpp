// SPDX-License-Identifier: MIT
#include "link/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace torvik::link {
namespace {

constexpr int kSafeFlags = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

}  // namespace

// Six letters and digits, as mkstemp's: random where the kernel gives
// randomness, else from the time and the pid.
std::string RandomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        uint64_t seed = static_cast<uint64_t>(ts.tv_nsec) ^
                        (static_cast<uint64_t>(::getpid()) << 32) ^
                        static_cast<uint64_t>(ts.tv_sec);
        for (unsigned char& b : bytes) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            b = static_cast<unsigned char>(seed >> 56);
        }
    }
    std::string out;
    for (unsigned char b : bytes) out += kChars[b % (sizeof kChars - 1)];
    return out;
}

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

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Fd OpenDirectoryOf(const std::string& path) {
    return Fd(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::string KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "is a symbolic link";
    if (S_ISFIFO(mode)) return "is a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISSOCK(mode)) return "is a socket";
    if (S_ISREG(mode)) return "is a file";
    return "is not a regular file";
}

Fd OpenRegularAt(int dir, const std::string& name, int flags, std::string& refusal,
                 struct stat* st) {
    refusal.clear();
    if (name.empty() || name == "." || name == "..") {
        refusal = "is a directory";
        errno = EISDIR;
        return Fd();
    }
    // Looked at first without opening: opening a device can change a
    // serial line, and opening a FIFO can wait for a writer.
    struct stat before {};
    if (::fstatat(dir, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) return Fd();
    if (!S_ISREG(before.st_mode)) {
        refusal = KindOf(before.st_mode);
        errno = EINVAL;
        return Fd();
    }
    Fd fd(::openat(dir, name.c_str(), flags | kSafeFlags));
    if (!fd.valid()) {
        if (errno == ELOOP) refusal = "is a symbolic link";  // put there meanwhile
        return fd;
    }
    // Still the file looked at: nothing was put in its place in between.
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) return Fd();
    if (!S_ISREG(now.st_mode) || now.st_dev != before.st_dev || now.st_ino != before.st_ino) {
        refusal = S_ISREG(now.st_mode) ? "was replaced while it was opened" : KindOf(now.st_mode);
        errno = EINVAL;
        return Fd();
    }
    if (st != nullptr) *st = now;
    return fd;
}

Fd CreateAt(int dir, const std::string& name, int flags, mode_t mode) {
    Fd fd(::openat(dir, name.c_str(), flags | O_CREAT | O_EXCL | kSafeFlags, mode));
    // Ours: the mode asked for, whatever the umask.
    if (fd.valid() && ::fchmod(fd.get(), mode) != 0) {
        const int error = errno;
        fd.reset();
        ::unlinkat(dir, name.c_str(), 0);
        errno = error;
    }
    return fd;
}

Fd TakeLockFile(int dir, const std::string& name, mode_t mode, int wait_ms, std::string& refusal) {
    refusal.clear();
    Fd lock = CreateAt(dir, name, O_RDWR, mode);
    if (!lock.valid()) lock = OpenRegularAt(dir, name, O_RDWR, refusal);
    if (!lock.valid() && refusal.empty() && errno != ENOENT) {
        lock = OpenRegularAt(dir, name, O_RDONLY, refusal);
    }
    if (!lock.valid()) return lock;
    for (int waited_ms = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; waited_ms += 10) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited_ms >= wait_ms) {
            lock.reset();
            return lock;
        }
        ::usleep(10000);
    }
    return lock;
}

CurrentFile ReadCurrentFile(int dir, const std::string& name, size_t limit, std::string& text,
                            FileFacts& facts, std::string& refusal) {
    text.clear();
    struct stat st {};
    const Fd file = OpenRegularAt(dir, name, O_RDONLY, refusal, &st);
    if (!file.valid()) {
        return refusal.empty() && errno == ENOENT ? CurrentFile::kMissing
                                                  : CurrentFile::kUnreadable;
    }
    if (static_cast<uint64_t>(st.st_size) > limit || !ReadAll(file.get(), text, limit)) {
        text.clear();
        return CurrentFile::kUnreadable;
    }
    facts = FileFacts{st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 0777)};
    return CurrentFile::kRead;
}

void RemoveTemporaries(int dir, const std::string& name, const char* infix) {
    const std::string prefix = name + infix;
    const int copy = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    DIR* listing = ::fdopendir(copy);
    if (listing == nullptr) {
        ::close(copy);
        return;
    }
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view entry_name(entry->d_name);
        if (entry_name.size() != prefix.size() + 6 ||
            entry_name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        bool temporary = true;
        for (char c : entry_name.substr(prefix.size())) {
            temporary = temporary && std::isalnum(static_cast<unsigned char>(c));
        }
        struct stat st {};
        if (temporary && ::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode)) {
            ::unlinkat(dir, entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

bool ReplaceFile(int dir, const std::string& name, const char* infix, std::string_view text,
                 mode_t mode, const std::optional<FileFacts>& like, bool cut_short) {
    std::string temp_name;
    Fd temp;
    for (int attempt = 0; attempt < 100 && !temp.valid(); ++attempt) {
        temp_name = name + infix + RandomSuffix();
        // Private until it is complete.
        temp = CreateAt(dir, temp_name, O_RDWR, 0600);
        if (!temp.valid() && errno != EEXIST) return false;
    }
    if (!temp.valid()) return false;
    const auto fail = [&] {
        temp.reset();
        ::unlinkat(dir, temp_name.c_str(), 0);
        return false;
    };
    if (cut_short) {
        WriteAll(temp.get(), text.substr(0, text.size() / 2));
        return fail();
    }
    if (!WriteAll(temp.get(), text) || ::fsync(temp.get()) != 0) return fail();
    // The replaced file's owner (root may give it back) and group (kept when
    // we are allowed to: the group of the machine's users), so that a save
    // changes the content only.
    if (like) {
        const uid_t owner = ::geteuid() == 0 ? like->uid : static_cast<uid_t>(-1);
        [[maybe_unused]] const int ignored = ::fchown(temp.get(), owner, like->gid);
    }
    if (::fchmod(temp.get(), mode) != 0) return fail();
    if (!temp.close_checked()) return fail();
    if (::renameat(dir, temp_name.c_str(), dir, name.c_str()) != 0) return fail();
    // Make the rename itself durable; the new content is in place either way.
    ::fsync(dir);
    return true;
}

}  // namespace torvik::link

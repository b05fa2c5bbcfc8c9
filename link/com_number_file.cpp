// SPDX-License-Identifier: MIT
#include "link/com_number_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace torvik::link {
namespace {

// Sixteen lines of names; anything far larger was not written by this tool.
constexpr size_t kMaxFileBytes = size_t{64} << 10;
constexpr mode_t kFileMode = 0664;
// A save takes milliseconds; a lock held longer belongs to a stuck process.
constexpr int kLockWaitMs = 2000;
constexpr const char* kTempInfix = ".tmp-";

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    bool close_checked() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The whole file, or false when it is not a regular file or too large.
bool ReadAll(int fd, std::string& text) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxFileBytes) return false;
    }
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary files left by a save that was killed; called under the lock,
// when no save of ours can be running.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string dir = DirectoryOf(path);
    const std::string base = path.substr(path.rfind('/') + 1) + kTempInfix;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() == base.size() + 6 && name.compare(0, base.size(), base) == 0) {
            ::unlinkat(::dirfd(d), name.c_str(), 0);
        }
    }
    ::closedir(d);
}

}  // namespace

std::string ComNumberPathBeside(const std::string& settings_path) {
    return DirectoryOf(settings_path) + "/" + kComNumberFileName;
}

std::vector<ComRecord> ComNumberFile::load() const {
    Fd file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    std::string text;
    if (file.get() < 0 || !ReadAll(file.get(), text)) return {};
    return ParseComRecords(text);
}

bool ComNumberFile::update(const std::function<bool(std::vector<ComRecord>&)>& change,
                           std::vector<ComRecord>& records) const {
    const auto in_memory = [&] {
        records = load();
        return !change(records);  // nothing to write is no failure
    };
    const std::string lock_path = path_ + ".lock";
    Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, kFileMode));
    if (lock.get() < 0) lock.reset(::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (lock.get() < 0) return in_memory();
    struct stat lock_st {};
    if (::fstat(lock.get(), &lock_st) == 0 && lock_st.st_uid == ::geteuid() &&
        (lock_st.st_mode & 07777) != kFileMode) {
        ::fchmod(lock.get(), kFileMode);
    }
    for (int waited_ms = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; waited_ms += 10) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited_ms >= kLockWaitMs) {
            return in_memory();
        }
        ::usleep(10000);
    }
    // The lock is released when its descriptor closes, on every return below.
    bool had_file = false;
    gid_t old_gid = 0;
    records.clear();
    {
        Fd current(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        std::string text;
        if (current.get() >= 0) {
            struct stat st {};
            if (::fstat(current.get(), &st) == 0) old_gid = st.st_gid;
            had_file = true;
            // An unreadable file is not overwritten: its numbers may matter.
            if (!ReadAll(current.get(), text)) {
                change(records);
                return false;
            }
            records = ParseComRecords(text);
        } else if (errno != ENOENT) {
            change(records);
            return false;
        }
    }
    if (!change(records)) return true;
    RemoveStaleTemporaries(path_);

    const std::string text = RenderComRecords(records);
    std::string temp_path = path_ + kTempInfix + "XXXXXX";
    Fd temp(::mkostemp(temp_path.data(), O_CLOEXEC));
    if (temp.get() < 0) return false;
    const auto fail = [&] {
        temp.reset();
        ::unlink(temp_path.c_str());
        return false;
    };
    if (!WriteAll(temp.get(), text) || ::fsync(temp.get()) != 0) return fail();
    if (had_file) {
        [[maybe_unused]] const int ignored = ::fchown(temp.get(), static_cast<uid_t>(-1), old_gid);
    }
    if (::fchmod(temp.get(), kFileMode) != 0) return fail();
    if (!temp.close_checked()) return fail();
    if (::rename(temp_path.c_str(), path_.c_str()) != 0) return fail();
    Fd dir(::open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

}  // namespace torvik::link

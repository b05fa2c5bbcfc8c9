// SPDX-License-Identifier: MIT
#include "link/com_number_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "link/file_io.h"

namespace torvik::link {
namespace {

// Sixteen lines of names; anything far larger was not written by this tool.
constexpr size_t kMaxFileBytes = size_t{64} << 10;
constexpr mode_t kFileMode = 0664;
// A save takes milliseconds; a lock held longer belongs to a stuck process.
constexpr int kLockWaitMs = 2000;
constexpr const char* kTempInfix = ".tmp-";

// The whole file, or false when it is not a regular file or too large.
bool ReadRegularFile(int fd, std::string& text) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ReadAll(fd, text, kMaxFileBytes);
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
    if (file.get() < 0 || !ReadRegularFile(file.get(), text)) return {};
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
            if (!ReadRegularFile(current.get(), text)) {
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
    return ReplaceFile(path_, kTempInfix, text, kFileMode,
                       had_file ? std::optional<gid_t>(old_gid) : std::nullopt);
}

}  // namespace torvik::link

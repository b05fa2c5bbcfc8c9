// SPDX-License-Identifier: MIT
// A scratch directory for tests of the settings file, and ways to take away
// the right to change a file or directory even from root.
#pragma once
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

namespace torvik::test {

namespace fs = std::filesystem;

// Sets or clears the immutable attribute, which stops root too.
inline bool set_immutable(const fs::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Takes away this user's right to change path: by mode for a normal user,
// by the immutable attribute for root, whom modes do not stop.
inline bool make_unwritable(const fs::path& path) {
    if (::geteuid() != 0) return ::chmod(path.c_str(), fs::is_directory(path) ? 0555 : 0444) == 0;
    return set_immutable(path, true);
}

// A scratch directory, emptied and removed whatever a test did to it.
struct TempDir {
    fs::path dir;
    TempDir() : TempDir(fs::temp_directory_path()) {}
    // In a given directory: "/tmp" where another user must reach it, whatever
    // TMPDIR the tests were started with.
    explicit TempDir(const fs::path& parent) {
        std::string pattern = (parent / "torvik-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("no scratch directory");
        dir = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        set_immutable(dir, false);
        ::chmod(dir.c_str(), 0755);
        for (const auto& entry : fs::directory_iterator(dir, ec))
            set_immutable(entry.path(), false);
        fs::remove_all(dir, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path file() const { return dir / "settings.reg"; }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
        return names;
    }
};

}  // namespace torvik::test

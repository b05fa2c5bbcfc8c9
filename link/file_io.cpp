// SPDX-License-Identifier: MIT
#include "link/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

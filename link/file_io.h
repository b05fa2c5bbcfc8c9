// SPDX-License-Identifier: MIT
// Small file helpers shared by the files the tool keeps beside each other
// (the settings file and the COM number file): a descriptor that closes
// itself, whole reads and writes, and the atomic replacement of a file by
// a temporary file renamed over it.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace torvik::link {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1);
    // Closes and reports the result (a delayed write error shows here).
    bool close_checked();

  private:
    int fd_;
};

// The whole content of fd; false on a read error or past `limit` bytes.
bool ReadAll(int fd, std::string& out, size_t limit);
bool WriteAll(int fd, std::string_view data);
// The directory part of a path ("." for a bare name, "/" at the root).
std::string DirectoryOf(const std::string& path);

// An exclusive lock on the lock file `path`, which every user of the files
// beside it shares: made with `mode` where it is missing (and given that
// mode when it is ours), opened read-only where we may not write it. Waits
// at most `wait_ms` for another holder (a save takes milliseconds; a lock
// held longer belongs to a stuck process). The lock goes with the returned
// descriptor; an invalid one when the lock cannot be had.
Fd TakeLockFile(const std::string& path, mode_t mode, int wait_ms);

// What a file holds now, read for a change under the lock: `text` and the
// file's group when it is a regular file of at most `limit` bytes. A file
// that exists but cannot be read, or is something else, is kUnreadable: it
// is left alone, its content may matter.
enum class CurrentFile { kMissing, kRead, kUnreadable };
CurrentFile ReadCurrentFile(const std::string& path, size_t limit, std::string& text, gid_t& group);

// Removes the temporary files ReplaceFile(path, infix, ...) leaves behind
// when a save is killed before its rename. Called with the save lock held:
// every saver makes its temporary file under that lock, so any such file
// seen then belongs to no running save.
void RemoveTemporaries(const std::string& path, const char* infix);

// Writes `text` into a new temporary file `path` + `infix` + six random
// characters, gives it `mode` (and `group`, where allowed), flushes it and
// renames it over `path`, then makes the rename durable. False, with the
// temporary file removed, when a step fails. `cut_short` writes half the
// text and fails, as a save killed in the middle would.
bool ReplaceFile(const std::string& path, const char* infix, std::string_view text, mode_t mode,
                 std::optional<gid_t> group, bool cut_short = false);

}  // namespace torvik::link

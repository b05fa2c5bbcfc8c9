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

namespace torvik::link {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
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

// Writes `text` into a new temporary file `path` + `infix` + six random
// characters, gives it `mode` (and `group`, where allowed), flushes it and
// renames it over `path`, then makes the rename durable. False, with the
// temporary file removed, when a step fails. `cut_short` writes half the
// text and fails, as a save killed in the middle would.
bool ReplaceFile(const std::string& path, const char* infix, std::string_view text, mode_t mode,
                 std::optional<gid_t> group, bool cut_short = false);

}  // namespace torvik::link

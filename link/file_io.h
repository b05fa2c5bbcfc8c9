// SPDX-License-Identifier: MIT
// Small file helpers shared by the files the tool keeps beside each other
// (the settings file and the COM number file) and the files a technician
// names on the command line: a descriptor that closes itself, whole reads
// and writes, and the atomic replacement of a file by a temporary file
// renamed over it.
//
// Those files live in directories other users may write to (the settings
// directory is shared by the group of the serial ports), so every step is
// taken relative to the directory's descriptor and the file itself is never
// reached through a link: a name that is a symbolic link, a FIFO, a device,
// a socket or a directory is refused without being opened (a device opened
// only to look at it may be a serial line, and a FIFO blocks the opening).
// The mode and owner of a file are changed only when this process has just
// made it.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace torvik::link {

// Six letters and digits, as mkstemp's, for a temporary file's name:
// random where the kernel gives randomness, else from the time and the pid.
std::string RandomSuffix();

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
    bool valid() const { return fd_ >= 0; }
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
// The last part of a path ("" when it ends in '/').
std::string BaseNameOf(const std::string& path);

// The directory of `path`, opened for the calls below (it may be reached
// through links: only its entries are looked at without following them).
// Invalid, with errno set, when it cannot be opened.
Fd OpenDirectoryOf(const std::string& path);

// What a name that is not a regular file is, for a message: "is a symbolic
// link", "is a FIFO", "is a device", "is a directory", "is a socket".
std::string KindOf(mode_t mode);

// Opens `name` in directory `dir` with `flags` (O_RDONLY, O_RDWR, ...; the
// call adds O_NOFOLLOW, O_NOCTTY, O_NONBLOCK and O_CLOEXEC) when it is a
// regular file. Anything else is refused without being opened: `refusal`
// then says what it is. Otherwise an invalid descriptor means the file
// could not be opened, errno says why (ENOENT: there is none). `st`, when
// given, receives the file's status.
Fd OpenRegularAt(int dir, const std::string& name, int flags, std::string& refusal,
                 struct stat* st = nullptr);

// Makes `name` in `dir` as a new file (never an existing file, never the
// target of a link) opened with `flags`, and gives it `mode` whatever the
// umask. Invalid, errno set (EEXIST: the name is taken), when it cannot.
Fd CreateAt(int dir, const std::string& name, int flags, mode_t mode);

// An exclusive lock on the lock file `name` in `dir`, which every user of
// the files beside it shares: made with `mode` where it is missing, opened
// read-only where we may not write it (the lock works either way); an
// existing lock file keeps its mode and owner. Waits at most `wait_ms` for
// another holder (a save takes milliseconds; a lock held longer belongs to
// a stuck process). The lock goes with the returned descriptor; an invalid
// one when the lock cannot be had. A name that is not a regular file is
// refused untouched, with `refusal` saying what it is.
Fd TakeLockFile(int dir, const std::string& name, mode_t mode, int wait_ms, std::string& refusal);

// The owner, group and mode of a file, to be given to the file that
// replaces it.
struct FileFacts {
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;  // read, write and execute bits
};

// What a file holds now, read for a change under the lock: `text` and its
// facts when it is a regular file of at most `limit` bytes. A file that
// exists but cannot be read, is too large or is something else is
// kUnreadable: it is left alone, its content may matter; `refusal` says
// what it is when it is not a regular file.
enum class CurrentFile { kMissing, kRead, kUnreadable };
CurrentFile ReadCurrentFile(int dir, const std::string& name, size_t limit, std::string& text,
                            FileFacts& facts, std::string& refusal);

// Removes the temporary files ReplaceFile(dir, name, infix, ...) leaves
// behind when a save is killed before its rename. Called with the save lock
// held: every saver makes its temporary file under that lock, so any such
// file seen then belongs to no running save. Only regular files are
// removed.
void RemoveTemporaries(int dir, const std::string& name, const char* infix);

// Writes `text` into a new temporary file `name` + `infix` + six random
// characters in `dir`, gives it `mode` and the owner and group of `like`
// (the owner only when we are root; the group where allowed), flushes it
// and renames it over `name`, then makes the rename durable. False, with
// the temporary file removed, when a step fails. `cut_short` writes half
// the text and fails, as a save killed in the middle would.
bool ReplaceFile(int dir, const std::string& name, const char* infix, std::string_view text,
                 mode_t mode, const std::optional<FileFacts>& like, bool cut_short = false);

}  // namespace torvik::link

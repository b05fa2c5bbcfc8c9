// SPDX-License-Identifier: MIT
// The texts of procfs and sysfs the tool reads to leave the system's ports
// and other programs' ports alone: a process's stat line, a device number
// file, and the table of file locks. Total on any text: a line of another
// shape is refused, never half read.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace torvik::link {

// Fields of /proc/PID/stat: "pid (comm) state ppid pgrp session tty_nr ...".
struct StatFields {
    std::string name;  // comm, as the process set it: any bytes but a line feed
    long long session = 0;
    long long tty_nr = 0;
};
// The name may hold blanks and parentheses, so the fields are taken after
// the last ')'.
bool ParseStatLine(std::string_view text, StatFields& out);

// The kernel's encoding of tty_nr: minor bits 0-7 and 20-31, major 8-19.
dev_t DecodeTtyNr(long long nr);

// "4:64" (a sysfs "dev" file, with or without its line feed) as a device
// number.
bool ParseDeviceNumber(std::string_view text, dev_t& out);

// One held lock of /proc/locks:
//   "1: FLOCK  ADVISORY  WRITE 812 00:1a:3 0 EOF"
// (kind, pid, the file's device in hex "major:minor" and its inode). Lines
// of processes waiting for a lock ("1: -> FLOCK ...") hold none and are
// refused, as are locks without a process (pid -1).
struct LockLine {
    std::string kind;  // FLOCK, POSIX, OFDLCK, LEASE, ...
    int pid = 0;
    dev_t device = 0;
    uint64_t inode = 0;
};
bool ParseLocksLine(std::string_view line, LockLine& out);

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// The classic lock files of serial ports, "LCK..ttyUSB0" in /run/lock,
// holding the owner's pid. Terminal and modem programs that take them see
// neither the advisory lock nor the exclusive flag of the tty, and the tool
// sees nothing of them without these files: a port with a lock file whose
// owner lives is busy; one whose owner is gone is stale and ignored. While
// the tool holds a port it takes the lock file itself, in every lock
// directory it may write to, and removes it when it lets go.
#pragma once
#include <string>
#include <vector>

#include "link/port_diagnostics.h"

namespace torvik::link {

// The lock directories of this system: /run/lock, and /var/lock when it is
// another directory (on most systems it is a link to /run/lock).
std::vector<std::string> default_lock_dirs();

// The file name of a device's lock: "LCK..ttyUSB0" for /dev/ttyUSB0 (or a
// link to it), "LCK..pts_5" for /dev/pts/5: the name under /dev, links
// followed, with '/' as '_'.
std::string lock_file_name(const std::string& device_path);

// What a lock file says: the pid in it, as text ("%10d\n", the usual form)
// or as a 4-byte binary number (the old form). 0 when it holds neither.
int lock_file_pid(const std::string& contents);

class UucpLock {
  public:
    // `proc_root` is where the owner's name is read (a parameter for tests).
    explicit UucpLock(std::vector<std::string> dirs = default_lock_dirs(),
                      std::string proc_root = "/proc");
    ~UucpLock() { release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    enum class Result { kTaken, kBusy };

    // Takes the device's lock: kBusy, with `holder` naming the owner, when
    // a live program other than this one holds a lock file for it;
    // otherwise kTaken, with this process's lock file written (a stale one
    // replaced) in each lock directory that can be written. A directory
    // that cannot be written is passed over: the lock is not ours to take
    // there, and the port is still usable.
    // `stale_found`, when given, tells whether a lock file of a program
    // that has ended was found for the device (and replaced): that program
    // held the port and did not let go of it in order.
    Result acquire(const std::string& device_path, PortHolder& holder,
                   bool* stale_found = nullptr);

    // Removes the lock files this object wrote.
    void release();

    // The lock files written by the last acquire, for the exit cleanup.
    const std::vector<std::string>& files() const { return files_; }

  private:
    // True when `path` names a live owner; a stale file (its owner gone) is
    // removed when `remove_stale`, and counted in `stale` when given.
    bool live_owner(const std::string& path, PortHolder& holder, bool remove_stale,
                    bool* stale = nullptr) const;

    std::vector<std::string> dirs_;
    std::string proc_root_;
    std::vector<std::string> files_;
};

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// Why a serial device could not be opened, in words a technician can act on:
// which program holds a busy port, and which group grants access to a
// device the user may not open. Roots and ids are parameters so that tests
// can point them at a fake /proc tree and at chosen group memberships.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace torvik::link {

// A process that has the device open.
struct PortHolder {
    int pid = 0;
    std::string name;  // the process name (comm), or "pid N" when unreadable
    bool operator==(const PortHolder&) const = default;
};

// Every process under `proc_root` with an open descriptor on the device,
// by pid. A descriptor matches when its link names the device path (or the
// path the device path resolves to) or, for a character device, when it
// leads to the same device number. Processes whose descriptors may not be
// read (other users' without privileges) are skipped, as is `skip_pid`.
std::vector<PortHolder> find_holders(const std::string& device_path,
                                     const std::string& proc_root = "/proc", int skip_pid = -1);

// The processes that hold an advisory lock (flock, fcntl or lockf) on the
// file at `path`, by pid, from <proc_root>/locks (which every user may
// read, so locks of other users' programs show too). Names are read where
// they can be. Processes waiting for a lock hold none and are left out.
std::vector<PortHolder> lock_holders(const std::string& path,
                                     const std::string& proc_root = "/proc");

// "held by ModemManager (pid 812)", several joined by ", "; empty for none.
// The names are made safe for a terminal.
std::string describe_holders(const std::vector<PortHolder>& holders);

// The advice for a device that belongs to group `gid` and that the user may
// not open: empty when group membership is not the problem (the session
// already has the group), otherwise "<device> belongs to group G and you are
// not in it; run: ..." or "<device> belongs to group G; you were added to
// group G but this session does not have it yet: ...". The group database
// is asked which groups `user` (with primary group `primary_gid`) is in;
// `session_groups` are the groups this process runs with.
std::string group_advice(const std::string& device_path, gid_t gid, const std::string& user,
                         gid_t primary_gid, const std::vector<gid_t>& session_groups);

// What follows "permission denied" for a device of this system and the
// real user of this process: ": <group advice>" when the device's group
// would grant read and write access and the user lacks that group, empty
// otherwise (owner-only devices, a user who is in the group already).
std::string permission_detail(const std::string& device_path);

// What follows "busy" for a device: ": held by NAME (pid N)" naming the
// other programs that lock it (or, when no lock is seen, that have it
// open), or " (held by another program)" when none can be seen.
std::string busy_detail(const std::string& device_path);

// What follows "busy" for a device whose terminal exclusive flag is set
// while no program locks it. Programs that take only the flag (no lock)
// exist, but so does a flag left by a program that ended without clearing
// it (a kill -9): it then stays while any program keeps the device open.
// `left_by_ended` says that this is known (the ended program's lock file
// was found); `openers` are the other programs that have the device open.
//   ": the port's exclusive flag was left set by a program that ended;
//    unplug and replug the adapter[, or end torvik-sim (pid 77), which
//    keeps the port open]"
//   ": the port's exclusive flag is set, but no program locks the port:
//    either torvik-sim (pid 77), which has the port open, set it, or a
//    program that ended left it set (then unplug and replug the adapter)"
//   " (held by another program, or the port's exclusive flag was left set
//    by a program that ended: unplug and replug the adapter)"
std::string exclusive_flag_detail(bool left_by_ended, const std::vector<PortHolder>& openers);

// Whether another program locks the device (the exclusive flag then is
// its own): a lock seen in /proc/locks whose holder is not `own_pid`, or
// any lock when `own_pid` is 0.
bool locked_by_another(const std::string& device_path, int own_pid,
                       const std::string& proc_root = "/proc");

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// Which terminals belong to the system and must never be opened by the
// tool: the active kernel consoles and the controlling terminals of running
// processes (a getty on a serial line, a shell logged in over one). Sending
// a presence check to such a line, or switching it through the fourteen
// speeds, would disturb the console or the login on it.
#pragma once
#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace torvik::link {

// One look at the system: what it uses, by device number and by name.
class SystemPortsView {
  public:
    // Why the device at `path` belongs to the system: "system console",
    // "login terminal of agetty (pid 612)"; empty when the tool may use it.
    // The path is followed through links; a path that names nothing is free.
    std::string reason(const std::string& path) const;

  private:
    friend class SystemPorts;
    struct Owner {
        int pid = 0;
        std::string name;
        bool session_leader = false;
    };
    std::set<std::string> console_names_;  // "ttyS0", "tty0"
    std::set<dev_t> console_devices_;
    std::map<dev_t, Owner> terminals_;  // controlling terminal -> the process it is named by
    dev_t own_terminal_ = 0;            // this process's own, for /dev/tty
};

class SystemPorts {
  public:
    // The roots are parameters so that tests can point them at fake trees.
    explicit SystemPorts(std::string sys_root = "/sys", std::string proc_root = "/proc");

    // Looks at the system now: the consoles listed in
    // <sys>/class/tty/console/active and field 7 (tty_nr) of every
    // <proc>/PID/stat. While held (a scan, through the serial device's
    // begin_scan), the view taken at the first look after hold() is given
    // again, so that a scan looks once, not per port and setting.
    SystemPortsView look() const;
    std::string reason(const std::string& path) const { return look().reason(path); }

    void hold() const;
    void release() const;

  private:
    SystemPortsView take() const;

    std::string sys_root_;
    std::string proc_root_;
    mutable int holds_ = 0;
    mutable std::optional<SystemPortsView> held_;
};

}  // namespace torvik::link

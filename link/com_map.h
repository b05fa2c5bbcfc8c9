// SPDX-License-Identifier: MIT
// Which device file a COM number stands for. The technician knows the reader
// by its COM number, so each serial device keeps the number it was given the
// first time it was seen (link/com_numbers.h), in the COM number file beside
// the settings file. A number can be pinned to any path from the command
// line (--port COM3=/dev/pts/5); a pin wins over the file, and the device
// it names gets no number of its own during the run. Ports that belong to
// the system (link/system_ports.h) get no number and cannot be pinned.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/com_number_file.h"
#include "link/com_numbers.h"
#include "link/system_ports.h"
#include "link/udev_ports.h"

namespace torvik::link {

class ComMap {
  public:
    // With the default roots the ports come from libudev; other roots are
    // read as a directory tree (tests).
    explicit ComMap(std::string dev_root = "/dev", std::string sys_root = "/sys",
                    std::string proc_root = "/proc");

    // The COM numbers the scan goes through, and so the only ones a pin may take.
    static constexpr int kFirstPort = 1, kLastPort = kComNumbers;

    // Pins a COM number to a path: "COM3=/dev/pts/5" ("com" in any case).
    // False, and nothing changes, when the text is malformed, the number is
    // outside 1..16, or the path is a port of the system; `refusal` then
    // says why ("expected COMn=PATH with n from 1 to 16", "system console",
    // "login terminal of agetty (pid 612)"). A later pin of the same number
    // replaces the earlier one.
    bool add_override(std::string_view text, std::string* refusal = nullptr);
    // Whether the text has the form of a pin, "COMn=PATH" with n from 1 to 16.
    static bool pin_well_formed(std::string_view text);

    // Keeps the numbers in this file. Without one they last for the run.
    void set_number_file(std::string path);
    // Ports that must never be numbered beyond the system's own lines, with
    // the reason shown in the port list; an empty reason lets the port through.
    void set_port_filter(std::function<std::string(const PortInfo&)> skip_reason);
    // Test hooks: where the ports and the time (seconds, UTC) come from.
    void set_port_source(std::function<std::vector<PortInfo>()> source);
    void set_time_source(std::function<int64_t()> now);

    // The device for a COM number: a pinned path first, otherwise the
    // present device that keeps the number. Empty when there is none. The
    // ports are looked at again on every call, so adapters plugged in while
    // the tool runs show up (and get their numbers).
    //
    // A pinned pseudo-terminal is known by its node as first seen: the
    // node itself is held (a path reference, which does not open the
    // terminal). Once that node is gone (the kernel unlinks it when the
    // terminal is freed, and may hand the same number and inode to the
    // next terminal made), or the path names another node, the pin leads
    // nowhere for the rest of the run, so a terminal that is not the one
    // pinned is never opened. Its mode or owner may change meanwhile.
    std::string path(int port_number) const;
    // Whether a pinned pseudo-terminal went away or was replaced.
    bool pin_gone(int port_number) const;

    // Every COM number that currently maps to something, ascending, pins
    // included.
    std::vector<std::pair<int, std::string>> list() const;

    // The present serial devices that may be numbered, in enumeration order:
    // ttyUSB*, then ttyACM*, then the others. Ports of the system are left out.
    std::vector<std::string> present_devices() const;

    // The present serial devices left out because the system uses them,
    // with the reason: ("/dev/ttyS0", "system console").
    std::vector<std::pair<std::string, std::string>> skipped_devices() const;

    // Which ports belong to the system; a scan holds it (SystemPortsHold)
    // so that the system is looked at once per scan.
    const SystemPorts& system_ports() const { return system_ports_; }

    enum class State {
        kPresent,     // the device that keeps the number is plugged in
        kAbsent,      // the number is kept for a device that is not
        kPinned,      // --port gave the number a path
        kSkipped,     // a port that is never numbered; `reason` says why
        kUnnumbered,  // present, but all sixteen numbers belong to present devices
    };
    struct Entry {
        int number = 0;  // 0 for skipped and unnumbered ports
        State state = State::kAbsent;
        std::string device;  // the path the number leads to, or the device last seen
        PortInfo info;       // details of a present device (device only for a pin)
        std::string key;     // the identity the number is kept under
        int64_t last_seen = 0;
        std::string reason;  // kSkipped
    };
    // The whole map as it is now: numbers ascending, then unnumbered and
    // skipped ports.
    std::vector<Entry> entries() const;
    // The entry of one number as of the last look (no new look); nothing
    // when the number leads nowhere.
    std::optional<Entry> entry(int port_number) const;

    // What happened to the numbers during this run: numbers given again,
    // a file that could not be written, devices left without a number.
    const std::vector<std::string>& notes() const { return notes_; }
    // False once the file could not be written: numbers given since last
    // only for this run.
    bool numbers_kept() const { return numbers_kept_; }
    const std::string& number_file() const { return number_file_; }

  private:
    void refresh() const;
    void look() const;
    // Cheap signs of a change: the device directories and the number file.
    std::string fingerprint() const;
    std::vector<PortInfo> ports() const;
    void note(std::string text) const;

    // The node a pin first led to, when it is a pseudo-terminal.
    struct PinNode {
        bool seen = false;
        bool pseudo_terminal = false;
        bool gone = false;
        dev_t dev = 0, rdev = 0;
        ino_t ino = 0;
        // The node held; shared, since the map may be copied.
        std::shared_ptr<const int> held;
    };
    bool pin_still_there(int number, const std::string& path) const;

    std::string dev_root_;
    std::string sys_root_;
    std::map<int, std::string> overrides_;
    mutable std::map<int, PinNode> pin_nodes_;
    SystemPorts system_ports_;
    std::string number_file_;
    std::function<std::string(const PortInfo&)> skip_reason_;
    std::function<std::vector<PortInfo>()> source_;
    std::function<int64_t()> now_;

    // The last look: refreshed by every query.
    mutable std::vector<ComRecord> records_;
    mutable std::vector<Entry> view_;
    mutable std::vector<std::string> notes_;
    mutable bool numbers_kept_ = true;
    mutable bool looked_ = false;
    mutable std::string fingerprint_;
    mutable std::chrono::steady_clock::time_point looked_at_{};
};

// "COM3  present  /dev/ttyUSB0  FTDI FT232R USB UART  by-id ...": the map as
// --list-ports prints it, one line per entry, with a heading and the notes.
std::string FormatPortList(const ComMap& map);

}  // namespace torvik::link

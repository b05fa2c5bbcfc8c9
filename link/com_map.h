// Which device file a COM number stands for. The technician knows the reader
// by its COM number; on this system the numbers are handed out over the
// serial devices that are present right now, in a stable order, and can be
// pinned to any path from the command line (--port COM3=/dev/pts/5). Ports
// that belong to the system (link/system_ports.h) get no number and cannot
// be pinned.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/system_ports.h"

namespace torvik::link {

class ComMap {
  public:
    // The roots are parameters so that tests can point them at a fake tree.
    explicit ComMap(std::string dev_root = "/dev", std::string sys_root = "/sys",
                    std::string proc_root = "/proc");

    // The COM numbers the scan goes through, and so the only ones a pin may take.
    static constexpr int kFirstPort = 1, kLastPort = 16;

    // Pins a COM number to a path: "COM3=/dev/pts/5" ("com" in any case).
    // False, and nothing changes, when the text is malformed, the number is
    // outside 1..16, or the path is a port of the system; `refusal` then
    // says why ("expected COMn=PATH with n from 1 to 16", "system console",
    // "login terminal of agetty (pid 612)"). A later pin of the same number
    // replaces the earlier one.
    bool add_override(std::string_view text, std::string* refusal = nullptr);
    // Whether the text has the form of a pin, "COMn=PATH" with n from 1 to 16.
    static bool pin_well_formed(std::string_view text);

    // The device for a COM number: a pinned path first, otherwise the n-th
    // present serial device (1-based). Empty when there is none. The device
    // directory is read on every call, so adapters plugged in while the tool
    // runs show up.
    std::string path(int port_number) const;

    // Every COM number that currently maps to something, ascending, pins
    // included; for diagnostics.
    std::vector<std::pair<int, std::string>> list() const;

    // The present serial devices in COM order (COM1 first): ttyUSB*, then
    // ttyACM*, then ttyS* ports that have a UART behind them; each group in
    // numeric order. Ports of the system are left out.
    std::vector<std::string> present_devices() const;

    // The present serial devices left out because the system uses them,
    // with the reason: ("/dev/ttyS0", "system console").
    std::vector<std::pair<std::string, std::string>> skipped_devices() const;

    // Which ports belong to the system; a scan holds it (SystemPortsHold)
    // so that the system is looked at once per scan.
    const SystemPorts& system_ports() const { return system_ports_; }

  private:
    // Every present serial device in COM order, ports of the system included.
    std::vector<std::string> serial_devices() const;

    std::string dev_root_;
    std::string sys_root_;
    std::map<int, std::string> overrides_;
    SystemPorts system_ports_;
};

}  // namespace torvik::link

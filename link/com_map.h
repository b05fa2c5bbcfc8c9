// Which device file a COM number stands for. The technician knows the reader
// by its COM number; on this system the numbers are handed out over the
// serial devices that are present right now, in a stable order, and can be
// pinned to any path from the command line (--port COM3=/dev/pts/5).
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvik::link {

class ComMap {
  public:
    // The roots are parameters so that tests can point them at a fake tree.
    explicit ComMap(std::string dev_root = "/dev", std::string sys_root = "/sys");

    // Pins a COM number to a path: "COM3=/dev/pts/5" ("com" in any case).
    // False, and nothing changes, when the text is malformed or the number
    // is below 1. A later pin of the same number replaces the earlier one.
    bool add_override(std::string_view text);

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
    // numeric order.
    std::vector<std::string> present_devices() const;

  private:
    std::string dev_root_;
    std::string sys_root_;
    std::map<int, std::string> overrides_;
};

}  // namespace torvik::link

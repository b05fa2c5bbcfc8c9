// SPDX-License-Identifier: MIT
// The serial ports of this machine that have a real device behind them: USB
// serial adapters, CDC ACM modems, built-in and PCI UARTs with a port
// present. Found through libudev, which gives the by-id and by-path names
// and the adapter's vendor, model and serial number; when udev is not
// running the same details are read from sysfs and the names are formed the
// way udev forms them.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace torvik::link {

struct PortInfo {
    std::string device;    // "/dev/ttyUSB0"
    std::string sys_name;  // "ttyUSB0"
    // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0"; empty when none
    std::string by_id;
    // "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"; empty when none
    std::string by_path;
    std::string vendor;  // "FTDI"
    std::string model;   // "FT232R USB UART"
    std::string serial;  // the adapter's own serial number; empty when it has none
    std::string driver;  // "ftdi_sio", "cdc_acm", "serial8250", ...
    std::string bus;     // "usb", "pci", "pnp", "platform", ...
    // A USB adapter's latency timer (how long it holds received bytes), in
    // milliseconds, as its driver tells it (FTDI adapters); -1 when untold.
    int latency_ms = -1;
    // by_id and by_path were formed from sysfs (udev not running): they name
    // the device the way udev would, but no such link exists in /dev.
    bool names_formed = false;

    // "FTDI FT232R USB UART", or the driver when vendor and model are unknown.
    std::string adapter() const;
};

// Every tty of the machine with a device behind it, ttyUSB first, then
// ttyACM, then the others; each group in the order of its numbers. Virtual
// terminals, pseudo-terminals and UART nodes without a port (type 0) are
// left out. Empty when the tty class cannot be read.
std::vector<PortInfo> EnumeratePorts();

// The same from a directory tree laid out like /dev and /sys (tests, and
// machines where libudev is unavailable): the ttyUSB*, ttyACM* and ttyS*
// files in dev_root, ttyS only with a nonzero sys_root/class/tty/NAME/type.
// Only device and sys_name are filled in.
std::vector<PortInfo> ListPortTree(const std::string& dev_root, const std::string& sys_root);

// A USB identification text (manufacturer, product or serial number) as
// udev puts it into a by-id name: blanks at the ends dropped, inner runs of
// blanks made one '_', and every character other than letters, digits,
// "#+-.:=@_" and whole UTF-8 sequences replaced by '_'.
std::string UdevIdText(std::string_view text);

// The UART kind of the kernel's serial core for a sysfs "type" number:
// "16550A UART"; "UART type 99" beyond the known ones; empty for 0 and for
// anything but digits.
std::string UartTypeName(const std::string& type);

// The by-id name udev gives a USB serial device, from the adapter's
// manufacturer, product and serial number texts, the USB interface number
// ("00") and the port of a multi-port adapter (-1: none).
std::string FormByIdName(const std::string& manufacturer, const std::string& product,
                         const std::string& serial, const std::string& interface_number,
                         int port_number);

}  // namespace torvik::link

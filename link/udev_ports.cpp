// SPDX-License-Identifier: MIT
#include "link/udev_ports.h"

#include <libudev.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <system_error>
#include <tuple>

#include "link/digits.h"

namespace torvik::link {
namespace {

constexpr std::string_view kById = "/dev/serial/by-id/";
constexpr std::string_view kByPath = "/dev/serial/by-path/";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Attribute texts end in a line feed in sysfs; udev keeps them without.
std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
    return s.substr(start);
}

// Sort position: ttyUSB, ttyACM, others; then the number; then the name.
std::tuple<int, int, std::string> Order(const std::string& name) {
    static constexpr std::string_view kGroups[] = {"ttyUSB", "ttyACM"};
    for (int g = 0; g < 2; ++g) {
        if (StartsWith(name, kGroups[g])) {
            int n = 0;
            if (ParseDigits(std::string_view(name).substr(kGroups[g].size()), n))
                return {g, n, name};
        }
    }
    // ttyS10 after ttyS2: split the trailing number off.
    size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    int n = 0;
    if (!ParseDigits(std::string_view(name).substr(digits), n)) n = -1;
    return {2, n, name};
}

void SortPorts(std::vector<PortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return Order(a.sys_name) < Order(b.sys_name);
    });
}

}  // namespace

std::string UdevIdText(std::string_view in) {
    std::string collapsed;
    bool blank = false;
    for (char c : in) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            blank = true;
            continue;
        }
        if (blank && !collapsed.empty()) collapsed += '_';
        blank = false;
        collapsed += c;
    }
    std::string out;
    for (size_t i = 0; i < collapsed.size();) {
        const auto c = static_cast<unsigned char>(collapsed[i]);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
            std::strchr("#+-.:=@_", c) != nullptr) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t len = 0;
        if ((c & 0xE0) == 0xC0) len = 2;
        if ((c & 0xF0) == 0xE0) len = 3;
        if ((c & 0xF8) == 0xF0) len = 4;
        bool utf8 = len > 0 && i + len <= collapsed.size();
        for (size_t k = 1; utf8 && k < len; ++k) {
            utf8 = (static_cast<unsigned char>(collapsed[i + k]) & 0xC0) == 0x80;
        }
        if (utf8) {
            out.append(collapsed, i, len);
            i += len;
        } else {
            out += '_';
            ++i;
        }
    }
    return out;
}

std::string UartTypeName(const std::string& type) {
    static constexpr const char* kNames[] = {"",       "8250",  "16450",   "16550", "16550A",
                                             "Cirrus", "16650", "16650V2", "16750", "Startech",
                                             "16C950", "16654", "16850",   "RSA"};
    int n = 0;
    if (!ParseDigits(type, n) || n <= 0) return {};
    if (n < static_cast<int>(std::size(kNames))) return std::string(kNames[n]) + " UART";
    return "UART type " + type;
}

namespace {

std::string Property(udev_device* d, const char* name) {
    return Text(udev_device_get_property_value(d, name));
}

std::string Attribute(udev_device* d, const char* name) {
    return d != nullptr ? Trimmed(Text(udev_device_get_sysattr_value(d, name))) : std::string();
}

// The driver of a device: its driver link, else the DRIVER of its uevent.
std::string DriverOf(udev_device* d) {
    if (d == nullptr) return {};
    std::string driver = Text(udev_device_get_driver(d));
    if (driver.empty()) driver = Property(d, "DRIVER");
    return driver;
}

// The by-path name udev gives: the chain of parents from the bus controller
// down ("pci-0000:00:14.0-usb-0:2:1.0"), with "-portN" for a port of a
// multi-port USB adapter.
std::string FormByPathName(udev_device* tty, udev_device* usb_interface, int port_number) {
    std::string path;
    for (udev_device* p = udev_device_get_parent(tty); p != nullptr;
         p = udev_device_get_parent(p)) {
        const std::string subsystem = Text(udev_device_get_subsystem(p));
        const std::string name = Text(udev_device_get_sysname(p));
        if (subsystem == "pci" || subsystem == "platform" || subsystem == "pnp" ||
            subsystem == "acpi" || subsystem == "amba") {
            path = subsystem + "-" + name + (path.empty() ? "" : "-" + path);
            break;
        }
        if (p == usb_interface) {
            // "1-2.4:1.0": the ports after the bus number, then config.interface.
            const size_t dash = name.find('-');
            if (dash != std::string::npos) path = "usb-0:" + name.substr(dash + 1);
        }
    }
    if (path.empty()) return {};
    if (port_number >= 0) path += "-port" + std::to_string(port_number);
    return std::string(kByPath) + path;
}

// Reads one tty; false when it has no device behind it.
bool ReadPort(udev* u, const char* syspath, PortInfo& info) {
    UdevPtr<udev_device> tty(udev_device_new_from_syspath(u, syspath));
    if (!tty) return false;
    udev_device* parent = udev_device_get_parent(tty.get());
    const std::string sys_path = Text(udev_device_get_syspath(tty.get()));
    if (parent == nullptr || sys_path.find("/devices/virtual/") != std::string::npos) return false;
    // Newer kernels put the serial core's own devices between a UART and
    // its port; the device that tells what the port is sits above them.
    while (Text(udev_device_get_subsystem(parent)) == "serial-base") {
        udev_device* above = udev_device_get_parent(parent);
        if (above == nullptr) break;
        parent = above;
    }
    // Every possible built-in UART has a node; type 0 means no port behind it.
    const std::string type = Attribute(tty.get(), "type");
    if (!type.empty() && type == "0") return false;
    const char* node = udev_device_get_devnode(tty.get());
    if (node == nullptr) return false;

    info.device = node;
    info.sys_name = Text(udev_device_get_sysname(tty.get()));
    for (udev_list_entry* e = udev_device_get_devlinks_list_entry(tty.get()); e != nullptr;
         e = udev_list_entry_get_next(e)) {
        const std::string link = Text(udev_list_entry_get_name(e));
        if (info.by_id.empty() && StartsWith(link, kById)) info.by_id = link;
        if (info.by_path.empty() && StartsWith(link, kByPath)) info.by_path = link;
    }
    if (info.by_id.empty() && info.by_path.empty()) {
        // Links are kept in udev's database; a device made up without one
        // may still carry them as a property.
        const std::string links = Property(tty.get(), "DEVLINKS");
        size_t start = 0;
        while (start < links.size()) {
            size_t end = links.find(' ', start);
            if (end == std::string::npos) end = links.size();
            const std::string link = links.substr(start, end - start);
            if (info.by_id.empty() && StartsWith(link, kById)) info.by_id = link;
            if (info.by_path.empty() && StartsWith(link, kByPath)) info.by_path = link;
            start = end + 1;
        }
    }

    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
    udev_device* usb_interface =
        udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_interface");
    udev_device* usb_serial =
        udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb-serial", nullptr);

    info.vendor = Property(tty.get(), "ID_VENDOR_FROM_DATABASE");
    if (info.vendor.empty()) info.vendor = Property(tty.get(), "ID_VENDOR");
    info.model = Property(tty.get(), "ID_MODEL_FROM_DATABASE");
    if (info.model.empty()) info.model = Property(tty.get(), "ID_MODEL");
    info.serial = Property(tty.get(), "ID_SERIAL_SHORT");
    info.driver = Property(tty.get(), "ID_USB_DRIVER");
    info.bus = Property(tty.get(), "ID_BUS");
    if (usb_serial != nullptr) {
        int latency = 0;
        const std::string timer = Attribute(usb_serial, "latency_timer");
        if (ParseDigits(timer, latency) && latency <= 255) info.latency_ms = latency;
    }

    if (usb != nullptr) {
        // Without udev's database the adapter's own texts are in sysfs.
        const std::string manufacturer = Attribute(usb, "manufacturer");
        const std::string product = Attribute(usb, "product");
        const std::string serial = Attribute(usb, "serial");
        if (info.vendor.empty())
            info.vendor = manufacturer.empty() ? Attribute(usb, "idVendor") : manufacturer;
        if (info.model.empty())
            info.model = product.empty() ? Attribute(usb, "idProduct") : product;
        if (info.serial.empty()) info.serial = UdevIdText(serial);
        if (info.bus.empty()) info.bus = "usb";
        if (info.driver.empty()) info.driver = DriverOf(usb_interface);
        int port_number = -1;
        if (usb_serial != nullptr &&
            !ParseDigits(Attribute(usb_serial, "port_number"), port_number)) {
            port_number = -1;
        }
        if (info.by_id.empty() && info.by_path.empty()) {
            info.names_formed = true;
            const std::string interface_number = Attribute(usb_interface, "bInterfaceNumber");
            if (!interface_number.empty()) {
                info.by_id =
                    FormByIdName(manufacturer.empty() ? Attribute(usb, "idVendor") : manufacturer,
                                 product.empty() ? Attribute(usb, "idProduct") : product, serial,
                                 interface_number, port_number);
            }
            info.by_path = FormByPathName(tty.get(), usb_interface, port_number);
        }
    } else {
        if (info.bus.empty()) info.bus = Text(udev_device_get_subsystem(parent));
        if (info.driver.empty()) info.driver = DriverOf(parent);
        if (info.by_path.empty() && info.by_id.empty() && info.bus == "pci") {
            info.names_formed = true;
            info.by_path = FormByPathName(tty.get(), nullptr, -1);
        }
    }
    if (info.vendor.empty() && info.bus == "pci")
        info.vendor = Property(parent, "ID_VENDOR_FROM_DATABASE");
    if (info.model.empty() && info.bus == "pci")
        info.model = Property(parent, "ID_MODEL_FROM_DATABASE");
    if (info.model.empty()) info.model = UartTypeName(type);
    return true;
}

}  // namespace

std::string PortInfo::adapter() const {
    std::string text = vendor;
    if (!model.empty()) text += (text.empty() ? "" : " ") + model;
    if (text.empty()) text = driver;
    // udev's database keeps blanks as '_' in the plain texts.
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::string FormByIdName(const std::string& manufacturer, const std::string& product,
                         const std::string& serial, const std::string& interface_number,
                         int port_number) {
    std::string id = UdevIdText(manufacturer) + "_" + UdevIdText(product);
    const std::string s = UdevIdText(serial);
    if (!s.empty()) id += "_" + s;
    std::string name = std::string(kById) + "usb-" + id + "-if" + interface_number;
    if (port_number >= 0) name += "-port" + std::to_string(port_number);
    return name;
}

std::vector<PortInfo> EnumeratePorts() {
    std::vector<PortInfo> ports;
    UdevPtr<udev> u(udev_new());
    if (!u) return ListPortTree("/dev", "/sys");
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0) {
        return ListPortTree("/dev", "/sys");
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        // Virtual terminals and pseudo-terminals are most of the class: left
        // out by their path before anything is read.
        const char* syspath = udev_list_entry_get_name(entry);
        if (syspath == nullptr || std::strstr(syspath, "/devices/virtual/") != nullptr) continue;
        PortInfo info;
        if (ReadPort(u.get(), syspath, info)) ports.push_back(std::move(info));
    }
    SortPorts(ports);
    return ports;
}

std::vector<PortInfo> ListPortTree(const std::string& dev_root, const std::string& sys_root) {
    static constexpr std::string_view kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<PortInfo> ports;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dev_root, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (std::string_view prefix : kPrefixes) {
            int number = 0;
            if (!StartsWith(name, prefix) || name.size() <= prefix.size() ||
                !ParseDigits(std::string_view(name).substr(prefix.size()), number)) {
                continue;
            }
            if (prefix == "ttyS") {
                std::ifstream in(sys_root + "/class/tty/" + name + "/type");
                int type = 0;
                if (!(in >> type) || type == 0) continue;
            }
            PortInfo info;
            info.device = dev_root + "/" + name;
            info.sys_name = name;
            ports.push_back(std::move(info));
        }
    }
    SortPorts(ports);
    return ports;
}

}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// Port enumeration and COM numbering against a mock sysfs and udev database
// (umockdev): real libudev calls, made-up adapters. Runs under
// umockdev-wrapper, which diverts /sys and /dev into the test bed.
#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/file_settings_store.h"
#include "app/settings.h"
#include "link/com_map.h"
#include "link/com_numbers.h"
#include "link/udev_ports.h"

namespace torvik::link {
namespace {

namespace fs = std::filesystem;

// One USB serial adapter as the kernel and udev describe it.
struct Adapter {
    std::string socket;  // the USB port path on bus 1: "2", "1.4"
    std::string tty;     // "ttyUSB0"
    std::string vendor = "FTDI";
    std::string model = "FT232R USB UART";
    std::string serial;  // empty: the adapter has none
    bool udev = true;    // false: only what sysfs has (udev not running)
};

std::string Underscored(std::string s) {
    for (char& c : s) {
        if (c == ' ') c = '_';
    }
    return s;
}

std::string ById(const Adapter& a) {
    return FormByIdName(a.vendor, a.model, a.serial, "00", 0);
}

std::string ByPath(const Adapter& a) {
    return "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + a.socket + ":1.0-port0";
}

class UdevPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        bed_ = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run this test through umockdev-wrapper";
        dir_ = fs::path(testing::TempDir()) / ("udev_ports_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        map_.set_number_file((dir_ / "com-numbers").string());
        map_.set_time_source([this] { return now_; });
    }
    void TearDown() override {
        if (bed_ != nullptr) g_object_unref(bed_);
        fs::remove_all(dir_);
    }

    // Makes these adapters (and the built-in ports) the machine's devices.
    void Plug(const std::vector<Adapter>& adapters) {
        umockdev_testbed_clear(bed_);
        now_ += 3600;
        AddBuiltIns();
        for (const Adapter& a : adapters) Add(a);
    }

    void Add(const Adapter& a) {
        const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + a.socket;
        const std::string iface = usb + "/1-" + a.socket + ":1.0";
        std::string text = "P: " + usb +
                           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=0403\n"
                           "A: idProduct=6001\nA: manufacturer=" +
                           a.vendor + "\nA: product=" + a.model + "\n";
        if (!a.serial.empty()) text += "A: serial=" + a.serial + "\n";
        text +=
            "\nP: " + iface +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=ftdi_sio\n"
            "L: driver=../../../../../../bus/usb/drivers/ftdi_sio\nA: bInterfaceNumber=00\n\nP: " +
            iface + "/" + a.tty + "\nE: SUBSYSTEM=usb-serial\nA: port_number=0\n\n";
        text += "P: " + iface + "/" + a.tty + "/tty/" + a.tty +
                "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + a.tty +
                "\nA: dev=188:" + std::to_string(minor_++) + "\n";
        if (a.udev) {
            // As udev's rules leave them: by-id only names a device well
            // when the adapter has a serial number of its own.
            text += "E: ID_BUS=usb\nE: ID_VENDOR=" + Underscored(a.vendor) +
                    "\nE: ID_MODEL=" + Underscored(a.model) + "\nE: ID_USB_DRIVER=ftdi_sio\n";
            if (!a.serial.empty()) text += "E: ID_SERIAL_SHORT=" + a.serial + "\n";
            text += "E: DEVLINKS=" + ById(a) + " " + ByPath(a) + "\n";
        }
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, text.c_str(), &error))
            << (error != nullptr ? error->message : "");
    }

    // A UART with a port, one without (type 0), and a virtual terminal.
    void AddBuiltIns() {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(
            bed_,
            "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n"
            "P: /devices/pci0000:00/0000:00:14.0/usb1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\n"
            "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\nE: DRIVER=serial8250\n\n"
            "P: /devices/platform/serial8250/tty/ttyS0\nE: SUBSYSTEM=tty\n"
            "E: DEVNAME=/dev/ttyS0\nA: dev=4:64\nA: type=4\n\n"
            "P: /devices/platform/serial8250/tty/ttyS1\nE: SUBSYSTEM=tty\n"
            "E: DEVNAME=/dev/ttyS1\nA: dev=4:65\nA: type=0\n\n"
            "P: /devices/virtual/tty/tty1\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty1\n"
            "A: dev=4:1\n",
            &error))
            << (error != nullptr ? error->message : "");
    }

    // The adapter (by serial number, else by socket) a COM number leads to.
    std::string Who(int number) {
        const std::string device = map_.path(number);
        for (const PortInfo& p : EnumeratePorts()) {
            if (p.device != device) continue;
            return p.serial.empty() ? "socket " + p.by_path.substr(p.by_path.find("usb-0:") + 6)
                                    : "serial " + p.serial;
        }
        return device.empty() ? "nothing" : device;
    }

    UMockdevTestbed* bed_ = nullptr;
    fs::path dir_;
    int64_t now_ = 1'800'000'000;
    int minor_ = 0;
    ComMap map_;
};

TEST_F(UdevPorts, FindsAdaptersAndUartsWithTheirNames) {
    for (bool udev : {true, false}) {
        SCOPED_TRACE(udev ? "udev running" : "sysfs only");
        Adapter a{"2", "ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3D4", udev};
        Adapter b{"3", "ttyUSB1", "QinHeng", "USB Serial", "", udev};
        Plug({b, a});
        const std::vector<PortInfo> ports = EnumeratePorts();
        ASSERT_EQ(ports.size(), 3u);  // ttyS1 has no UART, tty1 is virtual
        EXPECT_EQ(ports[0].device, "/dev/ttyUSB0");
        EXPECT_EQ(ports[1].device, "/dev/ttyUSB1");
        EXPECT_EQ(ports[2].device, "/dev/ttyS0");
        EXPECT_EQ(ports[2].driver, "serial8250");
        EXPECT_EQ(ports[0].serial, "A1B2C3D4");
        EXPECT_EQ(ports[0].by_id, ById(a));
        EXPECT_EQ(ports[0].by_path, ByPath(a));
        EXPECT_EQ(ports[0].adapter(), "FTDI FT232R USB UART");
        EXPECT_EQ(ports[0].driver, "ftdi_sio");
        EXPECT_EQ(ports[0].names_formed, !udev);
        EXPECT_EQ(ports[1].serial, "");
        EXPECT_EQ(ports[1].by_path, ByPath(b));
        EXPECT_EQ(IdentityOf(ports[0]), ById(a));
        EXPECT_EQ(IdentityOf(ports[1]), ByPath(b));
        EXPECT_EQ(IdentityOf(ports[2]), "/dev/ttyS0");
    }
}

// The numbers follow the adapters through re-plugging, new adapters,
// socket changes and pins; a stored COM number finds its adapter again.
TEST_F(UdevPorts, NumbersStayWithTheirAdapters) {
    const Adapter a{"2", "ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3D4"};
    const Adapter b{"3", "ttyUSB1", "QinHeng", "USB Serial", ""};
    Plug({a, b});
    EXPECT_EQ(Who(1), "serial A1B2C3D4");
    EXPECT_EQ(Who(2), "socket 3:1.0-port0");
    EXPECT_EQ(map_.path(3), "/dev/ttyS0");
    // The scan found the reader on B and stored its number beside the map.
    app::FileSettingsStore store((dir_ / "settings.reg").string());
    app::SaveLinkSettings(store, app::LinkSettings{2, "19200,e,8,1", 5});
    const auto stored = [&store] {
        app::AppState state;
        app::LoadSettings(store, state);
        return state.link.port;
    };

    struct Step {
        const char* what;
        std::vector<Adapter> plugged;
        std::map<int, std::string> want;
    };
    Adapter a_swapped = a, b_swapped = b;
    a_swapped.tty = "ttyUSB1";
    b_swapped.tty = "ttyUSB0";
    Adapter a_moved = a;
    a_moved.socket = "1.4";
    const Adapter c{"4", "ttyUSB2", "Prolific", "PL2303", "C0FFEE"};
    const Adapter twin{"5", "ttyUSB3", "QinHeng", "USB Serial", ""};
    const Step steps[] = {
        {"re-plugged in the other order",
         {b_swapped, a_swapped},
         {{1, "serial A1B2C3D4"}, {2, "socket 3:1.0-port0"}}},
        {"a third adapter",
         {a, b, c},
         {{1, "serial A1B2C3D4"}, {2, "socket 3:1.0-port0"}, {4, "serial C0FFEE"}}},
        {"A alone, in another socket",
         {a_moved},
         {{1, "serial A1B2C3D4"}, {2, "nothing"}, {4, "nothing"}}},
        {"an identical twin of B",
         {b, twin, a},
         {{1, "serial A1B2C3D4"}, {2, "socket 3:1.0-port0"}, {5, "socket 5:1.0-port0"}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Plug(step.plugged);
        for (const auto& [number, who] : step.want) EXPECT_EQ(Who(number), who) << "COM" << number;
        EXPECT_EQ(map_.path(3), "/dev/ttyS0");
        if (step.want.at(2) != "nothing") {
            EXPECT_EQ(Who(stored()), "socket 3:1.0-port0");
        }
    }
    Plug({b_swapped, a_swapped});
    EXPECT_EQ(Who(stored()), "socket 3:1.0-port0");

    // A second run of the tool reads the same numbers from the file.
    ComMap again;
    again.set_number_file((dir_ / "com-numbers").string());
    again.set_time_source([this] { return now_; });
    EXPECT_EQ(again.path(1), "/dev/ttyUSB1");
    EXPECT_EQ(again.path(2), "/dev/ttyUSB0");
}

TEST_F(UdevPorts, PinToByIdNameTakesTheAdapterOutOfTheMap) {
    const Adapter a{"2", "ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3D4"};
    const Adapter b{"3", "ttyUSB1", "QinHeng", "USB Serial", ""};
    Plug({a, b});
    ASSERT_EQ(map_.path(1), "/dev/ttyUSB0");

    ComMap pinned;
    pinned.set_number_file((dir_ / "com-numbers").string());
    pinned.set_time_source([this] { return now_; });
    ASSERT_TRUE(pinned.add_override("COM5=" + ById(a)));
    const Adapter d{"6", "ttyUSB2", "FTDI", "FT232R USB UART", "D4D4D4D4"};
    Plug({a, b, d});
    EXPECT_EQ(pinned.path(5), ById(a));
    EXPECT_EQ(pinned.path(1), "") << "A answers only to its pin during this run";
    EXPECT_EQ(pinned.path(2), "/dev/ttyUSB1");
    EXPECT_EQ(pinned.path(4), "/dev/ttyUSB2") << "3 is the UART, 5 is pinned";
    int pinned_entries = 0;
    for (const ComMap::Entry& e : pinned.entries()) {
        if (e.state == ComMap::State::kPinned) {
            ++pinned_entries;
            EXPECT_EQ(e.number, 5);
            EXPECT_EQ(e.info.serial, "A1B2C3D4");
        }
    }
    EXPECT_EQ(pinned_entries, 1);
    // Without the pin A has its own number again.
    EXPECT_EQ(map_.path(1), "/dev/ttyUSB0");
}

TEST_F(UdevPorts, SixteenNumbersTaken) {
    std::vector<Adapter> first;
    for (int i = 0; i < 15; ++i) {
        first.push_back(Adapter{std::to_string(i + 1), "ttyUSB" + std::to_string(i), "FTDI",
                                "FT232R USB UART", "SER" + std::to_string(i)});
    }
    Plug(first);  // with ttyS0: sixteen devices
    EXPECT_EQ(map_.path(1), "/dev/ttyUSB0");
    EXPECT_EQ(map_.path(15), "/dev/ttyUSB14");
    EXPECT_EQ(map_.path(16), "/dev/ttyS0");

    // A seventeenth while all sixteen are plugged in: no number, a note.
    std::vector<Adapter> all = first;
    all.push_back(Adapter{"17", "ttyUSB15", "FTDI", "FT232R USB UART", "SER15"});
    Plug(all);
    int unnumbered = 0;
    for (const ComMap::Entry& e : map_.entries()) {
        if (e.state != ComMap::State::kUnnumbered) continue;
        ++unnumbered;
        EXPECT_EQ(e.device, "/dev/ttyUSB15");
    }
    EXPECT_EQ(unnumbered, 1);
    EXPECT_FALSE(map_.notes().empty());

    // SER3 goes first, SER7 later; the new one takes SER3's number, the
    // device absent longest.
    std::vector<Adapter> without3(first.begin(), first.end());
    without3.erase(without3.begin() + 3);
    Plug(without3);
    map_.entries();
    std::vector<Adapter> without37 = without3;
    without37.erase(without37.begin() + 6);  // SER7
    Plug(without37);
    map_.entries();
    std::vector<Adapter> with_new = without37;
    with_new.push_back(Adapter{"17", "ttyUSB15", "FTDI", "FT232R USB UART", "SER15"});
    Plug(with_new);
    EXPECT_EQ(map_.path(4), "/dev/ttyUSB15");
    EXPECT_EQ(map_.path(8), "");  // still kept for SER7
    bool told = false;
    for (const std::string& n : map_.notes()) told = told || n.find("COM4 was given") == 0;
    EXPECT_TRUE(told);
}

TEST_F(UdevPorts, SkippedPortsStayOut) {
    const Adapter a{"2", "ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3D4"};
    Plug({a});
    map_.set_port_filter([](const PortInfo& p) {
        return p.device == "/dev/ttyS0" ? std::string("the system console") : std::string();
    });
    EXPECT_EQ(map_.path(1), "/dev/ttyUSB0");
    EXPECT_EQ(map_.path(2), "");
    const std::string list = FormatPortList(map_);
    EXPECT_NE(list.find("skipped: the system console  /dev/ttyS0"), std::string::npos) << list;
    EXPECT_NE(list.find("COM1  present  /dev/ttyUSB0  FTDI FT232R USB UART  serial A1B2C3D4"),
              std::string::npos)
        << list;
}

}  // namespace
}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// torvikctl and the window program on made-up adapters (umockdev): an
// adapter's own product string carrying escape sequences is shown escaped
// by --list-ports, and a lock file of the COM number file that another
// member of the serial group replaced by a link to a file of root's leaves
// that file as it was, though --list-ports numbers the adapter.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/terminal_text.h"
#include "tests/child_process.h"

namespace torvik::link {
namespace {

namespace fs = std::filesystem;

const std::string kHostile = "\x1b]2;owned\x07\x1b[2J";

std::vector<std::string> Programs() {
    std::vector<std::string> programs = {TORVIK_CTL_BINARY};
#ifdef TORVIK_CONFIG_BINARY
    programs.push_back(TORVIK_CONFIG_BINARY);
#endif
    return programs;
}

class UdevPrograms : public ::testing::Test {
  protected:
    void SetUp() override {
        bed_ = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run this test through umockdev-wrapper";
        dir_ = fs::path(testing::TempDir()) / ("udev_programs_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "settings");
        fs::create_directories(dir_ / "elsewhere");
    }
    void TearDown() override {
        if (bed_ != nullptr) g_object_unref(bed_);
        fs::remove_all(dir_);
    }

    // One USB serial adapter as sysfs shows it when udev is not running:
    // its texts as the adapter sent them.
    void Plug(const std::string& product) {
        const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-2";
        const std::string iface = usb + "/1-2:1.0";
        const std::string text =
            "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\n\n"
            "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=0403\n"
            "A: idProduct=6001\nA: manufacturer=FTDI\nA: product=X\nA: serial=A1B2\n\n"
            "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=ftdi_sio\n"
            "A: bInterfaceNumber=00\n\n"
            "P: " + iface + "/ttyUSB0\nE: SUBSYSTEM=usb-serial\nA: port_number=0\n\n"
            "P: " + iface + "/ttyUSB0/tty/ttyUSB0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyUSB0\n"
            "A: dev=188:0\n";
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, text.c_str(), &error))
            << (error != nullptr ? error->message : "");
        umockdev_testbed_set_attribute(bed_, ("/sys" + usb).c_str(), "product", product.c_str());
    }

    test::ProgramRun ListPorts(const std::string& program) const {
        return test::RunProgram(
            {program, "--settings", (dir_ / "settings" / "settings.reg").string(), "--list-ports"});
    }

    UMockdevTestbed* bed_ = nullptr;
    fs::path dir_;
};

TEST_F(UdevPrograms, AnAdaptersProductStringIsShownEscaped) {
    Plug("FT232R " + kHostile);
    for (const std::string& program : Programs()) {
        SCOPED_TRACE(program);
        const test::ProgramRun r = ListPorts(program);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("COM1  present  /dev/ttyUSB0  FTDI FT232R \\x1b]2;owned\\x07\\x1b[2J"),
                  std::string::npos)
            << r.out;
        EXPECT_TRUE(IsTerminalSafe(r.out)) << r.out;
        EXPECT_TRUE(IsTerminalSafe(r.err)) << r.err;
        // The number is kept; the name it was last seen under, without the
        // control characters the file cannot hold.
        std::ifstream numbers(dir_ / "settings" / "com-numbers");
        const std::string kept(std::istreambuf_iterator<char>(numbers), {});
        EXPECT_NE(kept.find("\t/dev/ttyUSB0\tFTDI FT232R  ]2;owned  [2J\n"), std::string::npos)
            << kept;
    }
}

TEST_F(UdevPrograms, ListPortsWithThePlantedLockLinkLeavesRootsFileAsItWas) {
    Plug("FT232R USB UART");
    const fs::path victim = dir_ / "elsewhere" / "shadow";
    const fs::path missing = dir_ / "elsewhere" / "made-by-root";
    for (const std::string& program : Programs()) {
        for (const fs::path& target : {victim, missing}) {
            SCOPED_TRACE(program + " with the lock leading to " + target.string());
            fs::remove_all(dir_ / "settings");
            fs::create_directories(dir_ / "settings");
            std::ofstream(victim) << "root:secret:19000:0:99999:7:::\n";
            ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
            struct stat before {};
            ASSERT_EQ(::stat(victim.c_str(), &before), 0);
            const fs::path lock = dir_ / "settings" / "com-numbers.lock";
            fs::create_symlink(target, lock);

            const test::ProgramRun r = ListPorts(program);

            EXPECT_EQ(r.status, 0) << r.err;
            struct stat after {};
            ASSERT_EQ(::stat(victim.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_ino, before.st_ino);
            std::ifstream in(victim);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                      "root:secret:19000:0:99999:7:::\n");
            EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
            EXPECT_TRUE(fs::is_symlink(lock));
            // Numbered for this run, and told why the number is not kept.
            EXPECT_NE(r.out.find("COM1  present  /dev/ttyUSB0"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(lock.string() + " is a symbolic link, not a lock file"),
                      std::string::npos)
                << r.out;
            EXPECT_FALSE(fs::exists(dir_ / "settings" / "com-numbers"));
        }
    }
}

}  // namespace
}  // namespace torvik::link

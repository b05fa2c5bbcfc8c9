// SPDX-License-Identifier: MIT
// The rules by which devices keep their COM numbers, and the file that keeps
// them: identities, first numbers, numbers given again, pins, odd file
// lines, and a user who may only read the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/com_map.h"
#include "link/com_number_file.h"
#include "link/com_numbers.h"
#include "link/digits.h"
#include "tests/scratch_dir.h"

namespace torvik::link {
namespace {

namespace fs = std::filesystem;

PortInfo Usb(std::string device, std::string serial, std::string socket) {
    PortInfo p;
    p.device = std::move(device);
    p.sys_name = p.device.substr(5);
    p.serial = serial;
    p.by_id = "/dev/serial/by-id/usb-X_Y" + (serial.empty() ? "" : "_" + serial) + "-if00";
    if (!socket.empty()) p.by_path = "/dev/serial/by-path/pci-0-usb-0:" + socket + ":1.0";
    return p;
}

// Numbers in pins, sysfs names, procfs entries and the number file: digits
// only, within range; anything else leaves the value alone.
TEST(Digits, OnlyDigitsWithinRangeAreNumbers) {
    struct Row {
        const char* text;
        bool as_int;
        int int_value;
        bool as_int64;
    };
    const Row rows[] = {
        {"0", true, 0, true},
        {"16", true, 16, true},
        {"007", true, 7, true},
        {"2147483647", true, 2147483647, true},
        {"2147483648", false, -1, true},  // past int, within int64
        {"99999999999999999999", false, -1, false},
        {"", false, -1, false},
        {"-1", false, -1, false},
        {"+1", false, -1, false},
        {" 1", false, -1, false},
        {"1 ", false, -1, false},
        {"1a", false, -1, false},
        {"0x10", false, -1, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        int n = -1;
        EXPECT_EQ(ParseDigits(r.text, n), r.as_int);
        EXPECT_EQ(n, r.int_value);
        int64_t wide = -1;
        EXPECT_EQ(ParseDigits(r.text, wide), r.as_int64);
        if (!r.as_int64) {
            EXPECT_EQ(wide, -1);
        }
    }
}

TEST(ComNumbers, IdentityPrefersSerialThenSocketThenDevice) {
    struct Case {
        PortInfo port;
        std::string want;
    } cases[] = {
        {Usb("/dev/ttyUSB0", "A1", "2"), "/dev/serial/by-id/usb-X_Y_A1-if00"},
        {Usb("/dev/ttyUSB0", "", "2"), "/dev/serial/by-path/pci-0-usb-0:2:1.0"},
        {Usb("/dev/ttyS0", "", ""), "/dev/ttyS0"},
    };
    for (const Case& c : cases) EXPECT_EQ(IdentityOf(c.port), c.want) << c.port.device;

    // Clones that share one serial number are told apart by their sockets,
    // and without sockets by their device paths.
    const std::vector<KnownPort> k =
        IdentifyPorts({Usb("/dev/ttyUSB0", "0001", "2"), Usb("/dev/ttyUSB1", "0001", "3"),
                       Usb("/dev/ttyUSB2", "0002", "4"), Usb("/dev/ttyUSB3", "", ""),
                       Usb("/dev/ttyUSB4", "", "")});
    ASSERT_EQ(k.size(), 5u);
    EXPECT_EQ(k[0].key, "/dev/serial/by-path/pci-0-usb-0:2:1.0");
    EXPECT_EQ(k[1].key, "/dev/serial/by-path/pci-0-usb-0:3:1.0");
    EXPECT_EQ(k[2].key, "/dev/serial/by-id/usb-X_Y_0002-if00");
    EXPECT_EQ(k[3].key, "/dev/ttyUSB3");
    EXPECT_EQ(k[4].key, "/dev/ttyUSB4");
}

TEST(ComNumbers, LowestFreeNumberPinsSkippedLongestAbsentGivesItsNumberUp) {
    std::vector<ComRecord> records;
    const auto present = [](std::vector<std::string> keys) {
        std::vector<KnownPort> out;
        for (auto& k : keys) out.push_back(KnownPort{k, PortInfo{}});
        return out;
    };
    AssignOutcome o = AssignNumbers(records, present({"a", "b", "c"}), {2}, 1000);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].number, 1);
    EXPECT_EQ(records[1].number, 3);  // 2 is pinned for this run
    EXPECT_EQ(records[2].number, 4);
    EXPECT_TRUE(o.changed);

    // Looked at again within the minute: nothing to write.
    EXPECT_FALSE(AssignNumbers(records, present({"a", "b", "c"}), {2}, 1030).changed);
    EXPECT_TRUE(AssignNumbers(records, present({"a"}), {2}, 1100).changed);

    // Fill all sixteen; "b" (seen at 1000) and "c" are absent longest, with
    // the same time: the lower number goes first.
    std::vector<std::string> many = {"a"};
    for (int i = 0; i < 13; ++i) many.push_back("k" + std::to_string(i));
    AssignNumbers(records, present(many), {}, 2000);
    ASSERT_EQ(records.size(), 16u);
    o = AssignNumbers(records, present({"new"}), {}, 3000);
    ASSERT_EQ(o.reused.size(), 1u);
    EXPECT_EQ(o.reused[0].number, 3);
    EXPECT_EQ(o.reused[0].old_record.key, "b");
    o = AssignNumbers(records, present({"newer"}), {}, 3000);
    ASSERT_EQ(o.reused.size(), 1u);
    EXPECT_EQ(o.reused[0].old_record.key, "c");

    // Every recorded device present: the seventeenth stays without a number.
    std::vector<std::string> all;
    for (const ComRecord& r : records) all.push_back(r.key);
    all.push_back("extra");
    o = AssignNumbers(records, present(all), {}, 4000);
    EXPECT_EQ(o.unnumbered, std::vector<std::string>{"extra"});
    EXPECT_TRUE(o.reused.empty());
}

TEST(ComNumbers, FileTextRoundTripsAndOddLinesAreSkipped) {
    const std::vector<ComRecord> records = {
        {1, "/dev/serial/by-id/usb-FTDI_A1-if00", 1800000000, "/dev/ttyUSB0", "FTDI FT232R"},
        {16, "/dev/ttyS0", 5, "/dev/ttyS0", ""},
    };
    EXPECT_EQ(ParseComRecords(RenderComRecords(records)), records);

    const std::string odd =
        "# comment\n"
        "COM0\tzero\t1\n"    // below 1
        "COM17\tbig\t1\n"    // above 16
        "COM2\t\t1\n"        // no identity
        "COM3\tk3\tlater\n"  // time not a number
        "COMx\tk\t1\n"       // not a number
        "COM4\tk4\t7\t/dev/ttyUSB4\r\n"
        "COM4\tother\t8\n"           // number repeated: the first stands
        "COM5\tk4\t9\n"              // identity repeated
        "COM6\tk6\t10\t\t\textra\n"  // fields beyond the fifth are ignored
        "garbage";
    const std::vector<ComRecord> parsed = ParseComRecords(odd);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0], (ComRecord{4, "k4", 7, "/dev/ttyUSB4", ""}));
    EXPECT_EQ(parsed[1].number, 6);

    // Names with tabs, line feeds or other control characters cannot break
    // the file, and are not cleaned into another device's name: such a
    // record is left out whole, the others read back exactly.
    const std::vector<ComRecord> nasty = {{2, "a\tb\nc", 1, "/dev/x\ty", "Ven\ndor"},
                                          {3, "a\x01b", 1, "/dev/ttyUSB3", ""},
                                          {4, "a_b", 2, "/dev/ttyUSB4", "Ven\x1b[2Jdor"},
                                          {5, "a_b", 3, "/dev/ttyUSB5", ""},
                                          {6, "k6", 4, "/dev/ttyUSB6", "FTDI \xC2\x9B" "2J"}};
    const std::vector<ComRecord> back = ParseComRecords(RenderComRecords(nasty));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], (ComRecord{5, "a_b", 3, "/dev/ttyUSB5", ""}));
    EXPECT_EQ(back[1], nasty[4]);  // bytes beyond ASCII are kept as they are
}

class ComNumberFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("com_numbers_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        test::set_immutable(dir_ / "com-numbers", false);
        test::set_immutable(dir_, false);
        ::chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_);
    }
    ComMap Map(std::vector<PortInfo>* ports) {
        ComMap m;
        m.set_number_file((dir_ / "com-numbers").string());
        m.set_port_source([ports] { return *ports; });
        m.set_time_source([this] { return now_ += 3600; });
        return m;
    }
    fs::path dir_;
    int64_t now_ = 1'800'000'000;
};

TEST_F(ComNumberFileTest, SharedAtomicAndReadOnlyUsersKeepWorking) {
    std::vector<PortInfo> ports = {Usb("/dev/ttyUSB0", "A1", "2")};
    ComMap first = Map(&ports);
    EXPECT_EQ(first.path(1), "/dev/ttyUSB0");
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "com-numbers").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);

    // Another copy of the tool numbers a device meanwhile; neither loses
    // the other's number.
    std::vector<PortInfo> other = {Usb("/dev/ttyUSB1", "B2", "3")};
    ComMap second = Map(&other);
    EXPECT_EQ(second.path(2), "/dev/ttyUSB1");
    ports.push_back(Usb("/dev/ttyUSB5", "C3", "4"));
    EXPECT_EQ(first.path(3), "/dev/ttyUSB5");
    EXPECT_EQ(ComNumberFile((dir_ / "com-numbers").string()).load().size(), 3u);
    for (const fs::directory_entry& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }

    // The file cannot be changed: the numbers in it still lead to their
    // devices, a new device gets a number for this run, and a note says so.
    ASSERT_TRUE(test::make_unwritable(dir_ / "com-numbers"));
    ASSERT_TRUE(test::make_unwritable(dir_));
    ports.push_back(Usb("/dev/ttyUSB7", "D4", "5"));
    ComMap reader = Map(&ports);
    EXPECT_EQ(reader.path(1), "/dev/ttyUSB0");
    EXPECT_EQ(reader.path(3), "/dev/ttyUSB5");
    EXPECT_EQ(reader.path(4), "/dev/ttyUSB7");
    EXPECT_FALSE(reader.numbers_kept());
    EXPECT_NE(FormatPortList(reader).find("cannot be written"), std::string::npos);
    EXPECT_EQ(ComNumberFile((dir_ / "com-numbers").string()).load().size(), 3u);
}

TEST_F(ComNumberFileTest, FileThatIsNoneOfOursIsNotOverwritten) {
    {
        std::ofstream big(dir_ / "com-numbers");
        big << std::string(200 << 10, 'x');
    }
    std::vector<PortInfo> ports = {Usb("/dev/ttyUSB0", "A1", "2")};
    ComMap m = Map(&ports);
    EXPECT_EQ(m.path(1), "/dev/ttyUSB0");
    EXPECT_EQ(fs::file_size(dir_ / "com-numbers"), size_t{200} << 10);
}

}  // namespace
}  // namespace torvik::link

// SPDX-License-Identifier: MIT
// The scan's account over pseudo-terminals: what came back on each port (a
// silent peer, a reader at another speed, a noisy line, a presence reply of
// 15 bytes), the hint on the speed lock, and the account in each language.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/diagnostics.h"
#include "app/window_model.h"
#include "link/checksum.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "ops/reader_operations.h"
#include "tests/doubles/memory_settings_store.h"
#include "sim/adapter.h"
#include "tests/harness.h"
#include "tests/wall_pump.h"

namespace torvik::test {
namespace {

// A short reply frame around a body: LF, body, XOR digits, CR.
std::string Reply(const std::string& body) {
    std::string frame = "\n" + body;
    const uint8_t x = link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    frame += link::hex_digit(x >> 4);
    frame += link::hex_digit(x & 0xF);
    return frame + "\r";
}

// The other end of a pseudo-terminal, answering each request (up to its CR)
// the way its kind does.
class Peer {
  public:
    enum class Kind {
        kSilent,     // a device that never answers
        kAt38400,    // a reader at 38400: what it sends at another speed is garbage
        kNoise,      // a line that only carries noise
        kShortReply  // a presence reply one byte short
    };
    explicit Peer(Kind kind) : kind_(kind) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        path_ = ::ptsname(master_);
        // Kept open so that the line settings the tool makes can be seen.
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    const std::string& path() const { return path_; }

  private:
    void Run() {
        std::string request;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) continue;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            request.append(buffer, static_cast<size_t>(n));
            if (request.find('\r') == std::string::npos) continue;
            request.clear();
            const std::string answer = Answer();
            if (!answer.empty()) (void)!::write(master_, answer.data(), answer.size());
        }
    }
    std::string Answer() const {
        termios t{};
        const bool at_38400 = ::tcgetattr(slave_, &t) == 0 && cfgetospeed(&t) == B38400;
        switch (kind_) {
            case Kind::kSilent:
                return {};
            case Kind::kAt38400:
                return at_38400 ? Reply("B01 12345678")
                                : std::string("\x00\xE0\x1C\xFC\x80\x3F", 6);
            case Kind::kNoise:
                return "\x55\xAA\x13\x37\x55";
            case Kind::kShortReply:
                return Reply("B01 1234567");
        }
        return {};
    }

    Kind kind_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Rig {
    explicit Rig(const std::vector<Peer::Kind>& kinds)
        : serial(map), form(app::Services{serial, clock, pump, beeper, cursor, errors, store}) {
        for (size_t i = 0; i < kinds.size(); ++i) {
            peers.push_back(std::make_unique<Peer>(kinds[i]));
            map.add_override("COM" + std::to_string(i + 1) + "=" + peers.back()->path());
        }
        ops::BindOperations(form);
        form.FormCreate();
        form.FormShow();
    }
    std::string Scan(bool locked, int language = 0) {
        form.user_set_checked(form.chkLock, locked);
        form.press(form.btnScan);
        return app::DescribeScan(form.scan_record(), map.present_devices(), map.skipped_devices(),
                                 {language, form.chkLock.checked()});
    }
    std::string Pty(int i) const { return peers[static_cast<size_t>(i)]->path(); }

    std::vector<std::unique_ptr<Peer>> peers;
    link::ComMap map{"/nonexistent-dev", "/nonexistent-sys"};
    link::PosixSerialDevice serial;
    link::MonotonicClock clock;
    WallPump pump;
    QuietBeeper beeper;
    TestCursor cursor;
    TestErrors errors;
    doubles::MemorySettingsStore store;
    app::TfrmModule form;
};

const std::string kGarbled = "garbled: wrong speed or parity, noise, or two devices on the line";

TEST(ScanAccount, TellsTheCausesApartAndPointsAtTheLock) {
    using K = Peer::Kind;
    Rig rig({K::kSilent, K::kAt38400, K::kNoise, K::kShortReply});
    const std::string account = rig.Scan(true);
    ASSERT_FALSE(rig.form.state.reader_found);
    const std::string at = " at 19200,e,8,1: ";
    EXPECT_EQ(account,
              "The scan tried:\n"
              "COM1 (" +
                  rig.Pty(0) + ")" + at +
                  "nothing arrived\n"
                  "COM2 (" +
                  rig.Pty(1) + ")" + at + kGarbled +
                  " (first bytes: 00 E0 1C FC 80 3F)\n"
                  "COM3 (" +
                  rig.Pty(2) + ")" + at + kGarbled +
                  " (first bytes: 55 AA 13 37 55)\n"
                  "COM4 (" +
                  rig.Pty(3) + ")" + at +
                  "presence reply of 15 bytes instead of 16\n"
                  "COM5 to COM16: no such device\n"
                  "The lock box beside the baud rate was ticked, so each port was tried only at "
                  "19200,e,8,1: clear it so that all fourteen settings are tried.");

    // The same account in the two Chinese languages, from the same record.
    const std::string simplified = app::DescribeScan(rig.form.scan_record(), {}, {}, {1, true});
    EXPECT_NE(simplified.find("COM1 (" + rig.Pty(0) + ") 使用 19200,e,8,1: 没有收到任何资料"),
              std::string::npos)
        << simplified;
    EXPECT_NE(simplified.find("询问回应长度为 15 字节, 应为 16"), std::string::npos);
    EXPECT_NE(simplified.find("取消勾选即可尝试全部十四种设定"), std::string::npos);
    const std::string traditional = app::DescribeScan(rig.form.scan_record(), {}, {}, {2, true});
    EXPECT_NE(traditional.find("亂碼: 通訊速度或同位檢查不符"), std::string::npos) << traditional;
    EXPECT_NE(traditional.find("(最先收到的位元組: 00 E0 1C FC 80 3F)"), std::string::npos);
}

TEST(ScanAccount, SweepShowsGarbageBelowTheReadersSpeedThenItsAnswer) {
    Rig rig({Peer::Kind::kAt38400});
    const std::string account = rig.Scan(false);
    ASSERT_TRUE(rig.form.state.reader_found) << account;
    EXPECT_EQ(rig.form.state.link.index, 6);
    EXPECT_EQ(account, "The scan tried:\nCOM1 (" + rig.Pty(0) +
                           ") at 4800,n,8,1 to 19200,e,8,1 (6 settings): " + kGarbled +
                           " (first bytes: 00 E0 1C FC 80 3F)\nCOM1 (" + rig.Pty(0) +
                           ") at 38400,n,8,1: answered");
}

TEST(ScanAccount, NamesWhatRealLinesDidInEachLanguage) {
    // The in-process line plays the adapter; the account of the scan that
    // found the reader anyway says what the line did.
    struct Case {
        const char* name;
        sim::Adapter adapter;
        std::array<const char*, 3> said;  // English, Simplified, Traditional
    };
    sim::Adapter echo, glitch, late;
    echo.echo = true;
    glitch.turnaround = "\xFF";
    late.late_command = "I00V";
    late.late_ms = 205;
    const Case cases[] = {
        {"echo", echo,
         {"the adapter echoes what is sent (handled)", "转接器会回传送出的资料 (已处理)",
          "轉接器會回傳送出的資料 (已處理)"}},
        {"turnaround", glitch,
         {"turnaround glitch bytes before the replies (handled)", "线路切换的杂讯字节",
          "線路切換的雜訊位元組"}},
        {"late", late, {"ms after its budget", "毫秒才到", "毫秒才到"}},
    };
    for (const Case& c : cases) {
        Harness h;
        h.line.set_adapter(c.adapter);
        h.start();
        h.form.press(h.form.btnScan);
        ASSERT_TRUE(h.form.state.reader_found) << c.name;
        for (int language = 0; language < 3; ++language) {
            const std::string account =
                app::DescribeScan(h.form.scan_record(), {"sim:COM3"}, {}, {language, true});
            EXPECT_NE(account.find(c.said[static_cast<size_t>(language)]), std::string::npos)
                << c.name << ", language " << language << ":\n"
                << account;
        }
    }
    // A clean line says nothing of the kind.
    Harness clean;
    clean.start();
    clean.form.press(clean.form.btnScan);
    const std::string account =
        app::DescribeScan(clean.form.scan_record(), {"sim:COM3"}, {}, {0, true});
    EXPECT_EQ(account.find("handled"), std::string::npos) << account;
    EXPECT_EQ(account.find("budget"), std::string::npos) << account;
}

TEST(ScanAccount, TheSerialDevicesOwnWordsAreInTheLanguageToo) {
    // Causes and reasons as the serial device gives them, names and paths in
    // between: in Chinese no English word of them is left.
    auto attempt = [](int port, const std::string& cause) {
        app::PortAttempt a;
        a.port = port;
        a.device = "/dev/ttyUSB" + std::to_string(port);
        a.settings = "19200,e,8,1";
        a.cause = "COM" + std::to_string(port) + " (/dev/ttyUSB" + std::to_string(port) + "): " + cause;
        return a;
    };
    const std::vector<app::PortAttempt> attempts = {
        attempt(1, "no such device"),
        attempt(2, "permission denied: /dev/ttyUSB2 belongs to group dialout and you are not in "
                   "it; run: sudo usermod -aG dialout ana, then log out completely and log in "
                   "again"),
        attempt(3, "busy: held by ModemManager (pid 812)"),
        attempt(4, "busy (held by another program)"),
        attempt(5, "not a serial device"),
        attempt(6, "no RS-485 mode in this port's driver (Inappropriate ioctl for device); USB "
                   "RS-485 adapters switch the direction themselves: leave --rs485 out"),
        attempt(7, "vanished"),
        attempt(8, "skipped: system console"),
    };
    const std::vector<std::pair<std::string, std::string>> skipped = {
        {"/dev/ttyS0", "system console"}, {"/dev/ttyS1", "login terminal of agetty (pid 77)"}};
    for (int language : {1, 2}) {
        const std::string account = app::DescribeScan(attempts, {"/dev/ttyUSB1"}, skipped,
                                                      {language, false});
        for (const char* english :
             {"no such device", "permission denied", "belongs to group", "you are not in",
              "log out", "busy", "held by", "not a serial device", "RS-485 mode in",
              "switch the direction", "vanished", "system console", "login terminal",
              "skipped"}) {
            EXPECT_EQ(account.find(english), std::string::npos)
                << "language " << language << ": " << english << "\n"
                << account;
        }
        // What is not words stays: names, paths, commands, numbers.
        for (const char* kept : {"ModemManager (pid 812)", "sudo usermod -aG dialout ana",
                                 "agetty (pid 77)", "--rs485", "/dev/ttyS1"}) {
            EXPECT_NE(account.find(kept), std::string::npos) << kept << "\n" << account;
        }
    }
}

}  // namespace
}  // namespace torvik::test

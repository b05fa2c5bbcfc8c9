// SPDX-License-Identifier: MIT
// The window model over the real serial device and a monotonic clock against
// the torvik-sim program on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "app/window_model.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "ops/reader_operations.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/harness.h"
#include "tests/sim_process.h"
#include "tests/wall_pump.h"

namespace torvik::test {
namespace {

struct Rig {
    explicit Rig(std::vector<std::string> sim_args)
        : sim(std::move(sim_args)),
          serial(map),
          form(app::Services{serial, clock, pump, beeper, cursor, errors, store}) {
        map.add_override("COM2=" + sim.path());
        ops::BindOperations(form);
        form.FormCreate();
        form.FormShow();
    }
    void scan(bool locked = true) {
        form.user_set_checked(form.chkLock, locked);
        form.press(form.btnScan);
    }
    SimProcess sim;
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

TEST(EndToEnd, ScanFindsTheSimulatorAtAnotherSpeedAndStoresIt) {
    Rig rig({"--baud", "38400"});
    ASSERT_FALSE(rig.sim.path().empty());
    // COM1 has no device; COM2 is the simulator. Index 6 (38400,n) is tried
    // before 7; parity is not visible on a pseudo-terminal, so 6 answers.
    rig.scan(false);
    ASSERT_TRUE(rig.form.state.reader_found) << rig.form.pnMsg.caption();
    EXPECT_EQ(rig.form.pnMsg.caption(), "Get Reader Info Ok. (COM : #2)");
    EXPECT_EQ(rig.form.pnSerial.caption(), "S/N : 12345678");
    const char* key = "\\Software\\KELDO\\ReaderConfig";
    EXPECT_EQ(rig.store.get(key, "ScanCommNo")->dword, 2u);
    EXPECT_EQ(rig.store.get(key, "ScanBaudRate")->data.substr(0, 6), "38400,");
    EXPECT_FALSE(rig.serial.is_open());
}

TEST(EndToEnd, TemplateRoundTripAndRawCommand) {
    // A 264-byte piece takes 151 ms of its 200 ms budget at 19200; at
    // 115200 the round trip does not depend on how busy the machine is.
    Rig rig({"--baud", "115200", "--parity", "e"});
    rig.form.state.link.settings = "115200,e,8,1";
    rig.form.state.link.index = 11;
    rig.scan();
    ASSERT_TRUE(rig.form.state.reader_found);
    rig.form.press(rig.form.btnGetTemplate);
    ASSERT_EQ(rig.form.pnMsg.caption(), "Test Command Ok");
    const std::string slot1 = rig.form.edF1.text() + rig.form.edF2.text() + rig.form.edF3.text();
    ASSERT_EQ(slot1.size(), 768u);
    rig.form.user_set_position(rig.form.sbFingerNo, 7);
    rig.form.press(rig.form.btnPutTemplate);
    ASSERT_EQ(rig.form.pnMsg.caption(), "Test Command Ok");
    rig.form.edF1.set_text("");
    rig.form.press(rig.form.btnGetTemplate);
    ASSERT_EQ(rig.form.pnMsg.caption(), "Test Command Ok");
    EXPECT_EQ(rig.form.edF1.text() + rig.form.edF2.text() + rig.form.edF3.text(), slot1);

    rig.form.user_set_text(rig.form.edCRCmd, "HELLO");
    rig.form.press(rig.form.btnCRCmd);
    EXPECT_EQ(rig.form.pnMsg.caption(), "Test Command Ok");
    EXPECT_EQ(rig.form.edCRRev.text(), "HELLO\x04");
}

TEST(EndToEnd, LiveReadingShowsACardAndEndsWhenTheReaderGoesAway) {
    Rig rig({"--card-every-ms", "300"});
    rig.scan();
    ASSERT_TRUE(rig.form.state.reader_found);
    std::vector<std::string> shown;
    rig.form.observer = [&](app::Control& c, app::Prop p) {
        if (&c == &rig.form.pnCardID && p == app::Prop::Caption) shown.push_back(c.caption());
    };
    bool is_pulled = false;
    int polls_after_pull = 0;
    rig.form.link.set_trace([&](char direction, std::string_view) {
        if (direction == '>' && is_pulled) ++polls_after_pull;
    });
    std::chrono::steady_clock::time_point pulled;
    rig.pump.after_ms(1500, [&] {
        pulled = std::chrono::steady_clock::now();
        is_pulled = true;
        rig.sim.stop();
    });
    rig.form.press(rig.form.btnReadCard);
    const auto ended = std::chrono::steady_clock::now();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front().substr(0, 5), "ID : ");
    EXPECT_EQ(rig.form.pnMsg.caption(), "Reader Not Find");
    EXPECT_EQ(rig.form.shComm.color(), app::kRed);
    EXPECT_FALSE(rig.serial.is_open());
    EXPECT_TRUE(rig.form.btnScan.enabled());
    // The first poll after the pull ends the reading (at most one poll was
    // already under way); the time is only a guard against hanging.
    EXPECT_LE(polls_after_pull, 1);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - pulled).count(), 5000);
}

}  // namespace
}  // namespace torvik::test

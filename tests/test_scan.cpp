// SPDX-License-Identifier: MIT
// The reader scan and the operations that follow the reader's ID, speed and
// output mode, on the in-process line with the simulated reader.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

const char* kKey = "\\Software\\KELDO\\ReaderConfig";

void Store(Harness& h, int port, const std::string& settings, int index) {
    h.store.keys[kKey]["ScanCommNo"] = {app::ValueType::Dword, static_cast<uint32_t>(port), {}};
    h.store.keys[kKey]["ScanBaudRate"] = {app::ValueType::String, 0, settings};
    h.store.keys[kKey]["ScanBaudRateNo"] = {
        app::ValueType::Dword, static_cast<uint32_t>(index), {}};
}

std::vector<std::pair<int, std::string>> Opens(const Harness& h) {
    std::vector<std::pair<int, std::string>> out;
    for (const auto& o : h.line.opens) out.emplace_back(o.port, o.settings);
    return out;
}

TEST(Scan, SweepWithoutStoredPortStartsAtCom1LowestSpeed) {
    Harness h;
    h.line.set_port(1, doubles::FakeLine::PortKind::Silent);
    h.start();
    h.form.chkLock.set_checked(false);
    h.form.press(h.form.btnScan);
    ASSERT_GE(h.line.opens.size(), 2u);
    EXPECT_EQ(Opens(h)[0], std::make_pair(1, std::string("4800,n,8,1")));
    EXPECT_EQ(Opens(h)[1], std::make_pair(1, std::string("4800,e,8,1")));
    // 14 settings on COM1, COM2 absent (one failed open), then COM3 up to 19200,e.
    EXPECT_EQ(h.line.opens.size(), 14u + 1u + 6u + 1u);  // + the details opening
    EXPECT_TRUE(h.form.state.reader_found);
    EXPECT_EQ(h.form.state.link.port, 3);
    EXPECT_EQ(h.form.state.link.index, 5);
    // Found by sweeping: saved with port, string and index.
    auto saved = h.store.get(kKey, "ScanBaudRate");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->data, "19200,e,8,1");
    EXPECT_EQ(h.store.get(kKey, "ScanCommNo")->dword, 3u);
    EXPECT_EQ(h.store.get(kKey, "ScanBaudRateNo")->dword, 5u);
}

TEST(Scan, LockedSweepSendsOnlyStoredSettingsTwicePerPort) {
    Harness h;
    for (int p : {1, 2}) h.line.set_port(p, doubles::FakeLine::PortKind::Silent);
    h.line.set_port(3, doubles::FakeLine::PortKind::Absent);
    h.start();
    ASSERT_TRUE(h.form.chkLock.checked());
    h.form.press(h.form.btnScan);
    EXPECT_FALSE(h.form.state.reader_found);
    // Port 0 stored: no first try; COM1 and COM2 open once each with the
    // stored string, every other port fails to open and costs no exchange.
    EXPECT_EQ(Opens(h), (std::vector<std::pair<int, std::string>>{{1, "19200,e,8,1"},
                                                                  {2, "19200,e,8,1"},
                                                                  {3, "19200,e,8,1"},
                                                                  {4, "19200,e,8,1"},
                                                                  {5, "19200,e,8,1"},
                                                                  {6, "19200,e,8,1"},
                                                                  {7, "19200,e,8,1"},
                                                                  {8, "19200,e,8,1"},
                                                                  {9, "19200,e,8,1"},
                                                                  {10, "19200,e,8,1"},
                                                                  {11, "19200,e,8,1"},
                                                                  {12, "19200,e,8,1"},
                                                                  {13, "19200,e,8,1"},
                                                                  {14, "19200,e,8,1"},
                                                                  {15, "19200,e,8,1"},
                                                                  {16, "19200,e,8,1"}}));
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00B", "I00B", "I00B"}));
    EXPECT_EQ(h.form.pnMsg.caption(), "Reader Not Find");
    EXPECT_EQ(h.form.cmbBaudRate.index(), 5);
    EXPECT_EQ(h.form.shComm.color(), app::kRed);
    EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{300});
    EXPECT_TRUE(h.form.window_enabled());
    EXPECT_FALSE(h.form.tmrBusy.enabled());
    EXPECT_FALSE(h.form.cursor_busy());
    EXPECT_FALSE(h.line.is_open());
    EXPECT_EQ(h.store.writes, 0);
}

TEST(Scan, ReaderOnCom16FoundAndNothingAbove) {
    Harness h;
    h.line.set_port(3, doubles::FakeLine::PortKind::Absent);
    h.line.attach(16, h.reader);
    h.start();
    h.form.press(h.form.btnScan);
    EXPECT_TRUE(h.form.state.reader_found);
    EXPECT_EQ(h.form.state.link.port, 16);
    for (const auto& o : h.line.opens) EXPECT_LE(o.port, 16);
    EXPECT_EQ(h.form.pnMsg.caption(), "Get Reader Info Ok. (COM : #16)");
}

TEST(Scan, StoredSettingsAnswerAtOnceWithoutSaving) {
    Harness h;
    Store(h, 3, "19200,e,8,1", 5);
    h.reader.id = 7;
    h.reader.serial = "87654321";
    h.reader.mode = 1;
    h.reader.wiegand = 2;
    h.reader.rs485 = 0;
    h.start();
    const int writes_before = h.store.writes;
    h.form.press(h.form.btnScan);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00V", "I00A"}));
    EXPECT_EQ(h.store.writes, writes_before);
    EXPECT_EQ(h.form.pnSerial.caption(), "S/N : 87654321");
    EXPECT_EQ(h.form.pnID.caption(), "07");
    EXPECT_EQ(h.form.sbID.position(), 7);
    EXPECT_EQ(h.form.pnVersion.caption(), "VER : 04.01-01");
    EXPECT_EQ(h.form.cmbMode.index(), 1);
    EXPECT_EQ(h.form.cmbWiegand.index(), 2);
    EXPECT_EQ(h.form.cmbRS485.index(), 0);
    EXPECT_EQ(h.form.pnMsg.caption(), "Get Reader Info Ok. (COM : #3)");
    EXPECT_EQ(h.form.shComm.color(), app::kYellow);
    EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{1000});
    EXPECT_TRUE(h.form.window_enabled());
    EXPECT_FALSE(h.form.cursor_busy());
}

TEST(Scan, FailedModeQueryAfterGoodVersionIsNotRetried) {
    Harness h;
    Store(h, 3, "19200,e,8,1", 5);
    h.reader.faults.refuse = {"I00A"};
    h.start();
    h.form.cmbMode.set_index(1);
    h.form.press(h.form.btnScan);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00V", "I00A"}));
    EXPECT_EQ(h.form.pnVersion.caption(), "VER : 04.01-01");
    EXPECT_EQ(h.form.pnMsg.caption(), "Get Reader Info Error. (COM : #3)");
    EXPECT_EQ(h.form.cmbMode.index(), 1);
    EXPECT_FALSE(h.form.state.reader_found);
    EXPECT_EQ(h.form.pnSerial.caption(), "S/N : 12345678");
    EXPECT_EQ(h.form.shComm.color(), app::kRed);
    EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{300});
}

TEST(Scan, PresenceRepliesOfWrongLengthCountAsNoAnswer) {
    for (int length : {15, 17}) {
        Harness h;
        Store(h, 3, "19200,e,8,1", 5);
        h.reader.faults.presence_length = length;
        h.start();
        h.form.press(h.form.btnScan);
        EXPECT_FALSE(h.form.state.reader_found) << length;
        EXPECT_EQ(h.form.pnMsg.caption(), "Reader Not Find") << length;
    }
}

TEST(Scan, OddReplyFieldsLeaveSelectorsWithoutSelection) {
    Harness h;
    Store(h, 3, "19200,e,8,1", 5);
    h.reader.mode = 7;  // outside the list
    h.start();
    h.form.press(h.form.btnScan);
    EXPECT_TRUE(h.form.state.reader_found);
    EXPECT_EQ(h.form.cmbMode.index(), -1);
}

TEST(Scan, BlinkerAlternatesWhileWaitingAndPhaseIsNeverReset) {
    Harness h;
    for (int p = 1; p <= 3; ++p) h.line.set_port(p, doubles::FakeLine::PortKind::Silent);
    h.start();
    auto blinks = [&h] {
        std::vector<std::pair<app::Rgb, uint64_t>> out;
        for (const auto& c : h.colors) {
            if (c.control == "shComm") out.emplace_back(c.color, c.at_us);
        }
        h.colors.clear();
        return out;
    };
    h.form.press(h.form.btnScan);  // three silent ports, two presence checks each
    auto first = blinks();
    ASSERT_GE(first.size(), 5u);
    first.pop_back();  // the outcome colour
    for (size_t i = 1; i < first.size(); ++i) {
        EXPECT_NE(first[i].first, first[i - 1].first) << i;
        EXPECT_GE(first[i].second - first[i - 1].second, 200000u) << i;
    }
    EXPECT_EQ(h.form.shComm.color(), app::kRed);
    // The next busy period goes on with the phase where the last one stopped.
    const app::Rgb last_tick = first.back().first;
    const uint64_t second_start = h.clock.now_us();
    h.form.press(h.form.btnScan);
    auto second = blinks();
    ASSERT_GE(second.size(), 2u);
    // The outcome left shComm red. After a red tick the next tick turns it
    // yellow at once; after a yellow tick the next one repeats red (no
    // visible change) and yellow comes one period later.
    EXPECT_EQ(second.front().first, app::kYellow);
    const uint64_t first_change_ms = (second.front().second - second_start) / 1000;
    if (last_tick == app::kRed) {
        EXPECT_LT(first_change_ms, 400u);
    } else {
        EXPECT_GE(first_change_ms, 400u);
    }
}

TEST(Scan, EveryOperationRefusedBeforeAScanOpensNoPort) {
    Harness h;
    h.start();
    struct Case {
        app::Control* button;
        bool live;
    };
    app::TfrmModule& f = h.form;
    for (auto* b :
         {&f.btnID, &f.btnBaudRate, &f.btnMode, &f.btnCardType, &f.btnFacility, &f.btnAdd,
          &f.btnDel, &f.btnFactory, &f.btnStand, &f.btnAddCard, &f.btnGetCard, &f.btnGetTemplate,
          &f.btnPutTemplate, &f.btnCRCmd, &f.btnReadCard, &f.btnEncode}) {
        h.beeper.beeps.clear();
        f.shComm.set_color(app::kYellow);
        f.press(*b);
        EXPECT_EQ(f.pnMsg.caption(), "Start Scan Reader!") << b->name();
        EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{300}) << b->name();
        const bool live = b == &f.btnReadCard || b == &f.btnEncode;
        EXPECT_EQ(f.shComm.color(), live ? app::kYellow : app::kRed) << b->name();
        EXPECT_TRUE(f.window_enabled());
    }
    EXPECT_TRUE(h.line.opens.empty());
}

TEST(LinkOps, SetIdSendsSerialAndChosenId) {
    Harness h;
    h.start_and_scan();
    h.form.user_set_position(h.form.sbID, 7);
    EXPECT_EQ(h.form.pnID.caption(), "07");
    h.form.press(h.form.btnID);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00C1234567807"}));
    EXPECT_EQ(h.form.pnMsg.caption(), "Set ID Ok");
    EXPECT_EQ(h.reader.id, 7);
}

TEST(LinkOps, SetBaudRateFollowsTheReaderInMemoryOnly) {
    Harness h;
    h.start_and_scan();
    const int writes = h.store.writes;
    h.form.user_set_index(h.form.cmbBaudRate, 11);
    h.form.press(h.form.btnBaudRate);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00EB"}));
    EXPECT_EQ(h.form.pnMsg.caption(), "Set &BaudRate Ok");
    EXPECT_EQ(h.form.state.link.settings, "115200,e,8,1");
    EXPECT_EQ(h.store.writes, writes);
    h.form.press(h.form.btnCardType);
    EXPECT_EQ(h.line.opens.back().settings, "115200,e,8,1");
    EXPECT_EQ(h.form.pnMsg.caption(), "Set Card Type Ok");
}

TEST(LinkOps, BaudCodes) {
    const char* codes[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "12", "13"};
    for (int i = 0; i < 14; ++i) EXPECT_EQ(link::BaudCode(i), codes[i]);
    EXPECT_EQ(link::BaudCode(-1), "");
    EXPECT_EQ(link::BaudCode(20), "");
}

TEST(LinkOps, SetBaudRateWithoutSelectionSendsNothingAndFails) {
    Harness h;
    h.start_and_scan();
    h.form.cmbBaudRate.set_index(-1);
    h.form.press(h.form.btnBaudRate);
    EXPECT_TRUE(h.payloads().empty());
    EXPECT_EQ(h.form.pnMsg.caption(), "Set &BaudRate Error");
    EXPECT_EQ(h.form.state.link.settings, "19200,e,8,1");
}

TEST(LinkOps, ModePayloadsAndStatusText) {
    struct Case {
        int mode, wiegand, rs485;
        const char* payload;
        const char* status;
        const char* outcome;
    } cases[] = {
        {0, 0, 1, "I00A001", "Set &Mode = Wiegand 26", "Set Mode Ok"},
        {1, 2, 0, "I00A120", "Set &Mode = RS485 24", "Set Mode Ok"},
        // A list without a selection sends "-1", which the reader refuses.
        {0, -1, 1, "I00A0-11", "Set &Mode = ", "Set Mode Error"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.start_and_scan();
        h.form.cmbMode.set_index(c.mode);
        h.form.cmbWiegand.set_index(c.wiegand);
        h.form.cmbRS485.set_index(c.rs485);
        std::string status;
        h.form.observer = [&](app::Control& ctl, app::Prop p) {
            if (&ctl == &h.form.pnMsg && p == app::Prop::Caption && status.empty())
                status = ctl.caption();
        };
        h.form.press(h.form.btnMode);
        EXPECT_EQ(h.payloads().back(), c.payload);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(h.form.pnMsg.caption(), c.outcome);
    }
}

TEST(LinkOps, FailedCommandRepeatsPresenceAndCommandOnce) {
    Harness h;
    h.start_and_scan();
    h.reader.faults.refuse = {"I00S"};
    h.form.press(h.form.btnCardType);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00S0", "I00B", "I00S0"}));
    EXPECT_EQ(h.form.pnMsg.caption(), "Set Card Type Error");
    EXPECT_EQ(h.line.closes, 1 + 2);  // scan (first try and details) + this one
}

}  // namespace
}  // namespace torvik::test

namespace torvik::test {
namespace {

TEST(Scan, SweepFindsReaderAtAnotherSpeedAndStoresIt) {
    Harness h;
    h.reader.line = {38400, 'e'};
    h.start();
    h.form.user_set_checked(h.form.chkLock, false);
    h.form.press(h.form.btnScan);
    ASSERT_TRUE(h.form.state.reader_found);
    const char* key = "\\Software\\KELDO\\ReaderConfig";
    EXPECT_EQ(h.store.get(key, "ScanCommNo")->dword, 3u);
    EXPECT_EQ(h.store.get(key, "ScanBaudRateNo")->dword, 7u);
    EXPECT_EQ(h.store.get(key, "ScanBaudRate")->data, "38400,e,8,1");
    EXPECT_EQ(h.store.get(key, "ScanBaudRate")->type, app::ValueType::String);
    EXPECT_EQ(h.form.cmbBaudRate.selected_text(), "38400,e,8,1");

    // The next start finds it at once and stores nothing more.
    Harness again;
    again.reader.line = {38400, 'e'};
    again.store.keys = h.store.keys;
    again.start();
    const int writes = again.store.writes;
    again.form.press(again.form.btnScan);
    EXPECT_TRUE(again.form.state.reader_found);
    EXPECT_EQ(again.line.opens.front().settings, "38400,e,8,1");
    EXPECT_EQ(again.store.writes, writes);
}

TEST(Window, FormShowEnglishCaptions) {
    Harness h;
    h.start();
    app::TfrmModule& f = h.form;
    const std::pair<app::Control*, const char*> expected[] = {
        {&f.frmModule, "KELDO TORVIK Reader Config V4.01-01"},
        {&f.pnKELDO, "KELDO Technology Corp.   www.keldo.example"},
        {&f.pnMsg, "Start Scan Reader!"},
        {&f.pnSerial, "S/N : ________"},
        {&f.pnVersion, "VER : __.__-__"},
        {&f.lblID, "ID:"},
        {&f.lblBaudRate, "BaudRate:"},
        {&f.pnCardID, "ID"},
        {&f.btnScan, "Scan Reader"},
        {&f.btnID, "Set &ID"},
        {&f.btnBaudRate, "Set Baud Rate (Reset)"},
        {&f.btnMode, "Set Wiegand/RS485 Mode"},
        {&f.btnCardType, "Set Card &Type"},
        {&f.btnReadCard, "Read &ID (Change to RS485 Mode)"},
        {&f.btnFactory, "Factory Default 10-50 Sec"},
        {&f.btnStand, "Stand &Alone Mode"},
        {&f.btnStandDefault, "&Stand Alone Default 10-50 Sec"},
        {&f.btnExit, "Exit"},
        {&f.btnAdd, "&Add FingerPrint"},
        {&f.btnDel, "&Del FingerPrint"},
        {&f.lblFingerNo, "Finger No:"},
        {&f.btnDoor, "Door Open Time"},
        {&f.btnAlarm, "Alarm Time"},
        {&f.btnSetCard, "Set 'Master Card'"},
        {&f.btnClrCard, "Set 'Clear Card'"},
        {&f.btnDuress, "Set 'Duress Card'"},
        {&f.btnFacility, "Set &Facility Code"},
        // Captions no language changes.
        {&f.btnEng, "English"},
        {&f.btnEncode, "ID"},
        {&f.btnAddCard, "Add Card ID"},
        {&f.btnCRCmd, "CR Test"},
        {&f.lblCard, "Card No :"},
    };
    for (const auto& [control, caption] : expected)
        EXPECT_EQ(control->caption(), caption) << control->name();
}

TEST(Window, StoredLanguageShownFromTheFirstShow) {
    Harness h;
    h.store.keys["\\Software\\KELDO\\ReaderConfig"]["LanguageFlag"] = {app::ValueType::String, 0,
                                                                       "ChineseBIG5"};
    h.start();
    EXPECT_EQ(h.form.frmModule.caption(), "KELDO TORVIK 讀卡機設定程式 V4.01-01");
    EXPECT_EQ(h.form.btnAdd.caption(), "增加指紋(&A)");
}

}  // namespace
}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// The one-shot operations over the common pattern: fingerprints, templates,
// facility code, card slots, raw command, defaults and stand-alone settings,
// and the window's conventions (outcomes, idle after an error).
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/text.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

struct Ops : ::testing::Test {
    Harness h;
    void SetUp() override { h.start_and_scan(); }
    // Sum of the virtual time spent in plain sleeps between frames is hard to
    // isolate; instead measure gaps between the end of one frame's reply and
    // the next frame.
    std::vector<uint64_t> FrameTimesMs() const {
        std::vector<uint64_t> t;
        for (const auto& f : h.line.frames) t.push_back(f.at_us / 1000);
        return t;
    }
};

TEST_F(Ops, OneShotPayloadsAndOutcomes) {
    struct Case {
        const char* name;
        std::function<void(app::TfrmModule&)> setup;
        app::Control app::TfrmModule::*button;
        std::vector<std::string> payloads;
        const char* ok;
    } cases[] = {
        {"enrol finger 0",
         [](auto& f) { f.user_set_position(f.sbFingerNo, 0); },
         &app::TfrmModule::btnAdd,
         {"I00B", "I00M000000"},
         "Add FingerPrint Start."},
        {"delete finger 1000",
         [](auto& f) { f.user_set_position(f.sbFingerNo, 1000); },
         &app::TfrmModule::btnDel,
         {"I00B", "I00N001000"},
         "Del FingerPrint Ok."},
        {"facility 123",
         [](auto& f) { f.user_set_position(f.sbFacility, 123); },
         &app::TfrmModule::btnFacility,
         {"I00B", "I00K00123"},
         "Set Facility Code Ok."},
        {"facility 65535",
         [](auto& f) { f.user_set_position(f.sbFacility, 70000); },
         &app::TfrmModule::btnFacility,
         {"I00B", "I00K65535"},
         "Set Facility Code Ok."},
        {"card type",
         [](auto& f) { f.user_set_index(f.cmbCardType, 1); },
         &app::TfrmModule::btnCardType,
         {"I00B", "I00S1"},
         "Set Card Type Ok"},
        {"stand-alone mode",
         [](auto&) {},
         &app::TfrmModule::btnStand,
         {"I00B", "I00R01"},
         "Stand Alone Mode Ok"},
        {"add card",
         [](auto&) {},
         &app::TfrmModule::btnAddCard,
         {"001AS", "001AS"},
         "Test Command Ok"},
        {"raw command", [](auto&) {}, &app::TfrmModule::btnCRCmd, {"001AB"}, "Test Command Ok"},
    };
    for (const auto& c : cases) {
        Harness r;
        r.start_and_scan();
        c.setup(r.form);
        r.form.press(r.form.*c.button);
        EXPECT_EQ(r.payloads(), c.payloads) << c.name;
        EXPECT_EQ(r.form.pnMsg.caption(), c.ok) << c.name;
        EXPECT_EQ(r.form.shComm.color(), app::kYellow) << c.name;
        EXPECT_EQ(r.beep_tones(), std::vector<unsigned>{1000}) << c.name;
        EXPECT_TRUE(r.form.window_enabled()) << c.name;
        EXPECT_FALSE(r.form.cursor_busy()) << c.name;
        EXPECT_FALSE(r.line.is_open()) << c.name;
    }
}

TEST_F(Ops, PresenceRepliesOfWrongLengthFailTheTry) {
    for (int length : {15, 17}) {
        Harness r;
        r.start_and_scan();
        r.reader.faults.presence_length = length;
        r.form.press(r.form.btnFacility);
        EXPECT_EQ(r.payloads(), (std::vector<std::string>{"I00B", "I00B"})) << length;
        EXPECT_EQ(r.form.pnMsg.caption(), "Set Facility Code Error!");
        EXPECT_EQ(r.beep_tones(), std::vector<unsigned>{300});
    }
}

TEST_F(Ops, PortThatCannotOpenFailsWithoutSending) {
    h.line.set_port(3, doubles::FakeLine::PortKind::Busy);
    h.form.press(h.form.btnAdd);
    EXPECT_TRUE(h.payloads().empty());
    EXPECT_EQ(h.form.pnMsg.caption(), "Add FingerPrint Error!");
    EXPECT_EQ(h.line.closes, 2);  // only the scan's two openings were closed
}

TEST_F(Ops, TemplateReadFillsBoxesWithFixedWaits) {
    const uint64_t start = h.clock.now_us();
    h.form.press(h.form.btnGetTemplate);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00P0000010", "I00P0000011",
                                                      "I00P0000012", "I00P0000013"}));
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Ok");
    EXPECT_EQ(h.form.edF1.text().size(), 256u);
    EXPECT_EQ(h.form.edF2.text().size(), 256u);
    EXPECT_EQ(h.form.edF3.text().size(), 256u);
    // 2.4 s of fixed waits, five exchanges (three of them long replies) and the beep.
    const uint64_t ms = (h.clock.now_us() - start) / 1000;
    EXPECT_GE(ms, 2400u + 300u + 5 * 9u);
    EXPECT_LE(ms, 2400u + 300u + 5 * 9u + 2 * 20u + 3 * 160u);
}

TEST_F(Ops, TemplateRoundTripAndGetCardIsTheSameRead) {
    h.form.press(h.form.btnGetTemplate);
    const std::string slot1 = h.form.edF1.text() + h.form.edF2.text() + h.form.edF3.text();
    ASSERT_EQ(slot1.size(), 768u);
    h.form.user_set_position(h.form.sbFingerNo, 7);
    h.form.press(h.form.btnPutTemplate);
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Ok");
    h.form.edF1.set_text("");
    h.form.edF2.set_text("");
    h.form.edF3.set_text("");
    h.line.frames.clear();
    h.form.press(h.form.btnGetCard);
    EXPECT_EQ(h.payloads().front(), "I00B");
    EXPECT_EQ(h.payloads()[1], "I00P0000070");
    EXPECT_EQ(h.form.edF1.text() + h.form.edF2.text() + h.form.edF3.text(), slot1);
}

TEST_F(Ops, TemplateWritePiecesAndWaits) {
    h.form.edF1.set_text(std::string(256, 'A'));
    h.form.edF2.set_text("  ");
    h.form.edF3.set_text(std::string(256, '7'));
    h.form.press(h.form.btnPutTemplate);
    auto p = h.payloads();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[1], "I00P0000011" + std::string(256, 'A'));
    EXPECT_EQ(p[2], "I00P0000012");  // an empty box sends the read command's payload
    EXPECT_EQ(p[3], "I00P0000013" + std::string(256, '7'));
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Ok");
    const auto t = FrameTimesMs();
    EXPECT_GE(t[2] - t[1], 50u);
    EXPECT_LT(t[2] - t[1], 100u);

    // A box of another length is sent whole; the reader keeps only whole
    // pieces and does not answer, so both tries fail at that piece.
    h.form.edF3.set_text(std::string(300, '7'));
    h.line.frames.clear();
    h.form.press(h.form.btnPutTemplate);
    p = h.payloads();
    ASSERT_EQ(p.size(), 8u);
    EXPECT_EQ(p[3], "I00P0000013" + std::string(300, '7'));
    EXPECT_EQ(p[7], p[3]);
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Error");
    EXPECT_EQ(h.reader.templates.at(1)[2], std::string(256, '7'));
}

TEST_F(Ops, TemplateReadKeepsArrivedPiecesWhenPieceThreeIsRefused) {
    h.reader.faults.refuse = {"I00P0000013"};
    h.form.edF3.set_text("old");
    h.form.press(h.form.btnGetTemplate);
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Error");
    EXPECT_EQ(h.form.edF1.text().size(), 256u);
    EXPECT_EQ(h.form.edF2.text().size(), 256u);
    EXPECT_EQ(h.form.edF3.text(), "old");
    // A failed try starts again with the presence check and the prepare command.
    const auto p = h.payloads();
    EXPECT_EQ(std::count(p.begin(), p.end(), "I00P0000010"), 2);
}

TEST_F(Ops, TemplatePiecesArriveAtEverySpeed) {
    // A 264-byte piece takes about 300 ms on the wire at 9600 and 600 ms at
    // 4800, past the 200 ms budget: a reply still arriving gets its time,
    // and round trips whole.
    struct Case {
        const char* settings;
        int index;
        uint32_t baud;
        char parity;
    } cases[] = {{"4800,n,8,1", 0, 4800, 'n'}, {"9600,e,8,1", 3, 9600, 'e'}};
    for (const Case& c : cases) {
        Harness slow;
        slow.reader.line = {c.baud, c.parity};
        auto& key = slow.store.keys["\\Software\\KELDO\\ReaderConfig"];
        key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
        key["ScanBaudRate"] = {app::ValueType::String, 0, c.settings};
        key["ScanBaudRateNo"] = {app::ValueType::Dword, static_cast<uint32_t>(c.index), {}};
        slow.start();
        slow.form.press(slow.form.btnScan);
        ASSERT_TRUE(slow.form.state.reader_found) << c.settings;
        slow.form.user_set_position(slow.form.sbFingerNo, 4);
        slow.form.press(slow.form.btnGetTemplate);
        EXPECT_EQ(slow.form.pnMsg.caption(), "Test Command Ok") << c.settings;
        EXPECT_EQ(app::BytesOfText(slow.form.edF3.text())->size(), 256u) << c.settings;
        slow.form.user_set_position(slow.form.sbFingerNo, 9);
        slow.form.press(slow.form.btnPutTemplate);
        EXPECT_EQ(slow.form.pnMsg.caption(), "Test Command Ok") << c.settings;
        ASSERT_EQ(slow.reader.templates.count(9), 1u) << c.settings;
        EXPECT_EQ(slow.reader.templates[9][2], *app::BytesOfText(slow.form.edF3.text()));
    }
}

TEST_F(Ops, AddCardNeedsATwentyByteFirstReply) {
    // The reader's reply to "001AS" is 20 bytes; anything else fails the try
    // without the second sending.
    h.form.press(h.form.btnAddCard);
    EXPECT_EQ(h.payloads(), (std::vector<std::string>{"001AS", "001AS"}));
    Harness r;
    r.start_and_scan();
    r.reader.faults.presence_length = 16;
    r.reader.faults.drop_next = 1;
    r.form.press(r.form.btnAddCard);
    EXPECT_EQ(r.payloads(), (std::vector<std::string>{"001AS", "001AS", "001AS"}));
}

TEST_F(Ops, RawCommandShowsReplyBetweenPositionSevenAndTheEot) {
    h.form.user_set_text(h.form.edCRCmd, std::string(40, 'Q') + "extra");
    EXPECT_EQ(h.form.edCRCmd.text().size(), 40u);
    h.form.press(h.form.btnCRCmd);
    ASSERT_EQ(h.payloads().size(), 1u);
    EXPECT_EQ(h.payloads()[0].size(), 43u);
    const int length = h.form.link.receive_count();
    EXPECT_EQ(h.form.edCRRev.text().size(), static_cast<size_t>(length - 11));
    EXPECT_EQ(h.form.edCRRev.text().back(), '\x04');

    // A failed test leaves the answer and is sent once.
    const std::string before = h.form.edCRRev.text();
    h.reader.faults.drop_replies = true;
    h.line.frames.clear();
    h.form.press(h.form.btnCRCmd);
    EXPECT_EQ(h.payloads().size(), 1u);
    EXPECT_EQ(h.form.edCRRev.text(), before);
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Error");
}

TEST_F(Ops, StandAloneSettingPayloads) {
    struct Case {
        app::Control app::TfrmModule::*button;
        const char* door;
        const char* payload;
        bool accepted = true;
    } cases[] = {
        {&app::TfrmModule::btnDoor, "0005", "I00R10005"},
        {&app::TfrmModule::btnDoor, "12", "I00R112"},
        // No time at all: the reader does not answer, and the try is repeated.
        {&app::TfrmModule::btnDoor, "", "I00R1", false},
        {&app::TfrmModule::btnAlarm, "0005", "I00R20030"},
        {&app::TfrmModule::btnSetCard, "", "I00R3"},
        {&app::TfrmModule::btnDuress, "", "I00R4"},
        {&app::TfrmModule::btnClrCard, "", "I00R5"},
    };
    for (const auto& c : cases) {
        Harness r;
        r.start_and_scan();
        r.form.press(r.form.btnStand);
        ASSERT_TRUE(r.form.btnDoor.visible());
        r.form.user_set_text(r.form.edDoor, c.door);
        r.line.frames.clear();
        r.form.press(r.form.*c.button);
        if (c.accepted) {
            EXPECT_EQ(r.payloads(), (std::vector<std::string>{"I00B", c.payload}));
            EXPECT_EQ(r.form.pnMsg.caption(), "Command Ok");
        } else {
            EXPECT_EQ(r.payloads(),
                      (std::vector<std::string>{"I00B", c.payload, "I00B", c.payload}));
            EXPECT_EQ(r.form.pnMsg.caption(), "Command Error");
        }
    }
}

TEST_F(Ops, StandAloneControlsVisibility) {
    app::TfrmModule& f = h.form;
    EXPECT_FALSE(f.btnDoor.visible());
    f.press(f.btnDoor);  // hidden: no reaction
    EXPECT_TRUE(h.payloads().empty());
    h.reader.faults.drop_replies = true;
    f.press(f.btnStand);
    EXPECT_FALSE(f.btnStandDefault.visible());
    h.reader.faults.drop_replies = false;
    f.press(f.btnStand);
    EXPECT_TRUE(f.btnStandDefault.visible());
    h.reader.silence_after_reset_ms = 0;
    f.press(f.btnStandDefault);
    EXPECT_EQ(f.pnMsg.caption(), "Stand Alone Default Ok");
    EXPECT_TRUE(f.btnStandDefault.visible());
    f.press(f.btnFactory);
    EXPECT_EQ(f.pnMsg.caption(), "Set Default Ok");
    EXPECT_FALSE(f.btnStandDefault.visible());
    EXPECT_FALSE(f.edDoor.visible());
}

TEST_F(Ops, FactoryDefaultSequenceAndWaits) {
    h.reader.silence_after_reset_ms = 0;
    h.form.user_set_position(h.form.sbID, 9);
    h.form.user_set_position(h.form.sbFacility, 5);
    const uint64_t start = h.clock.now_us();
    h.form.press(h.form.btnFactory);
    EXPECT_EQ(h.payloads(),
              (std::vector<std::string>{"I00B", "I00C1234567801", "I00A001", "I00R00", "I00K00000",
                                        "I00K7A1C3E5B9D2F4860", "I00R6", "I00B", "I00E5"}));
    const uint64_t ms = (h.clock.now_us() - start) / 1000;
    // 1.2 s of fixed waits, nine short exchanges, the outcome beep.
    EXPECT_GE(ms, 1200u + 300u + 9 * 9u);
    EXPECT_LE(ms, 1200u + 300u + 9 * 9u + 9 * 25u);
    EXPECT_EQ(h.form.pnID.caption(), "01");
    EXPECT_EQ(h.form.pnFacility.caption(), "00000");
    EXPECT_EQ(h.form.cmbBaudRate.index(), 5);
    EXPECT_EQ(h.form.shComm.color(), app::kYellow);
    EXPECT_FALSE(h.form.tmrBusy.enabled());
}

TEST_F(Ops, StandAloneDefaultSequence) {
    h.reader.silence_after_reset_ms = 0;
    h.form.user_set_index(h.form.cmbCardType, 2);
    h.form.user_set_text(h.form.edDoor, "9");
    const uint64_t start = h.clock.now_us();
    h.form.press(h.form.btnStandDefault);  // hidden: nothing happens
    EXPECT_TRUE(h.payloads().empty());
    h.form.btnStandDefault.set_visible(true);
    h.form.press(h.form.btnStandDefault);
    EXPECT_EQ(h.payloads(),
              (std::vector<std::string>{"I00B", "I00C1234567801", "I00A001", "I00S0", "I00R10005",
                                        "I00R20030", "I00K00000", "I00K7A1C3E5B9D2F4860", "I00R6",
                                        "I00B", "I00E5"}));
    const uint64_t ms = (h.clock.now_us() - start) / 1000;
    EXPECT_GE(ms, 1400u + 300u + 11 * 9u);
    EXPECT_LE(ms, 1400u + 300u + 11 * 9u + 11 * 25u);
    EXPECT_EQ(h.form.cmbCardType.index(), 0);
    EXPECT_EQ(h.form.edDoor.text(), "0005");
    EXPECT_EQ(h.form.edAlarm.text(), "0030");
}

TEST_F(Ops, AnswerPollGivesUpAfterOneHundredFiftyPollsPerTry) {
    h.reader.silence_after_reset_ms = UINT32_MAX;
    h.form.press(h.form.btnFactory);
    const auto p = h.payloads();
    // Two tries: each sends the sequence, 150 polls and "I00E5" (unanswered).
    EXPECT_EQ(std::count(p.begin(), p.end(), "I00E5"),
              1);  // the second try stops at its presence check
    int polls = 0, short_beeps = 0;
    bool after_r6 = false;
    for (const auto& s : p) {
        if (s == "I00R6")
            after_r6 = true;
        else if (s == "I00B" && after_r6)
            ++polls;
        else if (s == "I00E5")
            after_r6 = false;
    }
    for (const auto& b : h.beeper.beeps) short_beeps += b.ms == 50 ? 1 : 0;
    EXPECT_EQ(polls, 150);
    EXPECT_EQ(short_beeps, 150);
    EXPECT_EQ(h.form.pnMsg.caption(), "Set Default Error");
}

TEST_F(Ops, UnevaluatedCommandsDoNotStopTheSequence) {
    h.reader.silence_after_reset_ms = 0;
    h.reader.faults.refuse = {"I00R00", "I00K"};
    h.form.press(h.form.btnFactory);
    EXPECT_EQ(h.form.pnMsg.caption(), "Set Default Ok");
    Harness r;
    r.start_and_scan();
    r.reader.faults.refuse = {"I00A001"};
    r.form.press(r.form.btnFactory);
    EXPECT_EQ(r.payloads(), (std::vector<std::string>{"I00B", "I00C1234567801", "I00A001", "I00B",
                                                      "I00C1234567801", "I00A001"}));
    EXPECT_EQ(r.form.pnMsg.caption(), "Set Default Error");
}

TEST_F(Ops, ScrollBarAtItsPositionRaisesNoChange) {
    // The scan wrote the reader's own ID characters; a default that sets the
    // bar to the position it has leaves them.
    h.form.pnID.set_caption("1 ");
    h.reader.silence_after_reset_ms = 0;
    ASSERT_EQ(h.form.sbID.position(), 1);
    h.form.press(h.form.btnFactory);
    EXPECT_EQ(h.form.pnID.caption(), "1 ");
}

TEST(Window, InitialStateAndFirstShow) {
    Harness h;
    h.start();
    app::TfrmModule& f = h.form;
    EXPECT_EQ(f.frmModule.caption(), "KELDO TORVIK Reader Config V4.01-01");
    EXPECT_EQ(f.pnMsg.caption(), "Start Scan Reader!");
    EXPECT_EQ(f.cmbBaudRate.selected_text(), "19200,e,8,1");
    EXPECT_EQ(f.shComm.color(), app::kRed);
    EXPECT_EQ(f.pnID.caption(), "__");
    EXPECT_EQ(f.lblID.caption(), "ID:");
    EXPECT_EQ(f.btnScan.caption(), "Scan Reader");
    EXPECT_EQ(f.edF1.text(), std::string(255, '0'));
    EXPECT_TRUE(f.chkLock.checked());
    EXPECT_TRUE(f.close_command_removed());
    EXPECT_FALSE(f.state.reader_found);
    EXPECT_FALSE(f.btnDoor.visible());
    EXPECT_EQ(f.sbFingerNo.min(), 0);
}

TEST(Window, OutOfRangeStoredIndexLeavesNoSelection) {
    Harness h;
    h.store.keys["\\Software\\KELDO\\ReaderConfig"]["ScanBaudRateNo"] = {
        app::ValueType::Dword, 20, {}};
    h.start();
    EXPECT_EQ(h.form.cmbBaudRate.index(), -1);
}

TEST(Window, ErrorInAHandlerIsShownAndTheWindowReturnsToIdle) {
    Harness h;
    h.start_and_scan();
    h.form.btnID.on_event = [&h] {
        h.form.SetCursorBusy(true);
        h.form.SetBusy(true);
        h.form.port.OpenPort(3, "19200,e,8,1");
        throw std::runtime_error("boom");
    };
    h.form.press(h.form.btnID);
    EXPECT_EQ(h.errors.shown, std::vector<std::string>{"boom"});
    EXPECT_TRUE(h.form.window_enabled());
    EXPECT_FALSE(h.form.tmrBusy.enabled());
    EXPECT_FALSE(h.form.cursor_busy());
    EXPECT_FALSE(h.line.is_open());
}

TEST(Window, EditLimitsCountCharacters) {
    Harness h;
    h.start();
    struct Case {
        std::string typed;
        std::string kept;
    } cases[] = {
        {std::string(12, '7'), std::string(10, '7')},
        {"12345678\u00e4\u00f6\u00fc", "12345678\u00e4\u00f6"},  // two bytes each
        // Characters without a one-byte code cannot go on the wire: refused
        // whole, the edit keeps what it had.
        {"\u8bfb\u5361\u673a", "12345678\u00e4\u00f6"},
    };
    for (const auto& c : cases) {
        h.form.user_set_text(h.form.edCard, c.typed);
        EXPECT_EQ(h.form.edCard.text(), c.kept);
    }
}

TEST(Window, DisabledWindowIgnoresPresses) {
    Harness h;
    h.start_and_scan();
    h.form.frmModule.set_enabled(false);
    h.form.press(h.form.btnID);
    EXPECT_TRUE(h.payloads().empty());
}

TEST(Window, LanguageSwitchStoresAndRewritesCaptions) {
    Harness h;
    h.start_and_scan();
    ASSERT_TRUE(h.form.state.reader_found);
    h.form.press(h.form.btnGB);
    EXPECT_EQ(h.form.frmModule.caption(), "KELDO TORVIK 读卡机设定程式 V4.01-01");
    EXPECT_EQ(h.form.pnMsg.caption(), "请先扫描读卡机!");
    EXPECT_EQ(h.store.get("\\Software\\KELDO\\ReaderConfig", "LanguageFlag")->data, "ChineseGB");
    EXPECT_TRUE(h.form.state.reader_found);
    h.form.press(h.form.btnBIG5);
    EXPECT_EQ(h.form.pnSerial.caption(), "序號 : ________");
    h.form.press(h.form.btnEng);
    EXPECT_EQ(h.form.pnMsg.caption(), "Start Scan Reader!");
    EXPECT_EQ(h.form.pnVersion.caption(), "VER : __.__-__");
    EXPECT_EQ(h.form.btnEncode.caption(), "ID");
    EXPECT_EQ(h.store.get("\\Software\\KELDO\\ReaderConfig", "LanguageFlag")->data, "English");
}

// After either default the reader talks at 19200,e,8,1: the tool follows it
// in memory (so cmbBaudRate tells the truth) and leaves the stored speed.
TEST(DefaultSpeed, LaterOperationsGoOutAtTheDefaultSpeedWhileTheStoreKeepsItsOwn) {
    const char* key = "\\Software\\KELDO\\ReaderConfig";
    for (bool factory : {true, false}) {
        SCOPED_TRACE(factory ? "factory default" : "stand-alone default");
        Harness h;
        h.reader.line = {38400, 'e'};
        h.reader.silence_after_reset_ms = 0;
        h.store.keys[key]["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
        h.store.keys[key]["ScanBaudRate"] = {app::ValueType::String, 0, "38400,e,8,1"};
        h.store.keys[key]["ScanBaudRateNo"] = {app::ValueType::Dword, 7, {}};
        h.start();
        h.form.press(h.form.btnScan);
        ASSERT_TRUE(h.form.state.reader_found);
        if (!factory) h.form.btnStandDefault.set_visible(true);
        h.form.press(factory ? h.form.btnFactory : h.form.btnStandDefault);
        ASSERT_EQ(h.form.pnMsg.caption(), factory ? "Set Default Ok" : "Stand Alone Default Ok");
        EXPECT_EQ(h.reader.line, (sim::LineSettings{19200, 'e'}));
        EXPECT_EQ(h.form.state.link.settings, "19200,e,8,1");
        EXPECT_EQ(h.form.state.link.index, 5);
        EXPECT_EQ(h.form.cmbBaudRate.selected_text(), "19200,e,8,1");

        h.line.frames.clear();
        h.form.user_set_position(h.form.sbID, 7);
        h.form.press(h.form.btnID);
        EXPECT_EQ(h.form.pnMsg.caption(), "Set ID Ok");
        ASSERT_EQ(h.payloads(), (std::vector<std::string>{"I00B", "I00C1234567807"}));
        for (const auto& frame : h.line.frames) EXPECT_EQ(frame.settings, "19200,e,8,1");
        EXPECT_EQ(h.reader.id, 7);
        EXPECT_EQ(h.store.get(key, "ScanBaudRate")->data, "38400,e,8,1");
        EXPECT_EQ(h.store.get(key, "ScanBaudRateNo")->dword, 7u);
    }
}

}  // namespace
}  // namespace torvik::test

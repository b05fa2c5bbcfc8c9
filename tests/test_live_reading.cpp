// SPDX-License-Identifier: MIT
// The plain and the encoded live readings: poll loop, display, lamp, ends.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/harness.h"

namespace torvik::test {
namespace {

using Kind = sim::Identity::Kind;

TEST(LiveReading, HexTextValue) {
    struct Case {
        const char* text;
        size_t n;
        uint32_t value;
    } cases[] = {
        {"00BC614E", 8, 12345678u},    {"FFFFFFFF", 8, 0xFFFFFFFFu}, {"0000000a", 8, 0u},
        {"12", 8, 0x12000000u},         // positions beyond the text count as 0
        {"123456789", 9, 0x23456789u},  // wraps: only the last 8 digits survive
    };
    for (const auto& c : cases) EXPECT_EQ(link::HexTextValue(c.text, c.n), c.value) << c.text;
}

TEST(LiveReading, UnscramblingWithTheMask) {
    struct Case {
        const char* scrambled;
        const char* r;
    } cases[] = {
        {"60482F9D5B3E1C7A", "0000000000000000"},
        {"60482F9D5B827D34", "0000000000BC614E"},
        {"9FB7D062A4C1E385", "FFFFFFFFFFFFFFFF"},
        {"zz482F9D5B3E1C7A", "6000000000000000"},  // non-hex characters count as 0
        {"", "60482F9D5B3E1C7A"},                  // missing characters too
    };
    for (const auto& c : cases) EXPECT_EQ(link::UnscrambleId(c.scrambled), c.r) << c.scrambled;
}

struct Reading : ::testing::Test {
    Harness h;
    void SetUp() override { h.start_and_scan(); }
    // Stops the reading by a press at a virtual time.
    void StopAt(uint64_t ms, app::Control& toggle) {
        h.pump.at_ms(ms, [this, &toggle] { h.form.press(toggle); });
    }
    int Count(const std::string& payload) const {
        auto p = h.payloads();
        return static_cast<int>(std::count(p.begin(), p.end(), payload));
    }
};

TEST_F(Reading, PollRepliesShownAsTheyCome) {
    struct Case {
        const char* name;
        // The identity's fields rather than an Identity: GCC 12 at -O3 reports
        // a false -Wmaybe-uninitialized on the string inside a nested
        // aggregate when the array of cases is destroyed.
        Kind kind;
        uint32_t id;
        const char* key;
        bool none;  // the reader reports nothing (9-byte reply)
        std::string shown;
    } cases[] = {
        {"nothing", Kind::Card, 0, "", true, ""},
        {"card", Kind::Card, 0x00BC614E, "", false, "ID : 0012345678  00BC614E(H)"},
        {"all ones is a card number", Kind::Card, 0xFFFFFFFF, "", false,
         "ID : 4294967295  FFFFFFFF(H)"},
        {"finger", Kind::Finger, 5, "", false, "ID : 0000000005  00000005(H)"},
        {"key of 16 characters", Kind::Key, 0, "123456", false, "KEY : 123456"},
        {"key of exactly 10 characters", Kind::Key, 0, "", false, ""},
    };
    for (const auto& c : cases) {
        Harness r;
        r.start_and_scan();
        if (!c.none) r.reader.present({c.kind, c.id, c.key});
        std::vector<std::string> shown;
        r.form.observer = [&](app::Control& ctl, app::Prop p) {
            if (&ctl == &r.form.pnCardID && p == app::Prop::Caption) shown.push_back(ctl.caption());
            if (ctl.kind() == app::Kind::Timer && p == app::Prop::Enabled)
                r.pump.timer_changed(ctl);
            if (&ctl == &r.form.shCard && p == app::Prop::Color && ctl.color() == app::kYellow)
                shown.push_back("lamp");
        };
        r.pump.at_ms(r.clock.now_us() / 1000 + 150, [&r] { r.form.press(r.form.btnReadCard); });
        r.form.press(r.form.btnReadCard);
        std::vector<std::string> expected;
        if (!c.shown.empty()) expected.push_back(c.shown);
        if (!c.none) expected.push_back("lamp");
        if (!c.shown.empty()) expected.push_back("ID");  // put back at the end
        EXPECT_EQ(shown, expected) << c.name;
        EXPECT_EQ(r.form.pnDI.caption(), "0") << c.name;
        EXPECT_FALSE(r.form.state.reading) << c.name;
    }
}

TEST_F(Reading, StopPressDuringPassesGivesOneMorePollAndTheStoppedOutcome) {
    std::vector<std::string> shown;
    h.form.observer = [&](app::Control& ctl, app::Prop p) {
        if (&ctl == &h.form.pnCardID && p == app::Prop::Caption) shown.push_back(ctl.caption());
        if (ctl.kind() == app::Kind::Timer && p == app::Prop::Enabled) h.pump.timer_changed(ctl);
    };
    const uint64_t t0 = h.clock.now_us() / 1000;
    h.reader.present({Kind::Card, 0x00BC614E, ""});
    // The first poll goes out after 80 passes; press during the second cycle's passes.
    StopAt(t0 + 80 + 40 + 20, h.form.btnReadCard);
    // The last poll fails: stopped outcome all the same.
    h.pump.at_ms(t0 + 80 + 40 + 21, [this] { h.reader.faults.drop_replies = true; });
    h.form.press(h.form.btnReadCard);
    EXPECT_EQ(Count("I00F"), 2);
    EXPECT_EQ(h.form.shComm.color(), app::kYellow);
    EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{1000});
    EXPECT_EQ(shown, (std::vector<std::string>{"ID : 0012345678  00BC614E(H)", "ID"}));
    EXPECT_EQ(h.form.pnCardID.caption(), "ID");
    EXPECT_EQ(h.form.btnReadCard.caption(), "Read &ID (Change to RS485 Mode)");
    EXPECT_EQ(h.form.shCard.color(), app::kWhite);
    EXPECT_FALSE(h.line.is_open());
}

TEST_F(Reading, FailedPollEndsWithReaderNotFind) {
    h.reader.faults.drop_replies = true;
    h.form.press(h.form.btnReadCard);
    EXPECT_EQ(Count("I00F"), 1);
    EXPECT_EQ(h.form.pnMsg.caption(), "Reader Not Find");
    EXPECT_EQ(h.form.shComm.color(), app::kRed);
    EXPECT_EQ(h.beep_tones(), std::vector<unsigned>{300});
    EXPECT_FALSE(h.form.state.reading);
    EXPECT_FALSE(h.line.is_open());
}

TEST_F(Reading, ControlsDisabledWhileRunningAndRestoredAfterEveryEnd) {
    app::TfrmModule& f = h.form;
    const std::vector<app::Control*> plain_off = {
        &f.btnExit,    &f.btnScan,        &f.btnID,          &f.btnBaudRate, &f.btnMode,
        &f.gbDefault,  &f.btnEng,         &f.btnGB,          &f.btnBIG5,     &f.btnAdd,
        &f.btnDel,     &f.btnFacility,    &f.btnEncode,      &f.btnCardType, &f.btnAddCard,
        &f.btnGetCard, &f.btnGetTemplate, &f.btnPutTemplate, &f.btnCRCmd};
    for (bool encoded : {false, true}) {
        for (int end = 0; end < 3; ++end) {  // stopped, failed poll, port not openable
            Harness r;
            r.start_and_scan();
            app::TfrmModule& g = r.form;
            app::Control& toggle = encoded ? g.btnEncode : g.btnReadCard;
            std::vector<std::string> disabled_while_running;
            r.pump.at_ms(r.clock.now_us() / 1000 + 50, [&] {
                for (app::Control* c : g.controls()) {
                    if (!c->enabled() && c->kind() != app::Kind::Timer)
                        disabled_while_running.push_back(c->name());
                }
                EXPECT_TRUE(g.window_enabled());
                EXPECT_TRUE(toggle.enabled());
                if (end == 0) g.press(toggle);
            });
            if (end == 1) r.reader.faults.drop_replies = true;
            if (end == 2) r.line.set_port(3, doubles::FakeLine::PortKind::Busy);
            g.press(toggle);
            if (end != 2) {
                EXPECT_EQ(disabled_while_running.size(), plain_off.size()) << encoded << end;
                EXPECT_EQ(std::count(disabled_while_running.begin(), disabled_while_running.end(),
                                     encoded ? "btnReadCard" : "btnEncode"),
                          1);
            } else {
                EXPECT_EQ(g.pnMsg.caption(), "Open COM : 3 Error");
            }
            for (app::Control* c : g.controls()) {
                if (c->kind() != app::Kind::Timer) {
                    EXPECT_TRUE(c->enabled()) << c->name();
                }
            }
            EXPECT_FALSE(g.state.reading);
            EXPECT_FALSE(r.line.is_open());
        }
    }
    (void)f;
}

TEST_F(Reading, EncodedReadingAcknowledgesEachIdentificationOnce) {
    h.reader.present({Kind::Card, 0x00BC614E, ""});
    const uint64_t t0 = h.clock.now_us() / 1000;
    StopAt(t0 + 400, h.form.btnEncode);
    h.form.press(h.form.btnEncode);
    EXPECT_EQ(Count("I00J"), 1);
    EXPECT_GE(Count("I00I"), 3);
    EXPECT_EQ(h.form.pnCardID.caption(), "ID : 0012345678  0000000000BC614E(H)");
    EXPECT_EQ(h.form.btnEncode.caption(), "ID");
    // "I00J" goes 30 ms after the display (sending pauses included).
    const auto& frames = h.line.frames;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].payload == "I00J") {
            EXPECT_EQ(frames[i - 1].payload, "I00I");
        }
    }
}

TEST_F(Reading, LampLitByAReadAndClearedByItsTimerWithoutRestart) {
    // Cards on every poll for a while: the lamp timer is enabled at the first
    // read and fires 1000 ms later even though reads keep coming.
    for (int i = 0; i < 30; ++i) h.reader.present({Kind::Card, uint32_t(i + 1), ""});
    const uint64_t t0 = h.clock.now_us() / 1000;
    StopAt(t0 + 1500, h.form.btnReadCard);
    h.form.press(h.form.btnReadCard);
    std::vector<std::pair<app::Rgb, uint64_t>> lamp;
    for (const auto& c : h.colors) {
        if (c.control == "shCard") lamp.emplace_back(c.color, c.at_us / 1000);
    }
    ASSERT_GE(lamp.size(), 3u);
    EXPECT_EQ(lamp[0].first, app::kYellow);
    EXPECT_EQ(lamp[1].first, app::kWhite);
    EXPECT_GE(lamp[1].second - lamp[0].second, 1000u);
    EXPECT_LE(lamp[1].second - lamp[0].second, 1100u);
}

TEST_F(Reading, UnpluggedAdapterEndsLikeAFailedPoll) {
    const uint64_t t0 = h.clock.now_us() / 1000;
    h.pump.at_ms(t0 + 300, [this] { h.line.unplug(); });
    h.form.press(h.form.btnReadCard);
    EXPECT_EQ(h.form.pnMsg.caption(), "Reader Not Find");
    EXPECT_FALSE(h.line.is_open());
    EXPECT_LT(h.clock.now_us() / 1000 - t0, 1200u);
}

TEST_F(Reading, SecondPressWhileFinishingNeverStartsANestedReading) {
    const uint64_t t0 = h.clock.now_us() / 1000;
    StopAt(t0 + 20, h.form.btnReadCard);
    StopAt(t0 + 40, h.form.btnReadCard);
    h.form.press(h.form.btnReadCard);
    EXPECT_EQ(h.line.opens.size(), 1u);
    EXPECT_EQ(h.form.shComm.color(), app::kYellow);
}

}  // namespace
}  // namespace torvik::test

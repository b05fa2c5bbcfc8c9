// SPDX-License-Identifier: MIT
// Operations against replies scripted byte for byte, for the cases a
// well-behaved reader never produces.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/checksum.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

std::string ShortReply(const std::string& body) {
    const std::string frame = "\n" + body;
    return frame +
           link::hex_byte(
               link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size())) +
           "\r";
}

std::string LongReply(const std::string& body) {
    const std::string frame = "\x03" + body + "\x04";
    return frame + link::crc_digits(link::crc16_arc(frame)) + "\r";
}

const std::string kPresence = ShortReply("001 12345678");  // 16 bytes

// A harness whose reader has been found, now answering from a script.
struct Scripted : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.start_and_scan();
        ASSERT_TRUE(h.form.state.reader_found);
        h.line.set_port(3, doubles::FakeLine::PortKind::Scripted);
    }
    void Reply(const std::string& bytes) { h.line.reply_next(bytes); }
    // A frame the script does not answer.
    void Silence() { h.line.reply_next(""); }
};

TEST_F(Scripted, AddCardFirstReplyMustBeTwentyBytes) {
    ASSERT_EQ(LongReply("001OKAS000001").size(), 20u);
    struct Case {
        std::string first;
        std::vector<std::string> payloads;
        const char* outcome;
    } cases[] = {
        {LongReply("001OKAS00001"), {"001AS", "001AS"}, "Test Command Error"},    // 19 bytes
        {LongReply("001OKAS0000001"), {"001AS", "001AS"}, "Test Command Error"},  // 21 bytes
        {LongReply("001OKAS000001"), {"001AS", "001AS"}, "Test Command Ok"},      // 20, then any
    };
    for (const auto& c : cases) {
        Harness r;
        r.start_and_scan();
        r.line.set_port(3, doubles::FakeLine::PortKind::Scripted);
        r.line.reply_next(c.first);
        r.line.reply_next(LongReply("anyX"));
        r.form.press(r.form.btnAddCard);
        EXPECT_EQ(r.payloads(), c.payloads) << c.first.size();
        EXPECT_EQ(r.form.pnMsg.caption(), c.outcome) << c.first.size();
    }
}

TEST_F(Scripted, RawCommandAnswerIsPositionsSevenToLMinusFive) {
    struct Case {
        std::string body;
        std::string answer;
    } cases[] = {
        {"001OKHELLO", std::string("HELLO\x04")},
        {"ABCD", ""},   // 11 characters: empty answer
        {"ABCDE", ""},  // 12: only... the EOT is at position 7
        {"12345X", std::string("X\x04")},
    };
    cases[2].answer = std::string("\x04");
    for (const auto& c : cases) {
        Harness r;
        r.start_and_scan();
        r.line.set_port(3, doubles::FakeLine::PortKind::Scripted);
        r.line.reply_next(LongReply(c.body));
        r.form.press(r.form.btnCRCmd);
        const size_t length = c.body.size() + 7;
        EXPECT_EQ(r.form.edCRRev.text(), c.answer) << c.body;
        EXPECT_EQ(r.form.edCRRev.text().size(), length - 11) << c.body;
    }
}

TEST_F(Scripted, TemplateReadShortPieceEmptiesItsBox) {
    Reply(kPresence);
    Reply(ShortReply("0"));  // prepare
    Reply(ShortReply("0"));  // piece 1: 5 characters, box emptied
    const std::string short_piece = ShortReply("001PXY");
    Reply(short_piece);  // piece 2: position 6 to the end, CR included
    Reply(ShortReply("001P" + std::string(300, 'Z')));  // piece 3: at most 256
    h.form.press(h.form.btnGetTemplate);
    EXPECT_EQ(h.form.pnMsg.caption(), "Test Command Ok");
    EXPECT_EQ(h.form.edF1.text(), "");
    EXPECT_EQ(h.form.edF2.text(), short_piece.substr(5));
    EXPECT_EQ(h.form.edF3.text(), std::string(256, 'Z'));
}

TEST_F(Scripted, TemplateReadLostPieceRepeatsPrepareAndItsWait) {
    Reply(kPresence);
    Reply(ShortReply("0"));
    Silence();  // piece 1 lost
    Reply(kPresence);
    Reply(ShortReply("0"));
    for (int i = 0; i < 3; ++i) Reply(ShortReply("001P" + std::string(256, char('a' + i))));
    h.form.press(h.form.btnGetTemplate);
    EXPECT_EQ(h.payloads(),
              (std::vector<std::string>{"I00B", "I00P0000010", "I00P0000011", "I00B", "I00P0000010",
                                        "I00P0000011", "I00P0000012", "I00P0000013"}));
    const auto& frames = h.line.frames;
    // 2000 ms between each prepare and the first piece that follows it.
    EXPECT_GE(frames[2].at_us - frames[1].at_us, 2000000u);
    EXPECT_GE(frames[5].at_us - frames[4].at_us, 2000000u);
    EXPECT_EQ(h.form.edF3.text(), std::string(256, 'c'));
}

TEST_F(Scripted, ScanWithNonDigitIdLeavesTheBarAndShowsTheCharacters) {
    Harness r;
    r.line.set_port(3, doubles::FakeLine::PortKind::Scripted);
    r.store.keys["\\Software\\KELDO\\ReaderConfig"]["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
    r.start();
    r.form.sbID.set_position(42);
    r.line.reply_next(ShortReply("0A? 87654321"));
    r.line.reply_next(ShortReply("0001V04.01-01"));
    r.line.reply_next(ShortReply("0001x1?"));
    r.form.press(r.form.btnScan);
    EXPECT_TRUE(r.form.state.reader_found);
    EXPECT_EQ(r.form.pnID.caption(), "A?");
    EXPECT_EQ(r.form.sbID.position(), 42);
    EXPECT_EQ(r.form.cmbMode.index(), -1);  // 'x' is not a digit
    EXPECT_EQ(r.form.cmbWiegand.index(), 1);
    EXPECT_EQ(r.form.cmbRS485.index(), -1);
    EXPECT_TRUE(r.form.window_enabled());
    EXPECT_FALSE(r.line.is_open());
}

TEST(AnswerPoll, SecondTryRepeatsTheWholePollUpToThreeHundred) {
    Harness h;
    h.start_and_scan();
    h.reader.silence_after_reset_ms = UINT32_MAX;
    // The reader wakes up once, right after the first try's "I00E5" went
    // unanswered, so the second try runs the whole sequence again.
    bool woken = false;
    h.pump.every = [&] {
        const auto p = h.line.payloads();
        if (!woken && !p.empty() && p.back() == "I00E5") {
            woken = true;
            h.reader.wake();
        }
    };
    h.form.press(h.form.btnFactory);
    const auto p = h.payloads();
    EXPECT_EQ(std::count(p.begin(), p.end(), "I00E5"), 2);
    EXPECT_EQ(std::count(p.begin(), p.end(), "I00R6"), 2);
    int short_beeps = 0;
    for (const auto& b : h.beeper.beeps) short_beeps += b.ms == 50 && b.hz == 1000 ? 1 : 0;
    EXPECT_EQ(short_beeps, 300);
    EXPECT_EQ(h.form.pnMsg.caption(), "Set Default Error");
    EXPECT_TRUE(h.form.window_enabled());
    EXPECT_FALSE(h.form.tmrBusy.enabled());
}

}  // namespace
}  // namespace torvik::test

// SPDX-License-Identifier: MIT
// The short and long frame exchanges against scripted replies on the
// in-process line and the virtual clock.
#include <gtest/gtest.h>

#include <string>

#include "link/checksum.h"
#include "link/exchange.h"
#include "link/port.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik {
namespace {

struct NoPump final : link::EventPump {
    void process_pending() override { ++calls; }
    int calls = 0;
};

// A short reply frame with correct check digits around a body.
std::string ShortReply(const std::string& body) {
    std::string frame = "\n" + body;
    const uint8_t y = link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    return frame + link::hex_byte(y) + "\r";
}

// A long reply frame with correct CRC digits around a body.
std::string LongReply(const std::string& body) {
    std::string frame = "\x03" + body + "\x04";
    return frame + link::crc_digits(link::crc16_arc(frame)) + "\r";
}

struct Rig {
    explicit Rig(uint32_t start_ms = 0)
        : clock(start_ms), line(clock), port(line, clock), link(port, clock, pump) {
        line.set_port(1, doubles::FakeLine::PortKind::Scripted);
        EXPECT_TRUE(port.OpenPort(1, "19200,e,8,1"));
    }
    doubles::VirtualClock clock;
    doubles::FakeLine line;
    NoPump pump;
    link::Port port;
    link::Link link;
};

std::string Hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) out += link::hex_byte(c) + " ";
    if (!out.empty()) out.pop_back();
    return out;
}

TEST(Frames, GoldenBytesAndChecks) {
    EXPECT_EQ(link::crc16_arc("123456789"), 0xBB3D);
    EXPECT_EQ(link::crc_digits(link::crc16_arc("\x01"
                                               "001AB\x02")),
              "BDBA");
    EXPECT_EQ(link::crc_digits(link::crc16_arc("\x01"
                                               "001AS\x02")),
              "EDB6");

    struct Case {
        const char* payload;
        bool long_frame;
        const char* wire;
    } cases[] = {
        {"I00B", false, "09 49 30 30 42 30 32 0D"},
        {"I00V", false, "09 49 30 30 56 31 36 0D"},
        {"I00A", false, "09 49 30 30 41 30 31 0D"},
        {"AB", true, "01 41 42 02 38 39 45 30 0D"},
    };
    for (const auto& c : cases) {
        Rig rig;
        if (c.long_frame) {
            rig.link.SendLong(c.payload);
        } else {
            rig.link.SendShort(c.payload);
        }
        EXPECT_EQ(Hex(rig.line.written), c.wire) << c.payload;
    }
}

TEST(Frames, SendingPausesAreMandated) {
    // Four single bytes at 1 ms and one block at 5 ms before the wait starts.
    Rig rig;
    rig.line.reply_next(ShortReply(""), 0);
    const uint64_t before = rig.clock.now_us();
    EXPECT_TRUE(rig.link.SendShort("I00B"));
    EXPECT_EQ(rig.clock.now_us() - before, 9000u);

    Rig long_rig;
    long_rig.line.reply_next(LongReply("ABCD"), 0);
    const uint64_t long_before = long_rig.clock.now_us();
    EXPECT_TRUE(long_rig.link.SendLong("AB"));
    EXPECT_EQ(long_rig.clock.now_us() - long_before, 12000u);
}

TEST(Frames, ShortReplies) {
    struct Case {
        const char* name;
        std::string reply;
        bool accepted;
        int count;
        std::string last_reply;  // expected last reply after the exchange
        bool waits_budget;       // ends only after the 200 ms budget
    } cases[] = {
        {"shortest", "\n0A\r", true, 4, "\n0A\r", false},
        {"lower-case check refused at once", "\n0a\r", false, 4, "\n0a\r", false},
        {"byte before LF never completes", "X\n0A\r", false, 5, "previous", true},
        {"zero byte inside", ShortReply(std::string("A\0B", 3)), true, 7, "\nA", false},
        {"three bytes refused", "\nA\r", false, 3, "\nA\r", false},
        {"wrong check", "\nAB00\r", false, 6, "\nAB00\r", false},
        {"no reply", "", false, 0, "previous", true},
        {"reply without CR", "\nABCDEF", false, 7, "previous", true},
    };
    for (const auto& c : cases) {
        Rig rig;
        // An earlier exchange leaves "previous" as the last reply.
        rig.line.reply_next(ShortReply("previous").substr(0), 0);
        ASSERT_TRUE(rig.link.SendShort("I00B"));
        const std::string previous = rig.link.last_reply();
        if (!c.reply.empty()) rig.line.reply_next(c.reply, 1000, 500);
        const uint64_t start = rig.clock.now_us();
        EXPECT_EQ(rig.link.SendShort("I00B"), c.accepted) << c.name;
        EXPECT_EQ(rig.link.receive_count(), c.count) << c.name;
        EXPECT_EQ(rig.link.last_reply(), c.last_reply == "previous" ? previous : c.last_reply)
            << c.name;
        const uint64_t waited_ms = (rig.clock.now_us() - start) / 1000;
        if (c.waits_budget) {
            // 9 ms of sending, then the wait ends at the first empty read after 200 ms.
            EXPECT_GE(waited_ms, 9u + 201u) << c.name;
            EXPECT_LE(waited_ms, 9u + 203u) << c.name;
        } else {
            EXPECT_LT(waited_ms, 30u) << c.name;
        }
    }
}

TEST(Frames, StreamWithoutPauseKeepsWaitingButNotForever) {
    // An ETX every 500 bytes keeps the long frame's receiver from overflowing.
    std::string restarting;
    while (restarting.size() < 100000) restarting += "\x03" + std::string(499, 'q');
    struct Case {
        const char* name;
        std::string stream;  // one byte every 0.5 ms, never a frame
        uint64_t ends_ms;    // after the sending pauses
        bool long_frame;
    } cases[] = {
        {"stream of 300 ms: ends at the first empty read after it", std::string(600, 'q'), 299,
         false},
        {"endless stream ends at twice the budget", std::string(100000, 'q'), 400, false},
        {"endless stream, long frame", restarting, 600, true},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.line.reply_next(c.stream, 0, 500);
        const uint64_t before = rig.clock.now_us();
        EXPECT_FALSE(c.long_frame ? rig.link.SendLong("AB") : rig.link.SendShort("I00B")) << c.name;
        const uint64_t waited = (rig.clock.now_us() - before) / 1000 - (c.long_frame ? 12 : 9);
        EXPECT_GE(waited, c.ends_ms) << c.name;
        EXPECT_LE(waited, c.ends_ms + 2) << c.name;
    }
}

TEST(Frames, ReceiveBufferWraps) {
    // 1024 bytes without a frame: the 1025th lands in the first cell.
    Rig rig;
    std::string noise(1024, 'x');
    noise += 'y';
    rig.line.reply_next(noise, 0);
    EXPECT_FALSE(rig.link.SendShort("I00B"));
    EXPECT_EQ(rig.link.receive_count(), 1);
    EXPECT_EQ(rig.link.buffer()[0], 'y');

    // A frame whose CR lands in the last cell: count wraps to 0, refused,
    // last reply empty.
    Rig last;
    last.line.reply_next("\n" + std::string(1022, 'z') + "\r", 0);
    EXPECT_FALSE(last.link.SendShort("I00B"));
    EXPECT_EQ(last.link.receive_count(), 0);
    EXPECT_EQ(last.link.last_reply(), "");
}

TEST(Frames, BudgetHoldsAcrossClockWrap) {
    // The wait starts 100 ms before the 32-bit clock wraps to 0.
    for (uint32_t start : {0u, 0xFFFFFFFFu - 100u - 9u, 0xFFFFFFFFu - 5u}) {
        Rig rig(start);
        const uint64_t before = rig.clock.now_us();
        EXPECT_FALSE(rig.link.SendShort("I00B"));
        const uint64_t ms = (rig.clock.now_us() - before) / 1000;
        EXPECT_GE(ms, 210u) << start;
        EXPECT_LE(ms, 212u) << start;

        Rig long_rig(start);
        const uint64_t long_before = long_rig.clock.now_us();
        EXPECT_FALSE(long_rig.link.SendLong("AB"));
        const uint64_t long_ms = (long_rig.clock.now_us() - long_before) / 1000;
        EXPECT_GE(long_ms, 313u) << start;
        EXPECT_LE(long_ms, 315u) << start;
    }
}

TEST(Frames, LongReplies) {
    const std::string good = LongReply("ABCD");
    ASSERT_EQ(good, std::string("\x03"
                                "ABCD\x04"
                                "53EB\r"));
    std::string lower = good;
    lower[8] = 'b';  // "53eB"
    struct Case {
        const char* name;
        std::string reply;
        bool accepted;
        bool at_once;
        int count;  // -1: not checked
    } cases[] = {
        {"accepted", good, true, true, 11},
        {"lower-case CRC", lower, false, true, 11},
        {"three body bytes", LongReply("ABC"), false, true, -1},
        {"noise before ETX discarded", "zz\x01q" + good, true, true, 11},
        {"CR inside the noise refused at once", "z\rz" + good, false, true, 2},
        {"second ETX restarts the frame", "\x03XY" + good, true, true, 11},
        {"no reply", "", false, false, 0},
        {"1024 bytes after ETX without CR", "\x03" + std::string(1023, 'q'), false, true, 0},
        {"EOT without ETX",
         "ABCD\x04"
         "0000\r",
         false, true, -1},
        // An unfinished frame's EOT stays in the buffer after an ETX restart.
        {"stale EOT of a restarted frame",
         std::string("\x03"
                     "bbbb\x04"
                     "F6B7\x03y\r"),
         false, true, -1},
        // The last EOT stands far enough from the ETX, the first does not.
        {"empty body closed by the first EOT",
         std::string("\x03\x04"
                     "3301\x04\r"),
         false, true, -1},
    };
    for (const auto& c : cases) {
        Rig rig;
        if (!c.reply.empty()) rig.line.reply_next(c.reply, 1000, 0);
        const uint64_t start = rig.clock.now_us();
        EXPECT_EQ(rig.link.SendLong("001AB"), c.accepted) << c.name;
        if (c.count >= 0) {
            EXPECT_EQ(rig.link.receive_count(), c.count) << c.name;
        }
        if (c.accepted) {
            EXPECT_EQ(rig.link.last_reply(), good) << c.name;
        }
        const uint64_t ms = (rig.clock.now_us() - start) / 1000;
        if (c.at_once) {
            EXPECT_LT(ms, 30u) << c.name;
        } else {
            EXPECT_GE(ms, 300u) << c.name;
        }
    }
}

}  // namespace
}  // namespace torvik

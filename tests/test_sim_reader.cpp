// SPDX-License-Identifier: MIT
// The simulated reader and the in-process line, checked through the tool's
// own frame exchange: a reply counts only when Link accepts it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "link/checksum.h"
#include "link/exchange.h"
#include "link/port.h"
#include "sim/reader.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik::sim {
namespace {

using doubles::FakeLine;

// Characters of the last reply at 1-based positions, clipped to it.
std::string Field(const link::Link& link, int first, int count) {
    const std::string& text = link.last_reply();
    if (first < 1 || count <= 0 || static_cast<size_t>(first - 1) >= text.size()) return {};
    return text.substr(static_cast<size_t>(first - 1), static_cast<size_t>(count));
}

char At(const link::Link& link, int position) {
    const std::string field = Field(link, position, 1);
    return field.empty() ? '\0' : field[0];
}

class NoPump final : public link::EventPump {
  public:
    void process_pending() override {}
};

// The tool's side of the line, with the reader on COM3.
struct Bench {
    doubles::VirtualClock clock;
    FakeLine line{clock};
    Reader reader;
    link::Port port{line, clock};
    NoPump pump;
    link::Link link{port, clock, pump};

    Bench() { line.attach(3, reader); }
    bool open(const std::string& settings = "19200,e,8,1") { return port.OpenPort(3, settings); }
    void reopen(const std::string& settings) {
        port.ClosePort();
        ASSERT_TRUE(open(settings));
    }
};

struct ReplyCase {
    std::string payload;
    int length;  // 0: any; -1: no reply
    std::vector<std::pair<int, std::string>> fields;
    std::function<bool(const Reader&)> effect;  // empty: none checked
};

TEST(SimReader, ShortRepliesAreAcceptedAndLaidOut) {
    const std::string piece_read = "I00P0000071";
    const std::vector<ReplyCase> cases = {
        {"I00B", 16, {{2, "0"}, {3, "01"}, {5, " "}, {6, "12345678"}}, {}},
        {"I00V", 0, {{6, "04.01-01"}}, {}},
        {"I00A", 0, {{6, "001"}}, {}},
        {"I00F", 9, {{6, "0"}}, {}},
        {"I00I", 9, {{6, "0"}}, {}},
        {"I00J", 0, {}, {}},
        {"I00A120",
         0,
         {{6, "120"}},
         [](const Reader& r) { return r.mode == 1 && r.wiegand == 2 && r.rs485 == 0; }},
        {"I00S2", 0, {}, [](const Reader& r) { return r.card_type == 2; }},
        {"I00C1234567805", 0, {{2, "0"}}, [](const Reader& r) { return r.id == 5; }},
        {"I00K00123", 0, {}, [](const Reader& r) { return r.facility == "00123"; }},
        {"I00K0123456789abcdef",
         0,
         {},
         [](const Reader& r) { return r.card_key == "0123456789ABCDEF"; }},
        {"I00M000007", 0, {}, [](const Reader& r) { return r.enrolled.count(7) == 1; }},
        {"I00N000007", 0, {}, {}},
        {"I00P0000070", 0, {}, {}},
        {piece_read, 264, {}, {}},
        {"I00R01", 0, {}, [](const Reader& r) { return r.standalone; }},
        {"I00R10012", 0, {}, [](const Reader& r) { return r.door_time == "0012"; }},
        {"I00R20045", 0, {}, [](const Reader& r) { return r.alarm_time == "0045"; }},
        {"I00R3", 0, {}, {}},
        {"I00R4", 0, {}, {}},
        {"I00R5", 0, {}, {}},
        {"I00R6", 0, {}, {}},
        {"I00Z", -1, {}, {}},
        {"I01B", -1, {}, {}},
        {"I00BX", -1, {}, {}},
        {"I00R9", -1, {}, {}},
        // Malformed commands are refused and change nothing.
        {"I00C8765432105", -1, {}, [](const Reader& r) { return r.id == 1; }},
        {"I00C12345678", -1, {}, [](const Reader& r) { return r.id == 1; }},
        {"I00C123456780A", -1, {}, [](const Reader& r) { return r.id == 1; }},
        {"I00E", -1, {}, {}},
        {"I00EC", -1, {}, {}},
        {"I00E14", -1, {}, {}},
        {"I00E05", -1, {}, {}},
        {"I00A2-12", -1, {}, [](const Reader& r) { return r.mode == 0 && r.rs485 == 1; }},
        {"I00A003", -1, {}, [](const Reader& r) { return r.rs485 == 1; }},
        {"I00A00", -1, {}, {}},
        {"I00A0011", -1, {}, {}},
        {"I00S3", -1, {}, [](const Reader& r) { return r.card_type == 0; }},
        {"I00S", -1, {}, {}},
        {"I00S01", -1, {}, {}},
        {"I00K12", -1, {}, [](const Reader& r) { return r.facility == "00000"; }},
        {"I00K0012A", -1, {}, [](const Reader& r) { return r.facility == "00000"; }},
        {"I00K0123456789ABCDEG",
         -1,
         {},
         [](const Reader& r) { return r.card_key == "7A1C3E5B9D2F4860"; }},
        {"I00M00007", -1, {}, [](const Reader& r) { return r.enrolled.empty(); }},
        {"I00M001001", -1, {}, [](const Reader& r) { return r.enrolled.empty(); }},
        {"I00N00000X", -1, {}, {}},
        {"I00P0000074", -1, {}, {}},
        {"I00P0000071" + std::string(255, '0'),
         -1,
         {},
         [](const Reader& r) { return r.templates.empty(); }},
        {"I00P0000071" + std::string(257, '0'),
         -1,
         {},
         [](const Reader& r) { return r.templates.empty(); }},
        {"I00R02", -1, {}, [](const Reader& r) { return !r.standalone; }},
        {"I00R1", -1, {}, [](const Reader& r) { return r.door_time == "0005"; }},
        {"I00R100123", -1, {}, [](const Reader& r) { return r.door_time == "0005"; }},
        {"I00R2003X", -1, {}, [](const Reader& r) { return r.alarm_time == "0030"; }},
        {"I00R31", -1, {}, {}},
        {"I00R61", -1, {}, [](const Reader& r) { return !r.silent(0); }},
        // Well-formed values at their limits are taken.
        {"I00EB", 0, {}, {}},
        {"I00E13", 0, {}, {}},
        {"I00A222", 0, {{6, "222"}}, {}},
        {"I00M001000", 0, {}, [](const Reader& r) { return r.enrolled.count(1000) == 1; }},
        {"I00R15", 0, {}, [](const Reader& r) { return r.door_time == "5"; }},
        {"I00P0000071" + std::string(256, 'F'),
         0,
         {},
         [](const Reader& r) { return r.templates.count(7) == 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        Bench b;
        ASSERT_TRUE(b.open());
        ASSERT_EQ(b.link.SendShort(c.payload), c.length >= 0);
        EXPECT_EQ(b.reader.log.size(), 1u);
        if (c.length > 0) {
            EXPECT_EQ(b.link.receive_count(), c.length);
        }
        for (const auto& [position, text] : c.fields) {
            EXPECT_EQ(Field(b.link, position, static_cast<int>(text.size())), text) << position;
        }
        if (c.effect) {
            EXPECT_TRUE(c.effect(b.reader));
        }
    }
}

TEST(SimReader, LongReplies) {
    struct Case {
        std::string payload;
        int length;
        std::string body;  // positions 2..
    } cases[] = {
        {"001AS", 20, "001OKAS000001"},
        {"001AB", 14, "001OKAB"},
        {"001", 12, "001OK"},
        {"XYZ", 0, "001ERXYZ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        Bench b;
        ASSERT_TRUE(b.open());
        ASSERT_TRUE(b.link.SendLong(c.payload));
        const int length = b.link.receive_count();
        if (c.length) {
            EXPECT_EQ(length, c.length);
        }
        EXPECT_EQ(Field(b.link, 2, static_cast<int>(c.body.size())), c.body);
        // What the raw command test shows: the text after "001", then the EOT.
        if (c.payload.starts_with("001") && c.payload != "001AS") {
            EXPECT_EQ(Field(b.link, 7, length - 11), c.payload.substr(3) + '\x04');
        }
    }
}

TEST(SimReader, LiveReadingReportsWhatWasPresented) {
    struct Case {
        // The identity's fields rather than an Identity: GCC 12 at -O3 reports
        // a false -Wmaybe-uninitialized on the string inside a nested
        // aggregate when the array of cases is destroyed.
        Identity::Kind kind;
        uint32_t id;
        const char* key;
        std::string poll;
        std::vector<std::pair<int, std::string>> fields;
    } cases[] = {
        {Identity::Kind::Card, 0x00BC614E, "", "I00F", {{7, "C00BC614E"}}},
        {Identity::Kind::Finger, 12, "", "I00F", {{7, "F0000000C"}}},
        {Identity::Kind::Key, 0, "1234", "I00F", {{7, "K1234"}}},
        {Identity::Kind::Card, 0x00BC614E, "", "I00I", {{7, "C60482F9D5B827D34"}}},
        {Identity::Kind::Card, 0xFFFFFFFF, "", "I00I", {{7, "C60482F9DA4C1E385"}}},
    };
    for (const auto& c : cases) {
        Bench b;
        ASSERT_TRUE(b.open());
        b.reader.present({c.kind, c.id, c.key});
        ASSERT_TRUE(b.link.SendShort(c.poll));
        for (const auto& [position, text] : c.fields) {
            EXPECT_EQ(Field(b.link, position, static_cast<int>(text.size())), text);
        }
        // The key text runs up to the check digits.
        if (c.kind == Identity::Kind::Key) {
            EXPECT_EQ(Field(b.link, 8, b.link.receive_count() - 10), c.key);
        }
        ASSERT_TRUE(b.link.SendShort(c.poll));
        EXPECT_EQ(b.link.receive_count(), 9);  // reported once
    }
}

TEST(SimReader, GeneratedReadingsArePacedAndVaried) {
    Bench b;
    b.reader.card_every_ms = 1000;
    ASSERT_TRUE(b.open());
    std::vector<uint64_t> times;
    std::set<char> kinds;
    std::set<std::string> cards;
    while (b.clock.now_us() < 10'500'000) {
        b.clock.sleep_ms(80);
        ASSERT_TRUE(b.link.SendShort("I00F"));
        if (b.link.receive_count() <= 9) continue;
        times.push_back(b.clock.now_us());
        kinds.insert(At(b.link, 7));
        if (At(b.link, 7) == 'C') cards.insert(Field(b.link, 8, 8));
    }
    EXPECT_GE(times.size(), 9u);
    EXPECT_LE(times.size(), 10u);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 1'000'000u);
    EXPECT_EQ(kinds, (std::set<char>{'C', 'F', 'K'}));
    EXPECT_GE(cards.size(), 3u);
}

TEST(SimReader, BaudChangeTakesEffectAfterItsReply) {
    const struct {
        std::string code, settings;
    } cases[] = {
        {"0", "4800,n,8,1"},   {"5", "19200,e,8,1"},   {"A", "115200,n,8,1"},
        {"B", "115200,e,8,1"}, {"12", "230400,n,8,1"}, {"13", "230400,e,8,1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        Bench b;
        b.reader.line = {9600, 'e'};
        ASSERT_TRUE(b.open("9600,e,8,1"));
        ASSERT_TRUE(b.link.SendShort("I00E" + c.code));  // answered at the old speed
        EXPECT_EQ(b.reader.line, parse_line_settings(c.settings));
        EXPECT_FALSE(b.link.SendShort("I00B"));
        b.reopen(c.settings);
        EXPECT_TRUE(b.link.SendShort("I00B"));
    }
    Bench b;
    ASSERT_TRUE(b.open());
    EXPECT_FALSE(b.link.SendShort("I00EC"));  // unknown code: refused, no change
    EXPECT_TRUE(b.link.SendShort("I00B"));
}

TEST(SimReader, SilentAfterResetForTheConfiguredTime) {
    const struct {
        uint32_t silence_ms;
        uint64_t probe_ms;  // after the reset frame
        bool answers;
    } cases[] = {
        {3000, 0, false},
        {3000, 2990, false},
        {3000, 3000, true},
        {500, 500, true},
        {std::numeric_limits<uint32_t>::max(), 3'600'000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.probe_ms);
        Bench b;
        b.reader.silence_after_reset_ms = c.silence_ms;
        ASSERT_TRUE(b.open());
        ASSERT_TRUE(b.link.SendShort("I00R6"));
        // A frame whose first byte comes while the reader is deaf is lost.
        b.clock.advance_to_us(b.reader.log.back().at_us + c.probe_ms * 1000);
        EXPECT_EQ(b.link.SendShort("I00B"), c.answers);
    }
}

TEST(SimReader, TemplatesRoundTripAndUnwrittenSlotsAreStable) {
    Bench b;
    ASSERT_TRUE(b.open());
    std::string written;
    for (char piece : {'1', '2', '3'}) {
        const std::string text(256, static_cast<char>('A' + (piece - '1')));
        written += text;
        ASSERT_TRUE(b.link.SendShort("I00P000042" + std::string(1, piece) + text));
    }
    const auto read_slot = [](Bench& bench, const std::string& finger) {
        std::string whole;
        for (char piece : {'1', '2', '3'}) {
            if (!bench.link.SendShort("I00P" + finger + piece)) return std::string();
            whole += Field(bench.link, 6, 256);
        }
        return whole;
    };
    EXPECT_EQ(read_slot(b, "000042"), written);

    const std::string slot5 = read_slot(b, "000005");
    ASSERT_EQ(slot5.size(), 768u);
    EXPECT_EQ(slot5.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(read_slot(b, "000006"), slot5);
    Bench other;
    ASSERT_TRUE(other.open());
    EXPECT_EQ(read_slot(other, "000005"), slot5);

    ASSERT_TRUE(b.link.SendShort("I00N000042"));  // deleting brings back the slot's own
    EXPECT_NE(read_slot(b, "000042"), written);
}

TEST(SimReader, FaultsMakeTheExchangeFail) {
    struct Case {
        const char* name;
        std::function<void(Reader::Faults&)> set;
        std::string payload;
        bool is_long;
        std::vector<int>
            counts;  // per sending: -1 refused, else accepted with that length (0: any)
    };
    const std::vector<Case> cases = {
        {"drop", [](auto& f) { f.drop_replies = true; }, "I00B", false, {-1, -1}},
        {"drop next", [](auto& f) { f.drop_next = 1; }, "I00B", false, {-1, 16}},
        {"bad check", [](auto& f) { f.bad_check = true; }, "I00B", false, {-1}},
        {"bad crc", [](auto& f) { f.bad_check = true; }, "001AB", true, {-1}},
        {"lower case", [](auto& f) { f.lower_case_check = true; }, "I00V", false, {-1}},
        {"noise", [](auto& f) { f.noise_before_reply = true; }, "I00B", false, {-1}},
        {"noise before ETX", [](auto& f) { f.noise_before_reply = true; }, "001AB", true, {14}},
        {"presence 15", [](auto& f) { f.presence_length = 15; }, "I00B", false, {15}},
        {"presence 17", [](auto& f) { f.presence_length = 17; }, "I00B", false, {17}},
        {"refused", [](auto& f) { f.refuse = {"I00K"}; }, "I00K00123", false, {-1}},
        {"late", [](auto& f) { f.extra_delay_ms = 250; }, "I00B", false, {-1}},
        {"slow", [](auto& f) { f.extra_delay_ms = 150; }, "I00B", false, {16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        c.set(b.reader.faults);
        ASSERT_TRUE(b.open());
        for (int want : c.counts) {
            const bool ok = c.is_long ? b.link.SendLong(c.payload) : b.link.SendShort(c.payload);
            EXPECT_EQ(ok, want >= 0);
            if (ok && want > 0) {
                EXPECT_EQ(b.link.receive_count(), want);
            }
        }
    }
    Bench b;
    b.reader.faults.refuse = {"I00K"};
    ASSERT_TRUE(b.open());
    b.link.SendShort("I00K00123");
    EXPECT_EQ(b.reader.facility, "00000");  // a refused command does nothing
}

TEST(SimFakeLine, OpensByPortKind) {
    const struct {
        FakeLine::PortKind kind;
        bool opens;
    } cases[] = {
        {FakeLine::PortKind::Absent, false},  {FakeLine::PortKind::Busy, false},
        {FakeLine::PortKind::Silent, true},   {FakeLine::PortKind::Reader, true},
        {FakeLine::PortKind::Scripted, true},
    };
    for (const auto& c : cases) {
        doubles::VirtualClock clock;
        FakeLine line(clock);
        Reader reader;
        line.set_port(5, c.kind);
        if (c.kind == FakeLine::PortKind::Reader) line.attach(5, reader);
        EXPECT_EQ(line.open(5, "19200,e,8,1"), c.opens);
        EXPECT_EQ(line.last_open_failure().empty(), c.opens);
        EXPECT_FALSE(line.open(6, "19200,e,8,1"));  // never set up, or one already open
        ASSERT_EQ(line.opens.size(), 2u);
        EXPECT_EQ(line.opens[0].port, 5);
        EXPECT_EQ(line.opens[0].ok, c.opens);
        EXPECT_EQ(line.is_open(), c.opens);
    }
}

TEST(SimFakeLine, RefusedSettingsKeepTheLine) {
    const struct {
        std::string settings;
        bool answers;  // reader at 9600,e
    } steps[] = {
        {"9600,e,8,1", true},   {"fast please", true}, {"19200,e,8,1", false},
        {"19200,x,8,1", false}, {"9600,n,8,1", false}, {" 9600 , E , 8 , 1 ", true},
    };
    Bench b;
    b.reader.line = {9600, 'e'};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.settings);
        b.port.ClosePort();
        ASSERT_TRUE(b.open(step.settings));
        EXPECT_EQ(b.link.SendShort("I00B"), step.answers);
    }
}

TEST(SimFakeLine, RecordsFramesAndDeliversScriptedBytes) {
    Bench b;
    ASSERT_TRUE(b.open());
    ASSERT_TRUE(b.link.SendShort("I00B"));
    ASSERT_TRUE(b.link.SendLong("001AB"));
    EXPECT_EQ(b.line.payloads(), (std::vector<std::string>{"I00B", "001AB"}));
    EXPECT_EQ(b.line.frames[0].raw, "\tI00B02\r");
    EXPECT_EQ(b.line.frames[0].kind, 'S');
    EXPECT_EQ(b.line.frames[1].raw,
              "\x01"
              "001AB\x02" +
                  link::crc_digits(link::crc16_arc("\x01"
                                                   "001AB\x02")) +
                  "\r");
    EXPECT_EQ(b.line.frames[1].kind, 'L');
    EXPECT_EQ(b.line.frames[1].settings, "19200,e,8,1");
    EXPECT_EQ(b.line.written, b.line.frames[0].raw + b.line.frames[1].raw);

    b.line.set_port(4, FakeLine::PortKind::Scripted);
    b.port.ClosePort();
    ASSERT_TRUE(b.port.OpenPort(4, "19200,e,8,1"));
    b.line.reply_next("\n0A\r");
    EXPECT_TRUE(b.link.SendShort(""));
    EXPECT_EQ(b.link.receive_count(), 4);
    EXPECT_FALSE(b.link.SendShort(""));  // one reply per queued chunk

    // Bytes still on their way are lost when the port closes.
    b.line.script("\n0A\r", b.clock.now_us() + 50'000);
    b.port.ClosePort();
    ASSERT_TRUE(b.port.OpenPort(4, "19200,e,8,1"));
    b.clock.sleep_ms(100);
    uint8_t byte = 0;
    EXPECT_FALSE(b.line.read_byte(byte));
    EXPECT_EQ(b.line.closes, 2);
    EXPECT_EQ(b.line.device_path(4), "sim:COM4");
}

TEST(SimFakeLine, LongRepliesTakeTheirWireTime) {
    const struct {
        LineSettings line;
        bool wire_time;
        bool answers;
        uint32_t min_ms, max_ms;
    } cases[] = {
        {{19200, 'e'}, true, true, 155, 170},  // 264 bytes x 573 us = 151 ms
        {{38400, 'n'}, true, true, 75, 95},
        {{9600, 'e'}, true, true, 305, 320},  // 302 ms: the reply gets its time
        {{9600, 'e'}, false, true, 9, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.baud);
        Bench b;
        b.reader.line = c.line;
        b.line.model_wire_time = c.wire_time;
        ASSERT_TRUE(b.open(std::to_string(c.line.baud) + "," + c.line.parity + ",8,1"));
        const uint32_t start = b.clock.now_ms();
        EXPECT_EQ(b.link.SendShort("I00P0000011"), c.answers);
        const uint32_t took = b.clock.now_ms() - start;
        EXPECT_GE(took, c.min_ms);
        EXPECT_LE(took, c.max_ms);
    }
}

TEST(SimLineSettings, ParsesAsTheSerialDeviceDoes) {
    const struct {
        std::string text;
        std::optional<LineSettings> want;
    } cases[] = {
        {"19200,e,8,1", LineSettings{19200, 'e'}},
        {" 9600 , N , 8 , 2 ", LineSettings{9600, 'n'}},
        {"230400,o,7,1", LineSettings{230400, 'o'}},
        {"19200,e,8", std::nullopt},
        {"19200,e,8,1,0", std::nullopt},
        {"19201,e,8,1", std::nullopt},
        {"19200,x,8,1", std::nullopt},
        {"19200,e,9,1", std::nullopt},
        {"19200,e,8,1.5", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_line_settings(c.text), c.want) << c.text;
    EXPECT_NEAR(byte_time_us({19200, 'e'}), 572.9, 0.1);
    EXPECT_NEAR(byte_time_us({9600, 'n'}), 1041.7, 0.1);
}

// The program over a real pseudo-terminal.
TEST(SimProgram, AnswersOverAPseudoTerminal) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        execl(TORVIK_SIM_BINARY, TORVIK_SIM_BINARY, "--quiet", "--id", "7", nullptr);
        _exit(127);
    }
    ::close(out[1]);
    // Stops the program however the test ends.
    struct Stop {
        pid_t pid;
        int status = -1;
        ~Stop() {
            if (status == -1) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } stop{child};
    std::string path;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') path.push_back(c);
    ASSERT_FALSE(path.empty());

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << path;
    const auto set_speed = [fd](speed_t speed) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(fd, TCSANOW, &tio);
    };
    const auto exchange = [fd] {
        const unsigned char frame[] = {0x09, 0x49, 0x30, 0x30, 0x42, 0x30, 0x32, 0x0D};
        EXPECT_EQ(::write(fd, frame, sizeof frame), static_cast<ssize_t>(sizeof frame));
        std::string reply;
        pollfd pfd{fd, POLLIN, 0};
        while ((reply.empty() || reply.back() != '\r') && ::poll(&pfd, 1, 500) > 0) {
            char byte = 0;
            if (::read(fd, &byte, 1) == 1) reply.push_back(byte);
        }
        return reply;
    };

    set_speed(B9600);  // not the reader's speed: ignored
    EXPECT_EQ(exchange(), "");
    set_speed(B19200);
    const std::string reply = exchange();
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(reply.substr(0, 5), "\n007 ");
    const uint8_t x = link::xor8(reinterpret_cast<const uint8_t*>(reply.data()), 13);
    EXPECT_EQ(reply.substr(13, 2), link::hex_byte(x));

    ::close(fd);
    ::close(out[0]);
    kill(child, SIGTERM);
    ASSERT_EQ(waitpid(child, &stop.status, 0), child);
    EXPECT_TRUE(WIFEXITED(stop.status));
    EXPECT_EQ(WEXITSTATUS(stop.status), 0);
}

}  // namespace
}  // namespace torvik::sim

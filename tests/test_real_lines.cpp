// SPDX-License-Identifier: MIT
// The reader through the adapters and boards technicians use: a two-wire
// RS-485 adapter that hears its own frames, a transceiver that emits a byte
// as it turns the line around, a USB adapter's latency timer, a reply that
// comes after its budget, a reply in two parts. Each must show exactly what
// a clean line shows, or fail honestly; none may show wrong data as
// success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/text.h"
#include "link/checksum.h"
#include "link/protocol.h"
#include "sim/adapter.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

const char* kKey = "\\Software\\KELDO\\ReaderConfig";

struct Line {
    const char* settings;
    int index;
    sim::LineSettings reader;
};
const Line kLines[] = {{"19200,e,8,1", 5, {19200, 'e'}}, {"9600,e,8,1", 3, {9600, 'e'}}};

struct AdapterCase {
    const char* name;
    sim::Adapter adapter;
    // The scan finds the reader. A lost output-mode reply is not asked again
    // (one query after a good version query): the scan then fails, saying
    // so, with nothing wrong shown.
    bool found = true;
};

std::vector<AdapterCase> Adapters() {
    std::vector<AdapterCase> cases;
    cases.push_back({"clean", {}});
    sim::Adapter echo;
    echo.echo = true;
    cases.push_back({"echo", echo});
    sim::Adapter zero;
    zero.turnaround = std::string(1, '\0');
    cases.push_back({"turnaround 00", zero});
    sim::Adapter ff;
    ff.turnaround = "\xFF";
    cases.push_back({"turnaround FF", ff});
    sim::Adapter echo_ff = echo;
    echo_ff.turnaround = "\xFF";
    cases.push_back({"echo and turnaround", echo_ff});
    sim::Adapter latency;
    latency.latency_ms = 16;
    cases.push_back({"latency 16 ms", latency});
    sim::Adapter latency_echo = latency;
    latency_echo.echo = true;
    cases.push_back({"latency 16 ms with echo", latency_echo});
    for (const char* command : {"I00B", "I00V", "I00A", "I00C", "I00P"}) {
        sim::Adapter late;
        late.late_command = command;
        late.late_ms = 205;  // a few milliseconds after the budget
        cases.push_back({command, late, std::string(command) != "I00A"});
    }
    sim::Adapter split;
    split.split_after = 10;
    split.split_ms = 250;  // the rest after the budget
    cases.push_back({"split across the budget", split});
    sim::Adapter short_split;
    short_split.split_after = 10;
    short_split.split_ms = 8;
    cases.push_back({"split by 8 ms", short_split});
    return cases;
}

struct Seen {
    bool found = false;
    std::string serial, version, id;
    app::OutputMode mode;
    bool set_id = false;
    bool template_read = false;
    app::TemplatePieces pieces;
};

// A scan at the stored settings, Set ID 42, a template read of slot 5.
Seen RunThrough(const Line& line, const sim::Adapter& adapter) {
    Harness h;
    h.reader.line = line.reader;
    h.reader.templates[5] = {std::string(256, 'a'), std::string(256, 'b'), std::string(256, 'c')};
    h.line.set_adapter(adapter);
    auto& key = h.store.keys[kKey];
    key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
    key["ScanBaudRate"] = {app::ValueType::String, 0, line.settings};
    key["ScanBaudRateNo"] = {app::ValueType::Dword, static_cast<uint32_t>(line.index), {}};
    h.start();
    app::Reader& reader = *h.form.reader();
    Seen seen;
    const app::ScanResult scan = reader.Scan(false);
    seen.found = scan.succeeded();
    if (scan.reader) {
        seen.serial = scan.reader->serial;
        seen.version = scan.reader->version;
        seen.id = scan.reader->id;
        seen.mode = scan.reader->mode;
    }
    if (!seen.found) return seen;
    seen.set_id = reader.SetId("42").succeeded() && h.reader.id == 42;
    const app::TemplateResult read = reader.ReadTemplate(5);
    seen.template_read = read.succeeded();
    seen.pieces = read.pieces;
    return seen;
}

TEST(RealLines, EveryAdapterShowsWhatACleanLineShows) {
    for (const Line& line : kLines) {
        const Seen clean = RunThrough(line, {});
        ASSERT_TRUE(clean.found && clean.set_id && clean.template_read) << line.settings;
        EXPECT_EQ(clean.pieces[1], std::string(256, 'b'));
        for (const AdapterCase& c : Adapters()) {
            SCOPED_TRACE(std::string(c.name) + " at " + line.settings);
            const Seen seen = RunThrough(line, c.adapter);
            EXPECT_EQ(seen.found, c.found);
            EXPECT_EQ(seen.serial, clean.serial);
            EXPECT_EQ(seen.version, clean.version);
            EXPECT_EQ(seen.id, clean.id);
            if (!c.found) {
                EXPECT_EQ(seen.mode, (app::OutputMode{-1, -1, -1}));  // nothing read, nothing shown
                continue;
            }
            EXPECT_EQ(seen.mode, clean.mode);
            EXPECT_TRUE(seen.set_id);
            EXPECT_TRUE(seen.template_read);
            EXPECT_EQ(seen.pieces, clean.pieces);
        }
    }
}

// The exchange by itself: what it skips, what it discards, when it ends.
struct ExchangeRig {
    explicit ExchangeRig(const char* settings = "19200,e,8,1")
        : line(clock), port(line, clock), link(port, clock, pump) {
        line.set_port(1, doubles::FakeLine::PortKind::Scripted);
        EXPECT_TRUE(port.OpenPort(1, settings));
        link.set_trace([this](char direction, std::string_view bytes) {
            if (direction == '!') notes.emplace_back(bytes);
        });
    }
    struct NoPump final : link::EventPump {
        void process_pending() override {}
    } pump;
    doubles::VirtualClock clock;
    doubles::FakeLine line;
    link::Port port;
    link::Link link;
    std::vector<std::string> notes;
};

std::string ShortReply(const std::string& body) {
    const std::string frame = "\n" + body;
    const uint8_t y = link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    return frame + link::hex_byte(y) + "\r";
}

TEST(RealLines, WhatComesBeforeTheReply) {
    const std::string sent = link::EncodeShortFrame("I00B").bytes();
    const std::string reply = ShortReply("0AB");
    struct Case {
        const char* name;
        std::string before;
        bool accepted;
        const char* note;  // a note the trace must carry; empty: none
    } cases[] = {
        {"nothing", "", true, ""},
        {"the frame's echo", sent, true, "echo of the frame skipped"},
        {"turnaround 00", std::string(1, '\0'), true, "skipped 1 turnaround byte"},
        {"echo then FF", sent + "\xFF", true, "echo of the frame skipped"},
        {"two turnaround bytes", std::string("\xFF\x00", 2), true, "skipped 2 turnaround bytes"},
        // Anything else still fails as before: the reply must come first.
        {"half an echo", sent.substr(0, 3), false, ""},
        {"an echo of another frame", link::EncodeShortFrame("I00V").bytes(), false, ""},
        {"a stray byte", "X", false, ""},
        {"an echo with a wrong check", sent.substr(0, sent.size() - 2) + "00\r", false, ""},
    };
    for (const Case& c : cases) {
        ExchangeRig rig;
        rig.line.reply_next(c.before + reply, 1000, 500);
        EXPECT_EQ(rig.link.SendShort("I00B"), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(rig.link.last_reply(), reply) << c.name;
        }
        if (*c.note) {
            bool noted = false;
            for (const auto& n : rig.notes) noted = noted || n.find(c.note) != std::string::npos;
            EXPECT_TRUE(noted) << c.name;
        }
    }
}

TEST(RealLines, ALateReplyNeverAnswersTheNextCommand) {
    ExchangeRig rig;
    // The reply to the first command comes 5 ms after its budget; the next
    // command is sent 100 ms later and gets its own reply.
    rig.line.reply_next(ShortReply("first"), 205'000);
    EXPECT_FALSE(rig.link.SendShort("I00V"));
    rig.clock.sleep_ms(100);
    rig.line.reply_next(ShortReply("second"), 2000);
    EXPECT_TRUE(rig.link.SendShort("I00A"));
    EXPECT_EQ(rig.link.last_reply(), ShortReply("second"));
    EXPECT_EQ(rig.link.stale_bytes(), ShortReply("first").size());
    EXPECT_GT(rig.link.late_reply_ms(), 0);
    ASSERT_FALSE(rig.notes.empty());
    const std::string note =
        "discarded " + std::to_string(ShortReply("first").size()) + " stale bytes";
    EXPECT_EQ(rig.notes.front().rfind(note, 0), 0u) << rig.notes.front();
}

TEST(RealLines, AFrameStillArrivingGetsItsTimeASilentLineDoesNot) {
    struct Case {
        const char* name;
        std::string reply;
        uint64_t gap_us;  // between reply bytes
        bool accepted;
        uint32_t min_ms, max_ms;  // the wait after sending
    } cases[] = {
        // 264 bytes at 1.2 ms each: 317 ms, past the 200 ms budget.
        {"long reply at 9600", ShortReply("0P0" + std::string(256, 'x')), 1200, true, 310, 325},
        {"silence", "", 0, false, 200, 202},
        {"noise that is no reply", std::string(300, 'q'), 1200, false, 200, 203},
        // A frame that stops for good ends soon after its last byte.
        {"a frame cut off", "\n0ABC", 1200, false, 200, 204},
    };
    for (const Case& c : cases) {
        ExchangeRig rig("9600,e,8,1");
        rig.line.model_wire_time = false;
        if (!c.reply.empty()) rig.line.reply_next(c.reply, 1000, c.gap_us);
        const uint64_t before = rig.clock.now_us();
        EXPECT_EQ(rig.link.SendShort("I00P0000011"), c.accepted) << c.name;
        const uint64_t waited = (rig.clock.now_us() - before) / 1000 - 9;
        EXPECT_GE(waited, c.min_ms) << c.name;
        EXPECT_LE(waited, c.max_ms) << c.name;
    }
}

TEST(RealLines, AdapterSwitchesParse) {
    EXPECT_EQ(sim::ParseGlitch("00"), std::string(1, '\0'));
    EXPECT_EQ(sim::ParseGlitch("FF00"), std::string("\xFF\x00", 2));
    EXPECT_FALSE(sim::ParseGlitch("F"));
    EXPECT_FALSE(sim::ParseGlitch("GG"));
    EXPECT_EQ(sim::ParseLate("I00V:5"), std::make_pair(std::string("I00V"), 5u));
    EXPECT_FALSE(sim::ParseLate(":5"));
    EXPECT_FALSE(sim::ParseLate("I00V:"));
    EXPECT_EQ(sim::ParseSplit("10:250"), std::make_pair(size_t{10}, 250u));
    EXPECT_FALSE(sim::ParseSplit("0:250"));
    EXPECT_FALSE(sim::ParseSplit("10"));
}

}  // namespace
}  // namespace torvik::test

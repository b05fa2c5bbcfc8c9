// SPDX-License-Identifier: MIT
// Why an exchange got no valid reply, on scripted replies and the virtual
// clock: the kind of fault, the number of bytes and the first of them.
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
    void process_pending() override {}
};

std::string ShortReply(const std::string& body) {
    std::string frame = "\n" + body;
    const uint8_t y = link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    return frame + link::hex_byte(y) + "\r";
}

std::string LongReply(const std::string& body) {
    std::string frame = "\x03" + body + "\x04";
    return frame + link::crc_digits(link::crc16_arc(frame)) + "\r";
}

TEST(ReplyFaults, EachRefusalHasItsReason) {
    using link::ReplyFault;
    std::string bad_check = ShortReply("B01 12345678");
    bad_check[bad_check.size() - 2] ^= 1;
    std::string bad_crc = LongReply("ABCD");
    bad_crc[bad_crc.size() - 2] ^= 1;
    struct Case {
        const char* name;
        bool long_frame;
        std::string reply;
        uint64_t gap_us;
        ReplyFault want;
    } const cases[] = {
        {"valid short", false, ShortReply("B01 12345678"), 0, ReplyFault::kNone},
        {"silence", false, "", 0, ReplyFault::kNothing},
        {"short frame, wrong check", false, bad_check, 0, ReplyFault::kBadCheck},
        {"LF and CR only", false, "\n\r", 0, ReplyFault::kMalformed},
        {"no CR", false, "\nB01 1234", 0, ReplyFault::kCutOff},
        {"bytes without LF", false, "\x55\xAA\r\x55", 0, ReplyFault::kCutOff},
        {"valid long", true, LongReply("ABCD"), 0, ReplyFault::kNone},
        {"long frame, wrong CRC", true, bad_crc, 0, ReplyFault::kBadCheck},
        {"long frame without EOT", true,
         "\x03"
         "ABCDEF\r",
         0, ReplyFault::kMalformed},
        // A line that talks without pause for longer than twice the budget.
        {"babbling line", false, std::string(2000, '\x55'), 250, ReplyFault::kNeverQuiet},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        doubles::VirtualClock clock(0);
        doubles::FakeLine line(clock);
        NoPump pump;
        link::Port port(line, clock);
        link::Link link(port, clock, pump);
        line.set_port(1, doubles::FakeLine::PortKind::Scripted);
        ASSERT_TRUE(port.OpenPort(1, "19200,e,8,1"));
        if (!c.reply.empty()) line.reply_next(c.reply, 1000, c.gap_us);
        const bool ok = c.long_frame ? link.SendLong("AB") : link.SendShort("I00B");
        EXPECT_EQ(ok, c.want == ReplyFault::kNone);
        EXPECT_EQ(link.last_fault(), c.want) << link::DescribeFault(link.last_fault());
        EXPECT_EQ(link.first_bytes(), c.reply.substr(0, link::Link::kFirstBytes));
        if (c.want != ReplyFault::kNeverQuiet) {
            EXPECT_EQ(link.bytes_received(), static_cast<int>(c.reply.size()));
        }
    }
}

}  // namespace
}  // namespace torvik

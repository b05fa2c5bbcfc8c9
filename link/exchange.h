// SPDX-License-Identifier: MIT
// One command, one reply: the short and the long frame exchanges over the
// open port, and the receive records they share.
//
// Short frame, as sent (n payload bytes):
//   +-----+-----------+----------------+----+
//   | TAB | payload   | XOR hi | XOR lo | CR |    XOR = 0x09 ^ payload bytes
//   +-----+-----------+----------------+----+
// Short reply, positions from 1 (L bytes):
//   | 1: LF | 2..L-3: body | L-2, L-1: XOR of 1..L-3 | L: CR |
//
// Long frame, as sent:
//   +-----+---------+-----+----------------------+----+
//   | SOH | payload | STX | CRC digits (4, hi 1st) | CR |  CRC-16/ARC of SOH..STX
//   +-----+---------+-----+----------------------+----+
// Long reply, positions from 1 (E = first EOT):
//   | 1: ETX | 2..E-1: body (>= 4) | E: EOT | E+1..E+4: CRC of 1..E | CR |
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "link/clock.h"
#include "link/event_pump.h"
#include "link/port.h"

namespace torvik::link {

constexpr uint8_t kSOH = 0x01, kSTX = 0x02, kETX = 0x03, kEOT = 0x04;
constexpr uint8_t kTAB = 0x09, kLF = 0x0A, kCR = 0x0D;
constexpr uint32_t kShortBudgetMs = 200;
constexpr uint32_t kLongBudgetMs = 300;

// Optional wire trace: direction ('>' sent, '<' accepted reply, '?' bytes
// the exchange refused or that were cut off; Link::last_fault() says why).
using TraceSink = std::function<void(char direction, std::string_view bytes)>;

// Why the last exchange got no valid reply.
enum class ReplyFault {
    kNone,        // a valid reply came
    kNothing,     // not a byte arrived within the budget
    kCutOff,      // bytes arrived, but no frame ended within the budget
    kBadCheck,    // a frame ended, but its check digits did not match
    kMalformed,   // a frame ended, but it is not shaped like a reply
    kNeverQuiet,  // the line kept talking until twice the budget
};

// "no reply", "cut off: no frame end within the time", ...
std::string DescribeFault(ReplyFault fault);

class Link {
  public:
    static constexpr size_t kBufferSize = 1024;

    Link(Port& port, Clock& clock, EventPump& pump) : port_(port), clock_(clock), pump_(pump) {}

    // Sends the payload in a short frame and waits up to 200 ms for a reply;
    // true for a complete reply whose check digits match.
    bool SendShort(std::string_view payload);
    // Sends the payload in a long frame and waits up to 300 ms for a reply;
    // true for a complete reply whose CRC digits match.
    bool SendLong(std::string_view payload);

    // Bytes stored since the exchange began (the reply's length after a
    // complete reply), 0..1023.
    int receive_count() const { return count_; }
    // The last complete reply frame, up to the first zero byte.
    const std::string& last_reply() const { return last_reply_; }
    const std::array<uint8_t, kBufferSize>& buffer() const { return buffer_; }
    // Characters of the last reply at 1-based positions first..first+length-1,
    // clipped to the text.
    std::string field(int first, int length) const;
    // Character of the last reply at a 1-based position, '\0' beyond its end.
    char at(int position) const;

    // Why the last exchange failed (kNone after a valid reply), how many
    // bytes it received, and the first of them (at most kFirstBytes).
    static constexpr size_t kFirstBytes = 16;
    ReplyFault last_fault() const { return fault_; }
    int bytes_received() const { return bytes_received_; }
    const std::string& first_bytes() const { return first_bytes_; }

    void set_trace(TraceSink sink) { trace_ = std::move(sink); }
    Port& port() { return port_; }

  private:
    void trace_sent(const std::string& frame);
    void trace_received(bool complete);
    void finish_reply();
    // Reads until on_byte says the exchange is over (its result) or the
    // budget has passed at an empty read (false).
    template <class OnByte>
    bool Receive(uint32_t budget_ms, OnByte on_byte);

    Port& port_;
    Clock& clock_;
    EventPump& pump_;
    std::array<uint8_t, kBufferSize> buffer_{};
    int count_ = 0;
    std::string last_reply_;
    TraceSink trace_;
    std::string trace_rx_;
    ReplyFault fault_ = ReplyFault::kNone;
    int bytes_received_ = 0;
    std::string first_bytes_;
};

}  // namespace torvik::link

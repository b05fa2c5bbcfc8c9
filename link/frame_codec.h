// SPDX-License-Identifier: MIT
// The two frame formats of the reader protocol, as bytes: frames to send are
// encoded, replies are assembled from the bytes fed in one at a time. The
// codec knows no clock and does no I/O; the exchange (link/exchange.h) feeds
// it and keeps the time.
//
// Short frame, as sent (n payload bytes):
//   +-----+-----------+--------+--------+----+
//   | TAB | payload   | XOR hi | XOR lo | CR |    XOR = 0x09 ^ payload bytes
//   +-----+-----------+--------+--------+----+
// Short reply, positions from 1 (L bytes):
//   | 1: LF | 2..L-3: body | L-2, L-1: XOR of 1..L-3 | L: CR |
//
// Long frame, as sent:
//   +-----+---------+-----+------------------------+----+
//   | SOH | payload | STX | CRC digits (4, hi 1st) | CR |  CRC-16/ARC of SOH..STX
//   +-----+---------+-----+------------------------+----+
// Long reply, positions from 1 (E = first EOT):
//   | 1: ETX | 2..E-1: body (>= 4) | E: EOT | E+1..E+4: CRC of 1..E | CR |
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvik::link {

constexpr uint8_t kSOH = 0x01, kSTX = 0x02, kETX = 0x03, kEOT = 0x04;
constexpr uint8_t kTAB = 0x09, kLF = 0x0A, kCR = 0x0D;

enum class FrameKind { kShort, kLong };

// A frame as the port sends it: the lead byte, the payload in one block,
// then the tail byte by byte (the reader's receiver wants those pauses).
struct OutgoingFrame {
    uint8_t lead = 0;
    std::string payload;
    std::string tail;
    std::string bytes() const;
};

OutgoingFrame EncodeShortFrame(std::string_view payload);
OutgoingFrame EncodeLongFrame(std::string_view payload);

// Why an exchange got no valid reply. The codec tells the last three; the
// exchange, which keeps the time, the others.
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

// The receive records both exchanges share: a buffer of 1024 bytes, the
// count of bytes stored since the exchange began, and the last complete
// reply frame as text up to its first zero byte.
class ReplyAssembler {
  public:
    static constexpr size_t kBufferSize = 1024;

    // A new exchange of the given kind: the buffer is cleared and the count
    // is 0; the last reply stays until a complete frame replaces it.
    void Begin(FrameKind kind);
    // Takes the next byte that arrived. Nothing while the frame goes on;
    // otherwise whether the frame that ended with it is accepted.
    std::optional<bool> Feed(uint8_t byte);

    int count() const { return count_; }
    const std::string& last_reply() const { return last_reply_; }
    const std::array<uint8_t, kBufferSize>& buffer() const { return buffer_; }
    // kBadCheck or kMalformed after a refused frame, kNone after an accepted one.
    ReplyFault fault() const { return fault_; }

  private:
    std::optional<bool> FeedShort(uint8_t byte);
    std::optional<bool> FeedLong(uint8_t byte);
    void FinishReply();

    FrameKind kind_ = FrameKind::kShort;
    std::array<uint8_t, kBufferSize> buffer_{};
    int count_ = 0;
    int etx_pos_ = 0, eot_pos_ = 0;  // long replies; 0: none seen
    std::string last_reply_;
    ReplyFault fault_ = ReplyFault::kNone;
};

}  // namespace torvik::link

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
//
// Real lines put bytes before a reply that are not the reader's: a
// two-wire RS-485 adapter whose receiver stays on hears the frame just
// sent, and a transceiver may emit 0x00 or 0xFF as it turns the line
// around. Before the first byte of the reply is stored, the echo of the
// frame just sent (all of it, in order) and single 0x00 and 0xFF bytes are
// skipped; a frame the tool sends begins with TAB or SOH, so it is never
// taken for a reply (LF or ETX). A partial echo that turns out to be
// something else is taken as it came.
class ReplyAssembler {
  public:
    static constexpr size_t kBufferSize = 1024;

    // A new exchange of the given kind, after `sent` went out: the buffer is
    // cleared and the count is 0; the last reply stays until a complete
    // frame replaces it. After an exchange that ended inside a reply frame,
    // the rest of that frame may still come: with `after_cut_off`, bytes up
    // to and with the first CR before a reply begins are skipped as its rest.
    void Begin(FrameKind kind, std::string_view sent = {}, bool after_cut_off = false);
    // Takes the next byte that arrived. Nothing while the frame goes on;
    // otherwise whether the frame that ended with it is accepted.
    std::optional<bool> Feed(uint8_t byte);

    // A reply frame has begun (its LF or ETX is stored) and has not ended.
    bool in_frame() const;
    // What was skipped before the reply: the echo of the frame sent, and
    // turnaround bytes.
    bool echo_skipped() const { return echo_skipped_; }
    int turnaround_bytes() const { return turnaround_bytes_; }
    // Bytes skipped as the rest of a frame cut off in the exchange before.
    int remainder_bytes() const { return remainder_bytes_; }

    int count() const { return count_; }
    const std::string& last_reply() const { return last_reply_; }
    const std::array<uint8_t, kBufferSize>& buffer() const { return buffer_; }
    // kBadCheck or kMalformed after a refused frame, kNone after an accepted one.
    ReplyFault fault() const { return fault_; }

  private:
    std::optional<bool> Store(uint8_t byte);
    std::optional<bool> FeedShort(uint8_t byte);
    std::optional<bool> FeedLong(uint8_t byte);
    void FinishReply();

    FrameKind kind_ = FrameKind::kShort;
    std::string sent_;
    size_t echo_matched_ = 0;  // bytes of the sent frame that came back so far
    bool echo_possible_ = true;
    bool echo_skipped_ = false;
    int turnaround_bytes_ = 0;
    bool skip_remainder_ = false;
    int remainder_bytes_ = 0;
    bool stored_any_ = false;
    bool ended_ = false;
    std::array<uint8_t, kBufferSize> buffer_{};
    int count_ = 0;
    int etx_pos_ = 0, eot_pos_ = 0;  // long replies; 0: none seen
    std::string last_reply_;
    ReplyFault fault_ = ReplyFault::kNone;
};

}  // namespace torvik::link

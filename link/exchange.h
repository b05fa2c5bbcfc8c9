// SPDX-License-Identifier: MIT
// One command, one reply: the short and the long frame exchange over the
// open port. The exchange writes the encoded frame with the pauses the
// reader's receiver relies on, feeds the bytes that come back to the reply
// assembler (link/frame_codec.h), keeps the reply budget on the clock,
// handles window events while it waits, and writes the wire trace.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "link/clock.h"
#include "link/event_pump.h"
#include "link/frame_codec.h"
#include "link/port.h"
#include "link/protocol.h"

namespace torvik::link {

constexpr uint32_t kShortBudgetMs = 200;
constexpr uint32_t kLongBudgetMs = 300;

// Optional wire trace: direction ('>' sent, '<' accepted reply, '?' bytes
// the exchange refused or that were cut off, Link::last_fault() says why;
// '!' a note of the exchange's own in words, such as "discarded 16 stale
// bytes" or "echo of the frame skipped").
using TraceSink = std::function<void(char direction, std::string_view bytes)>;

class Link {
  public:
    static constexpr size_t kBufferSize = ReplyAssembler::kBufferSize;

    Link(Port& port, Clock& clock, EventPump& pump) : port_(port), clock_(clock), pump_(pump) {}

    // Sends the payload in a short frame and waits up to 200 ms for a reply;
    // true for a complete reply whose check digits match.
    bool SendShort(std::string_view payload);
    // Sends the payload in a long frame and waits up to 300 ms for a reply;
    // true for a complete reply whose CRC digits match.
    bool SendLong(std::string_view payload);
    //
    // What real lines need beyond that:
    // - Input that waits before a frame is sent is the rest of an earlier
    //   exchange (a reply that came after its budget): it is discarded, so
    //   it never becomes the reply to this command.
    // - The echo of the frame just sent and turnaround bytes before the
    //   reply are skipped (link/frame_codec.h), and so is the rest of a reply
    //   frame the exchange before gave up on.
    // - A reply frame still arriving when the budget ends gets the time its
    //   remaining bytes need at the line's speed, plus the adapter's
    //   latency, up to the time of the longest reply; a pause within it that
    //   the line and adapter do not explain ends it. A silent line ends at
    //   the budget; a line that never goes quiet ends at twice the budget,
    //   or at the budget plus the longest reply's time when that is later.

    // Bytes stored since the exchange began (the reply's length after a
    // complete reply), 0..1023.
    int receive_count() const { return rx_.count(); }
    // The last complete reply frame, up to the first zero byte.
    const std::string& last_reply() const { return rx_.last_reply(); }
    const std::array<uint8_t, kBufferSize>& buffer() const { return rx_.buffer(); }
    // The last reply with the receive count, for the reply decoders.
    Reply reply() const { return Reply{rx_.last_reply(), rx_.count()}; }

    // Why the last exchange failed (kNone after a valid reply), how many
    // bytes it received, and the first of them (at most kFirstBytes).
    static constexpr size_t kFirstBytes = 16;
    ReplyFault last_fault() const { return fault_; }
    int bytes_received() const { return bytes_received_; }
    const std::string& first_bytes() const { return first_bytes_; }
    // What the last exchange met on the line: stale bytes discarded before
    // sending, and of them a reply that came after the previous exchange's
    // budget (milliseconds from that budget's end to when it was found, -1
    // when none); the echo skipped, turnaround bytes skipped; whether it ran
    // past its budget for a frame still arriving.
    size_t stale_bytes() const { return stale_bytes_; }
    int late_reply_ms() const { return late_reply_ms_; }
    bool echo_skipped() const { return rx_.echo_skipped(); }
    int turnaround_bytes() const { return rx_.turnaround_bytes(); }
    int remainder_bytes() const { return rx_.remainder_bytes(); }
    bool ran_past_budget() const { return ran_past_budget_; }

    void set_trace(TraceSink sink) { trace_ = std::move(sink); }

  private:
    bool Exchange(const OutgoingFrame& frame, FrameKind kind, uint32_t budget_ms);
    void trace_received(bool complete);
    void Note(const std::string& text);
    void DiscardStale();

    Port& port_;
    Clock& clock_;
    EventPump& pump_;
    ReplyAssembler rx_;
    TraceSink trace_;
    std::string trace_rx_;
    ReplyFault fault_ = ReplyFault::kNone;
    int bytes_received_ = 0;
    std::string first_bytes_;
    size_t stale_bytes_ = 0;
    int late_reply_ms_ = -1;
    bool ran_past_budget_ = false;
    // The last exchange ended without a complete frame, its budget ending
    // then; and it ended inside a reply frame.
    bool last_timed_out_ = false;
    bool last_cut_off_ = false;
    unsigned last_opening_ = 0;  // the port opening of the last exchange
    uint32_t last_budget_end_ms_ = 0;
};

}  // namespace torvik::link

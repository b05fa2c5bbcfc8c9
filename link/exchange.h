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
// the exchange refused or that were cut off; Link::last_fault() says why).
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

    void set_trace(TraceSink sink) { trace_ = std::move(sink); }

  private:
    bool Exchange(const OutgoingFrame& frame, FrameKind kind, uint32_t budget_ms);
    void trace_received(bool complete);

    Port& port_;
    Clock& clock_;
    EventPump& pump_;
    ReplyAssembler rx_;
    TraceSink trace_;
    std::string trace_rx_;
    ReplyFault fault_ = ReplyFault::kNone;
    int bytes_received_ = 0;
    std::string first_bytes_;
};

}  // namespace torvik::link

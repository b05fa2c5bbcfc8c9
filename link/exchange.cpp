// SPDX-License-Identifier: MIT
#include "link/exchange.h"

namespace torvik::link {

void Link::trace_received(bool complete) {
    if (!trace_) return;
    trace_(complete ? '<' : '?', trace_rx_);
    trace_rx_.clear();
}

bool Link::SendShort(std::string_view payload) {
    return Exchange(EncodeShortFrame(payload), FrameKind::kShort, kShortBudgetMs);
}

bool Link::SendLong(std::string_view payload) {
    return Exchange(EncodeLongFrame(payload), FrameKind::kLong, kLongBudgetMs);
}

bool Link::Exchange(const OutgoingFrame& frame, FrameKind kind, uint32_t budget_ms) {
    rx_.Begin(kind);
    fault_ = ReplyFault::kNothing;
    if (trace_) {
        trace_('>', frame.bytes());
        trace_rx_.clear();
    }

    // Bytes already waiting in the input are not discarded.
    port_.WriteByte(frame.lead);
    port_.WriteBlock(reinterpret_cast<const uint8_t*>(frame.payload.data()), frame.payload.size());
    for (const char c : frame.tail) port_.WriteByte(static_cast<uint8_t>(c));

    // The budget is measured at empty reads, so a reply still streaming in
    // when the budget passes may finish; window events are handled at every
    // empty read. A line that never pauses (a babbling device, noise at high
    // speed) would hold the exchange, and the window, for as long as it
    // talks: at twice the budget the exchange ends whatever arrives.
    const uint32_t start = clock_.now_ms();
    const uint32_t hard_limit_ms = 2 * budget_ms;
    uint32_t elapsed = 0;
    bytes_received_ = 0;
    first_bytes_.clear();
    do {
        uint8_t byte = 0;
        if (port_.ReadByte(byte)) {
            if (trace_) trace_rx_.push_back(static_cast<char>(byte));
            ++bytes_received_;
            if (first_bytes_.size() < kFirstBytes) first_bytes_.push_back(static_cast<char>(byte));
            if (const std::optional<bool> done = rx_.Feed(byte)) {
                fault_ = rx_.fault();
                trace_received(*done);
                return *done;
            }
            fault_ = ReplyFault::kCutOff;
            if (elapsed_ms(start, clock_.now_ms()) > hard_limit_ms) {
                fault_ = ReplyFault::kNeverQuiet;
                break;
            }
        } else {
            pump_.process_pending();
            elapsed = elapsed_ms(start, clock_.now_ms());
        }
    } while (elapsed <= budget_ms);
    trace_received(false);
    return false;
}

}  // namespace torvik::link

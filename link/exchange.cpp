// SPDX-License-Identifier: MIT
#include "link/exchange.h"

#include <algorithm>

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

void Link::Note(const std::string& text) {
    if (trace_) trace_('!', text);
}

void Link::DiscardStale() {
    stale_bytes_ = port_.DiscardInput();
    late_reply_ms_ = -1;
    if (stale_bytes_ == 0) return;
    std::string note = "discarded " + std::to_string(stale_bytes_) + " stale byte" +
                       (stale_bytes_ == 1 ? "" : "s");
    if (last_timed_out_ && last_opening_ == port_.openings()) {
        late_reply_ms_ = static_cast<int>(elapsed_ms(last_budget_end_ms_, clock_.now_ms()));
        note += " (a reply that came within " + std::to_string(late_reply_ms_) +
                " ms after its budget)";
    }
    Note(note);
}

bool Link::Exchange(const OutgoingFrame& frame, FrameKind kind, uint32_t budget_ms) {
    DiscardStale();
    const std::string sent = frame.bytes();
    // A frame cut off on an earlier opening of the port has no rest to come.
    rx_.Begin(kind, sent, last_cut_off_ && last_opening_ == port_.openings());
    last_opening_ = port_.openings();
    fault_ = ReplyFault::kNothing;
    ran_past_budget_ = false;
    if (trace_) {
        trace_('>', sent);
        trace_rx_.clear();
    }

    port_.WriteByte(frame.lead);
    port_.WriteBlock(reinterpret_cast<const uint8_t*>(frame.payload.data()), frame.payload.size());
    for (const char c : frame.tail) port_.WriteByte(static_cast<uint8_t>(c));

    // The budget is measured at empty reads, so a reply still streaming in
    // when the budget passes may finish; window events are handled at every
    // empty read.
    const uint32_t start = clock_.now_ms();
    const double byte_us = port_.byte_time_us();
    // An adapter that does not tell its latency timer is taken to have the
    // usual one of USB adapters.
    constexpr uint32_t kUsualLatencyMs = 16;
    const uint32_t latency = port_.latency_ms() > 0 ? port_.latency_ms() : kUsualLatencyMs;
    // The longest reply's time on this line, the adapter's latency with it.
    const uint32_t longest_ms =
        byte_us > 0 ? static_cast<uint32_t>(kLongestReplyBytes * byte_us / 1000.0) + 1 + latency
                    : 0;
    // A pause within a frame that the line explains: a byte or two, and the
    // adapter passing bytes on in bursts.
    const uint32_t pause_ms = static_cast<uint32_t>(2 * byte_us / 1000.0) + 2 + latency;
    // A line that never pauses (a babbling device, noise at high speed)
    // would hold the exchange, and the window, for as long as it talks.
    const uint32_t hard_limit_ms = std::max(2 * budget_ms, budget_ms + longest_ms);
    uint32_t last_byte_ms = 0;  // since start, when the last byte came
    bytes_received_ = 0;
    first_bytes_.clear();
    bool done = false, accepted = false;
    for (;;) {
        uint8_t byte = 0;
        if (port_.ReadByte(byte)) {
            if (trace_) trace_rx_.push_back(static_cast<char>(byte));
            ++bytes_received_;
            if (first_bytes_.size() < kFirstBytes) first_bytes_.push_back(static_cast<char>(byte));
            if (const std::optional<bool> result = rx_.Feed(byte)) {
                fault_ = rx_.fault();
                done = true;
                accepted = *result;
                break;
            }
            fault_ = ReplyFault::kCutOff;
            last_byte_ms = elapsed_ms(start, clock_.now_ms());
            if (last_byte_ms > hard_limit_ms) {
                fault_ = ReplyFault::kNeverQuiet;
                break;
            }
            continue;
        }
        pump_.process_pending();
        const uint32_t elapsed = elapsed_ms(start, clock_.now_ms());
        if (elapsed <= budget_ms) continue;
        // Past the budget: only a reply frame that is still arriving goes on.
        if (rx_.in_frame() && byte_us > 0 && elapsed <= budget_ms + longest_ms &&
            elapsed - last_byte_ms <= pause_ms) {
            ran_past_budget_ = true;
            continue;
        }
        break;
    }
    if (rx_.echo_skipped()) Note("echo of the frame skipped");
    if (rx_.turnaround_bytes() > 0)
        Note("skipped " + std::to_string(rx_.turnaround_bytes()) + " turnaround byte" +
             (rx_.turnaround_bytes() == 1 ? "" : "s") + " (00 or FF) before the reply");
    if (ran_past_budget_)
        Note("the reply was still arriving at the end of the budget: waited " +
             std::to_string(elapsed_ms(start, clock_.now_ms())) + " ms");
    if (rx_.remainder_bytes() > 0)
        Note("skipped " + std::to_string(rx_.remainder_bytes()) +
             " bytes: the rest of the reply cut off before");
    last_timed_out_ = !done;
    last_cut_off_ = !done && rx_.in_frame();
    last_budget_end_ms_ = start + budget_ms;
    if (done) {
        trace_received(accepted);
        return accepted;
    }
    trace_received(false);
    return false;
}

}  // namespace torvik::link

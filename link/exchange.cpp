// SPDX-License-Identifier: MIT
#include "link/exchange.h"

#include <cstring>
#include <optional>

#include "link/checksum.h"

namespace torvik::link {

std::string DescribeFault(ReplyFault fault) {
    switch (fault) {
        case ReplyFault::kNone:
            return "valid reply";
        case ReplyFault::kNothing:
            return "no reply";
        case ReplyFault::kCutOff:
            return "cut off: no frame ended in time";
        case ReplyFault::kBadCheck:
            return "refused: check digits do not match";
        case ReplyFault::kMalformed:
            return "refused: not a reply frame";
        case ReplyFault::kNeverQuiet:
            return "cut off: the line never went quiet";
    }
    return "refused";
}

std::string Link::field(int first, int length) const {
    if (first < 1 || length <= 0) return {};
    const auto start = static_cast<size_t>(first - 1);
    if (start >= last_reply_.size()) return {};
    return last_reply_.substr(start, static_cast<size_t>(length));
}

char Link::at(int position) const {
    if (position < 1 || static_cast<size_t>(position) > last_reply_.size()) return '\0';
    return last_reply_[static_cast<size_t>(position - 1)];
}

void Link::trace_sent(const std::string& frame) {
    if (!trace_) return;
    trace_('>', frame);
    trace_rx_.clear();
}

void Link::trace_received(bool complete) {
    if (!trace_) return;
    trace_(complete ? '<' : '?', trace_rx_);
    trace_rx_.clear();
}

void Link::finish_reply() {
    buffer_[static_cast<size_t>(count_)] = 0;
    const auto* text = reinterpret_cast<const char*>(buffer_.data());
    last_reply_.assign(text, strnlen(text, kBufferSize));
}

bool Link::SendShort(std::string_view payload) {
    buffer_.fill(0);
    fault_ = ReplyFault::kNothing;
    const auto* bytes = reinterpret_cast<const uint8_t*>(payload.data());
    const uint8_t x = xor8(bytes, payload.size(), kTAB);
    const char hi = hex_digit(x >> 4), lo = hex_digit(x & 0xF);
    if (trace_) {
        // Appended piece by piece: GCC 12 at -O3 reports a false -Werror=restrict
        // on a chain of std::string operator+ here (GCC bug 105329).
        std::string frame;
        frame.reserve(payload.size() + 4);
        frame.push_back(char(kTAB));
        frame.append(payload);
        frame += {hi, lo, char(kCR)};
        trace_sent(frame);
    }

    port_.WriteByte(kTAB);
    port_.WriteBlock(bytes, payload.size());
    port_.WriteByte(static_cast<uint8_t>(hi));
    port_.WriteByte(static_cast<uint8_t>(lo));
    port_.WriteByte(kCR);

    count_ = 0;
    return Receive(kShortBudgetMs, [this](uint8_t byte) -> std::optional<bool> {
        buffer_[static_cast<size_t>(count_)] = byte;
        if (++count_ == static_cast<int>(kBufferSize)) count_ = 0;
        if (byte != kCR || buffer_[0] != kLF) return std::nullopt;
        finish_reply();
        const int length = count_;
        if (length < 4) {
            fault_ = ReplyFault::kMalformed;
            return false;
        }
        const uint8_t y = xor8(buffer_.data(), static_cast<size_t>(length - 3));
        const bool valid = buffer_[static_cast<size_t>(length - 3)] == uint8_t(hex_digit(y >> 4)) &&
                           buffer_[static_cast<size_t>(length - 2)] == uint8_t(hex_digit(y & 0xF));
        fault_ = valid ? ReplyFault::kNone : ReplyFault::kBadCheck;
        return valid;
    });
}

bool Link::SendLong(std::string_view payload) {
    buffer_.fill(0);
    fault_ = ReplyFault::kNothing;
    std::string framed;
    framed.reserve(payload.size() + 2);
    framed.push_back(char(kSOH));
    framed.append(payload);
    framed.push_back(char(kSTX));
    const std::string digits = crc_digits(crc16_arc(framed));
    if (trace_) trace_sent(framed + digits + char(kCR));

    const auto* bytes = reinterpret_cast<const uint8_t*>(payload.data());
    port_.WriteByte(kSOH);
    port_.WriteBlock(bytes, payload.size());
    port_.WriteByte(kSTX);
    for (char d : digits) port_.WriteByte(static_cast<uint8_t>(d));
    port_.WriteByte(kCR);

    count_ = 0;
    int etx_pos = 0, eot_pos = 0;  // 0: none seen
    return Receive(kLongBudgetMs, [&](uint8_t byte) -> std::optional<bool> {
        if (byte == kETX) count_ = 0;
        buffer_[static_cast<size_t>(count_)] = byte;
        if (++count_ == static_cast<int>(kBufferSize)) {
            count_ = 0;
            fault_ = ReplyFault::kMalformed;
            return false;  // overflow
        }
        if (byte == kETX) etx_pos = count_;
        if (byte == kEOT) eot_pos = count_;
        if (byte != kCR) return std::nullopt;
        fault_ = ReplyFault::kMalformed;
        if (etx_pos == 0 || eot_pos == 0 || eot_pos <= etx_pos + 4) return false;
        finish_reply();
        // The CRC runs from the ETX to the first EOT, and the four characters
        // after it must be its digits. Only bytes of this frame count: an EOT
        // left in the buffer by a frame that an ETX restarted, or an EOT
        // closing a body of fewer than four bytes, never makes a frame valid.
        const auto received = static_cast<size_t>(count_);
        size_t eot = 0;
        while (eot < received && buffer_[eot] != kEOT) ++eot;
        if (eot < 5 || eot + 4 >= received) return false;
        const std::string want = crc_digits(crc16_arc(buffer_.data(), eot + 1));
        const bool valid = std::memcmp(buffer_.data() + eot + 1, want.data(), 4) == 0;
        fault_ = valid ? ReplyFault::kNone : ReplyFault::kBadCheck;
        return valid;
    });
}

template <class OnByte>
bool Link::Receive(uint32_t budget_ms, OnByte on_byte) {
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
            if (const std::optional<bool> done = on_byte(byte)) {
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

// SPDX-License-Identifier: MIT
#include "link/frame_codec.h"

#include <cstring>

#include "link/checksum.h"

namespace torvik::link {

std::string OutgoingFrame::bytes() const {
    std::string out;
    out.reserve(1 + payload.size() + tail.size());
    out.push_back(static_cast<char>(lead));
    out.append(payload);
    out.append(tail);
    return out;
}

OutgoingFrame EncodeShortFrame(std::string_view payload) {
    const uint8_t x = xor8(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), kTAB);
    OutgoingFrame frame;
    frame.lead = kTAB;
    frame.payload.assign(payload);
    frame.tail = hex_byte(x);
    frame.tail.push_back(static_cast<char>(kCR));
    return frame;
}

OutgoingFrame EncodeLongFrame(std::string_view payload) {
    std::string covered;
    covered.reserve(payload.size() + 2);
    covered.push_back(static_cast<char>(kSOH));
    covered.append(payload);
    covered.push_back(static_cast<char>(kSTX));
    OutgoingFrame frame;
    frame.lead = kSOH;
    frame.payload.assign(payload);
    frame.tail.push_back(static_cast<char>(kSTX));
    frame.tail += crc_digits(crc16_arc(covered));
    frame.tail.push_back(static_cast<char>(kCR));
    return frame;
}

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

void ReplyAssembler::Begin(FrameKind kind, std::string_view sent, bool after_cut_off) {
    kind_ = kind;
    buffer_.fill(0);
    count_ = 0;
    etx_pos_ = eot_pos_ = 0;
    fault_ = ReplyFault::kNone;
    sent_.assign(sent);
    echo_matched_ = 0;
    echo_possible_ = !sent_.empty();
    echo_skipped_ = false;
    turnaround_bytes_ = 0;
    skip_remainder_ = after_cut_off;
    remainder_bytes_ = 0;
    stored_any_ = false;
    ended_ = false;
}

std::optional<bool> ReplyAssembler::Feed(uint8_t byte) {
    if (!stored_any_) {
        if (echo_possible_ && byte == static_cast<uint8_t>(sent_[echo_matched_])) {
            if (++echo_matched_ == sent_.size()) {
                echo_skipped_ = true;
                echo_possible_ = false;
                echo_matched_ = 0;
            }
            return std::nullopt;
        }
        if (echo_matched_ > 0) {
            // Not the frame coming back after all: what was held back is
            // taken as it came, then this byte.
            echo_possible_ = false;
            const std::string held = sent_.substr(0, echo_matched_);
            echo_matched_ = 0;
            for (const char c : held) {
                if (const std::optional<bool> done = Store(static_cast<uint8_t>(c))) return done;
            }
            return Store(byte);
        }
        if (byte == 0x00 || byte == 0xFF) {
            ++turnaround_bytes_;
            return std::nullopt;
        }
        if (skip_remainder_) {
            // The rest of the frame the last exchange gave up on ends with
            // its CR; a reply's own first byte ends the skipping too.
            const uint8_t lead = kind_ == FrameKind::kShort ? kLF : kETX;
            if (byte != lead) {
                ++remainder_bytes_;
                if (byte == kCR) skip_remainder_ = false;
                return std::nullopt;
            }
            skip_remainder_ = false;
        }
    }
    return Store(byte);
}

std::optional<bool> ReplyAssembler::Store(uint8_t byte) {
    stored_any_ = true;
    const std::optional<bool> done = kind_ == FrameKind::kShort ? FeedShort(byte) : FeedLong(byte);
    if (done) ended_ = true;
    return done;
}

bool ReplyAssembler::in_frame() const {
    if (ended_ || !stored_any_) return false;
    return kind_ == FrameKind::kShort ? buffer_[0] == kLF : etx_pos_ > 0;
}

void ReplyAssembler::FinishReply() {
    buffer_[static_cast<size_t>(count_)] = 0;
    const auto* text = reinterpret_cast<const char*>(buffer_.data());
    last_reply_.assign(text, strnlen(text, kBufferSize));
}

std::optional<bool> ReplyAssembler::FeedShort(uint8_t byte) {
    // Bytes land from the first cell on; after 1024 the count wraps so that
    // the next byte lands in the first cell again. A frame is complete at a
    // CR only when the first cell holds the LF.
    buffer_[static_cast<size_t>(count_)] = byte;
    if (++count_ == static_cast<int>(kBufferSize)) count_ = 0;
    if (byte != kCR || buffer_[0] != kLF) return std::nullopt;
    FinishReply();
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
}

std::optional<bool> ReplyAssembler::FeedLong(uint8_t byte) {
    // An ETX starts the frame again at the first cell; the EOT position is
    // that of the most recent EOT of this exchange.
    if (byte == kETX) count_ = 0;
    buffer_[static_cast<size_t>(count_)] = byte;
    if (++count_ == static_cast<int>(kBufferSize)) {
        count_ = 0;
        fault_ = ReplyFault::kMalformed;
        return false;  // overflow
    }
    if (byte == kETX) etx_pos_ = count_;
    if (byte == kEOT) eot_pos_ = count_;
    if (byte != kCR) return std::nullopt;
    fault_ = ReplyFault::kMalformed;
    if (etx_pos_ == 0 || eot_pos_ == 0 || eot_pos_ <= etx_pos_ + 4) return false;
    FinishReply();
    // The CRC runs from the ETX to the first EOT, and the four characters
    // after it must be its digits. Only bytes of this frame count: an EOT
    // left in the buffer by a frame that an ETX restarted, or an EOT closing
    // a body of fewer than four bytes, never makes a frame valid.
    const auto received = static_cast<size_t>(count_);
    size_t eot = 0;
    while (eot < received && buffer_[eot] != kEOT) ++eot;
    if (eot < 5 || eot + 4 >= received) return false;
    const std::string want = crc_digits(crc16_arc(buffer_.data(), eot + 1));
    const bool valid = std::memcmp(buffer_.data() + eot + 1, want.data(), 4) == 0;
    fault_ = valid ? ReplyFault::kNone : ReplyFault::kBadCheck;
    return valid;
}

}  // namespace torvik::link

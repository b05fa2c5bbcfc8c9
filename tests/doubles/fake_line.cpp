// SPDX-License-Identifier: MIT
#include "tests/doubles/fake_line.h"

#include <algorithm>
#include <cmath>

namespace torvik::doubles {

namespace {
constexpr uint8_t kSOH = 0x01, kSTX = 0x02, kTAB = 0x09, kCR = 0x0D;
}  // namespace

void FakeLine::set_port(int port_number, PortKind kind) {
    ports_[port_number].kind = kind;
}

void FakeLine::attach(int port_number, Reader& reader) {
    PortSlot& slot = ports_[port_number];
    slot.kind = PortKind::Reader;
    slot.reader = &reader;
}

void FakeLine::script(std::string bytes, uint64_t start_us, uint64_t gap_us) {
    deliver(bytes, start_us, gap_us);
}

void FakeLine::reply_next(std::string bytes, uint64_t delay_us, uint64_t gap_us) {
    next_replies_.push_back({std::move(bytes), {delay_us, gap_us}});
}

bool FakeLine::open(int port_number, const std::string& settings) {
    const uint64_t now = clock_.now_us();
    const auto refuse = [&](std::string why) {
        last_failure_ = "COM" + std::to_string(port_number) + ": " + std::move(why);
        opens.push_back({port_number, settings, false, now});
        return false;
    };
    if (open_port_ != 0) return refuse("a port is already open");
    const auto found = ports_.find(port_number);
    if (found == ports_.end() || found->second.kind == PortKind::Absent) {
        return refuse("no such device");
    }
    if (found->second.kind == PortKind::Busy) return refuse("device busy");

    // A settings string the parser refuses leaves the line as it was.
    if (const auto line = parse_line_settings(settings)) found->second.line = *line;
    open_port_ = port_number;
    open_settings_ = settings;
    frame_rx_.clear();
    last_failure_.clear();
    opens.push_back({port_number, settings, true, now});
    return true;
}

void FakeLine::close() {
    if (open_port_ == 0) return;
    open_port_ = 0;
    incoming_.clear();
    frame_rx_.clear();
    ++closes;
}

void FakeLine::write(const uint8_t* data, size_t count) {
    if (open_port_ == 0) return;
    const uint64_t now = clock_.now_us();
    written.append(reinterpret_cast<const char*>(data), count);
    PortSlot& slot = ports_[open_port_];
    if (!unplugged_) {
        // An adapter that hears its own transmitter gives the bytes back.
        // The transmitter sends one byte after the other: a write waits for
        // the bytes before it to leave.
        const double line_us = model_wire_time ? sim::byte_time_us(slot.line) : 0.0;
        const uint64_t start = std::max(now, tx_free_us_);
        tx_free_us_ = start + static_cast<uint64_t>(line_us * static_cast<double>(count));
        for (const sim::Arrival& a : adapter_.Echo(
                 std::string_view(reinterpret_cast<const char*>(data), count), start, line_us))
            insert(a.byte, a.at_us);
    }

    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[i];
        if (byte == kTAB || byte == kSOH) frame_rx_.clear();
        if (!frame_rx_.empty() || byte == kTAB || byte == kSOH) {
            frame_rx_.push_back(static_cast<char>(byte));
            if (byte == kCR) record_frame(now);
        }
        if (unplugged_) continue;

        if (slot.kind == PortKind::Reader && slot.reader != nullptr) {
            Reader& reader = *slot.reader;
            // At another speed or parity the reader's receiver sees garbage.
            if (!(slot.line == reader.line)) continue;
            const size_t logged = reader.log.size();
            const std::string reply = reader.feed(byte, now);
            if (!reply.empty()) {
                const double byte_us = model_wire_time ? sim::byte_time_us(reader.line) : 0.0;
                const uint64_t delay_us =
                    uint64_t{reader.reply_delay_ms + reader.faults.extra_delay_ms} * 1000;
                const std::string_view payload =
                    reader.log.size() > logged ? std::string_view(reader.log.back().payload) : "";
                deliver_paced(payload, reply, now + delay_us, byte_us);
                reader.take_pending_line();
            }
        } else if (slot.kind == PortKind::Scripted && byte == kCR && !next_replies_.empty()) {
            auto [bytes, timing] = std::move(next_replies_.front());
            next_replies_.pop_front();
            deliver(bytes, now + timing.first, timing.second);
        }
    }
}

void FakeLine::record_frame(uint64_t now) {
    Frame frame{open_port_, open_settings_, frame_rx_[0] == char(kTAB) ? 'S' : 'L',
                {},         frame_rx_,      now};
    const std::string& raw = frame.raw;
    if (frame.kind == 'S') {
        // TAB payload hi lo CR
        if (raw.size() >= 4) frame.payload = raw.substr(1, raw.size() - 4);
    } else {
        // SOH payload STX d d d d CR
        const size_t stx = raw.size() >= 7 ? raw.size() - 6 : std::string::npos;
        if (stx != std::string::npos && raw[stx] == char(kSTX)) {
            frame.payload = raw.substr(1, stx - 1);
        } else {
            frame.payload = raw.substr(1, raw.size() - 2);
        }
    }
    frames.push_back(std::move(frame));
    frame_rx_.clear();
}

bool FakeLine::read_byte(uint8_t& byte) {
    // Like a read with a 1 ms time-out: a byte that arrives within the
    // millisecond is returned when it arrives.
    if (open_port_ != 0 && !unplugged_ && !incoming_.empty() &&
        incoming_.front().at_us <= clock_.now_us() + 1000) {
        clock_.advance_to_us(incoming_.front().at_us);
        byte = incoming_.front().byte;
        incoming_.pop_front();
        return true;
    }
    // The read's time-out passes without a byte.
    clock_.advance_us(1000);
    return false;
}

std::string FakeLine::device_path(int port_number) const {
    return "sim:COM" + std::to_string(port_number);
}

std::vector<std::string> FakeLine::payloads() const {
    std::vector<std::string> out;
    out.reserve(frames.size());
    for (const auto& frame : frames) out.push_back(frame.payload);
    return out;
}

void FakeLine::insert(uint8_t byte, uint64_t at_us) {
    // Keep arrival order: after every byte due at the same time or earlier.
    const auto place = std::upper_bound(incoming_.begin(), incoming_.end(), at_us,
                                        [](uint64_t t, const Pending& p) { return t < p.at_us; });
    incoming_.insert(place, Pending{byte, at_us});
}

void FakeLine::deliver(const std::string& bytes, uint64_t first_us, uint64_t gap_us) {
    uint64_t at = first_us;
    for (char c : bytes) {
        insert(static_cast<uint8_t>(c), at);
        at += gap_us;
    }
}

void FakeLine::deliver_paced(std::string_view payload, const std::string& bytes,
                             uint64_t start_us, double byte_us) {
    // A byte is there once its stop bit is on the wire; a reply cannot start
    // before the previous one has left the transmitter.
    uint64_t start = start_us;
    if (!incoming_.empty()) start = std::max(start, incoming_.back().at_us);
    for (const sim::Arrival& a : adapter_.Reply(payload, bytes, start, byte_us))
        insert(a.byte, a.at_us);
}

size_t FakeLine::discard_input() {
    if (open_port_ == 0) return 0;
    size_t dropped = 0;
    while (!incoming_.empty() && incoming_.front().at_us <= clock_.now_us()) {
        incoming_.pop_front();
        ++dropped;
    }
    return dropped;
}

double FakeLine::byte_time_us() const {
    const auto found = ports_.find(open_port_);
    return found == ports_.end() ? 0.0 : sim::byte_time_us(found->second.line);
}

}  // namespace torvik::doubles

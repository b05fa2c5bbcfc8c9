// SPDX-License-Identifier: MIT
#include "link/port.h"

namespace torvik::link {

bool Port::OpenPort(int port_number, const std::string& settings) {
    if (open_) return false;
    open_ = device_.open(port_number, settings);
    if (open_) ++openings_;
    port_number_ = port_number;
    settings_ = settings;
    if (watcher_) watcher_(PortEvent{true, port_number, settings, open_});
    return open_;
}

void Port::ClosePort() {
    if (!open_) return;
    device_.close();
    open_ = false;
    if (watcher_) watcher_(PortEvent{false, port_number_, settings_, false});
}

void Port::WriteByte(uint8_t byte) {
    if (open_) device_.write(&byte, 1);
    clock_.sleep_ms(1);
}

void Port::WriteBlock(const uint8_t* data, size_t count) {
    if (open_ && count > 0) device_.write(data, count);
    clock_.sleep_ms(5);
}

bool Port::ReadByte(uint8_t& byte) {
    if (!open_) {
        // Nothing to read from: still take the read's millisecond so that
        // no wait loop can spin.
        clock_.sleep_ms(1);
        return false;
    }
    return device_.read_byte(byte);
}

std::optional<std::pair<uint32_t, uint32_t>> ParseRs485Delays(std::string_view text) {
    const auto number = [](std::string_view digits) -> std::optional<uint32_t> {
        if (digits.empty() || digits.size() > 4) return std::nullopt;
        uint32_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value > 1000) return std::nullopt;
        return value;
    };
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto before = number(text.substr(0, comma));
    const auto after = number(text.substr(comma + 1));
    if (!before || !after) return std::nullopt;
    return std::make_pair(*before, *after);
}

}  // namespace torvik::link

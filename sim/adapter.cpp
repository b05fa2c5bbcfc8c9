// SPDX-License-Identifier: MIT
#include "sim/adapter.h"

#include <cmath>

namespace torvik::sim {

namespace {

std::optional<uint32_t> Number(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> ParseGlitch(std::string_view hex) {
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 16) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
    }
    return bytes;
}

std::optional<std::pair<std::string, uint32_t>> ParseLate(std::string_view text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const auto ms = Number(text.substr(colon + 1));
    if (!ms) return std::nullopt;
    return std::make_pair(std::string(text.substr(0, colon)), *ms);
}

std::optional<std::pair<size_t, uint32_t>> ParseSplit(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto k = Number(text.substr(0, colon));
    const auto ms = Number(text.substr(colon + 1));
    if (!k || !ms || *k == 0) return std::nullopt;
    return std::make_pair(static_cast<size_t>(*k), *ms);
}

uint64_t AdapterLine::PassOn(uint64_t at_us) const {
    if (adapter_.latency_ms == 0) return at_us;
    // Held until the next tick of the latency timer.
    const uint64_t period = uint64_t{adapter_.latency_ms} * 1000;
    return (at_us + period - 1) / period * period;
}

std::vector<Arrival> AdapterLine::Echo(std::string_view bytes, uint64_t now_us,
                                       double byte_us) const {
    std::vector<Arrival> out;
    if (!adapter_.echo) return out;
    double at = static_cast<double>(now_us);
    for (const char c : bytes) {
        at += byte_us;
        out.push_back({static_cast<uint8_t>(c), PassOn(static_cast<uint64_t>(std::llround(at)))});
    }
    return out;
}

std::vector<Arrival> AdapterLine::Reply(std::string_view payload, std::string_view reply,
                                        uint64_t start_us, double byte_us) {
    double at = static_cast<double>(start_us);
    if (!late_used_ && !adapter_.late_command.empty() &&
        payload.starts_with(adapter_.late_command)) {
        late_used_ = true;
        at += adapter_.late_ms * 1000.0;
    }
    std::vector<Arrival> out;
    const auto send = [&](char c) {
        at += byte_us;
        out.push_back({static_cast<uint8_t>(c), PassOn(static_cast<uint64_t>(std::llround(at)))});
    };
    for (const char c : adapter_.turnaround) send(c);
    const bool split = !split_used_ && adapter_.split_after > 0 && adapter_.split_after < reply.size();
    if (split) split_used_ = true;
    for (size_t i = 0; i < reply.size(); ++i) {
        if (split && i == adapter_.split_after) at += adapter_.split_ms * 1000.0;
        send(reply[i]);
    }
    return out;
}

}  // namespace torvik::sim

// SPDX-License-Identifier: MIT
// What sits between the tool's serial port and the reader, and how it
// shapes what the tool receives: the adapters and boards technicians use.
// A two-wire RS-485 adapter whose receiver stays on gives every byte sent
// back; a transceiver emits a byte as it turns the line around; a USB
// adapter passes received bytes on in bursts at its latency timer; a reply
// may come late or in two parts. The simulated reader on a pseudo-terminal
// and the in-process line both play it from this one description.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::sim {

struct Adapter {
    bool echo = false;         // the tool's bytes come back as they go out
    std::string turnaround;    // bytes emitted before every reply
    uint32_t latency_ms = 0;   // received bytes passed on at this period (0: at once)
    std::string late_command;  // the first reply to a payload with this prefix ...
    uint32_t late_ms = 0;      // ... comes this much later
    size_t split_after = 0;    // the first reply: its first bytes, then the rest ...
    uint32_t split_ms = 0;     // ... this much later
    bool operator==(const Adapter&) const = default;
};

// Reads the switches of torvik-sim into an adapter: "--echo", "--glitch
// HEX" (e.g. "00" or "FF00"), "--latency MS", "--late CMD:MS" (e.g.
// "I00V:5"), "--split K:MS". Nothing for a value that does not parse.
std::optional<std::string> ParseGlitch(std::string_view hex);
std::optional<std::pair<std::string, uint32_t>> ParseLate(std::string_view text);
std::optional<std::pair<size_t, uint32_t>> ParseSplit(std::string_view text);

// A byte and when it reaches the tool, in microseconds.
struct Arrival {
    uint8_t byte;
    uint64_t at_us;
    bool operator==(const Arrival&) const = default;
};

class AdapterLine {
  public:
    explicit AdapterLine(Adapter adapter = {}) : adapter_(std::move(adapter)) {}
    const Adapter& adapter() const { return adapter_; }

    // When a byte that reached the adapter at `at_us` reaches the tool.
    uint64_t PassOn(uint64_t at_us) const;
    // The echo of bytes the tool wrote at `now_us` (none without echo).
    std::vector<Arrival> Echo(std::string_view bytes, uint64_t now_us, double byte_us) const;
    // A reply the reader starts sending at `start_us`, to the command whose
    // payload is given: turnaround bytes first, each byte one byte time
    // after the one before, a late or split reply as described.
    std::vector<Arrival> Reply(std::string_view payload, std::string_view reply,
                               uint64_t start_us, double byte_us);

  private:
    Adapter adapter_;
    bool late_used_ = false;
    bool split_used_ = false;
};

}  // namespace torvik::sim

// SPDX-License-Identifier: MIT
// An in-process serial line for tests: up to 16 COM ports, each absent, busy,
// present but silent, or wired to a simulated reader; time is a virtual
// clock, and the reader's replies arrive at the times their line speed
// allows. Records every open and every frame the tool sends.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/serial_device.h"
#include "sim/adapter.h"
#include "sim/reader.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik::doubles {

using sim::LineSettings;
using sim::parse_line_settings;
using sim::Reader;

class FakeLine final : public link::SerialDevice {
  public:
    enum class PortKind { Absent, Busy, Silent, Reader, Scripted };

    explicit FakeLine(doubles::VirtualClock& clock) : clock_(clock) {}

    // Port setup. Ports not mentioned are absent.
    void set_port(int port_number, PortKind kind);
    void attach(int port_number, Reader& reader);  // PortKind::Reader

    // Scripted port (link tests): bytes delivered to the tool starting at a
    // given virtual time, one every `gap_us` microseconds.
    void script(std::string bytes, uint64_t start_us, uint64_t gap_us = 0);
    // Scripted reply bytes queued to arrive right after the next frame the
    // tool sends (each call queues a reply for one more frame).
    void reply_next(std::string bytes, uint64_t delay_us = 1000, uint64_t gap_us = 0);

    // The adapter is pulled: reads return nothing, writes go nowhere.
    void unplug() { unplugged_ = true; }
    // The adapter between the tool and the reader (echo, turnaround bytes,
    // latency timer, late or split replies).
    void set_adapter(sim::Adapter adapter) { adapter_ = sim::AdapterLine(std::move(adapter)); }

    // SerialDevice
    bool open(int port_number, const std::string& settings) override;
    void close() override;
    void write(const uint8_t* data, size_t count) override;
    bool read_byte(uint8_t& byte) override;
    size_t discard_input() override;
    double byte_time_us() const override;
    uint32_t latency_ms() const override { return adapter_.adapter().latency_ms; }
    std::string last_open_failure() const override { return last_failure_; }
    std::string device_path(int port_number) const override;

    // Records.
    struct OpenRecord {
        int port;
        std::string settings;
        bool ok;
        uint64_t at_us;
    };
    struct Frame {
        int port;
        std::string settings;
        char kind;            // 'S' short (TAB..CR), 'L' long (SOH..CR)
        std::string payload;  // without framing and check digits
        std::string raw;      // all bytes of the frame
        uint64_t at_us;       // time its last byte was written
    };
    std::vector<OpenRecord> opens;
    std::vector<Frame> frames;
    std::string written;  // every byte ever written
    int closes = 0;
    bool is_open() const { return open_port_ != 0; }
    // Payloads of the recorded frames, in order.
    std::vector<std::string> payloads() const;

    // Models byte times at the reader's speed (default on).
    bool model_wire_time = true;

  private:
    struct Pending {
        uint8_t byte;
        uint64_t at_us;
    };
    struct PortSlot {
        PortKind kind = PortKind::Absent;
        Reader* reader = nullptr;
        LineSettings line;  // what the tool set last (kept when a string is refused)
    };

    void deliver(const std::string& bytes, uint64_t first_us, uint64_t gap_us);
    // Reply bytes at the reader's byte time, the first one byte time after start.
    void deliver_paced(std::string_view payload, const std::string& bytes, uint64_t start_us,
                       double byte_us);
    void insert(uint8_t byte, uint64_t at_us);
    void record_frame(uint64_t now_us);

    doubles::VirtualClock& clock_;
    std::map<int, PortSlot> ports_;
    int open_port_ = 0;
    std::string open_settings_;  // settings string of the open port
    std::deque<Pending> incoming_;
    std::deque<std::pair<std::string, std::pair<uint64_t, uint64_t>>> next_replies_;
    std::string frame_rx_;  // bytes of the frame being written
    bool unplugged_ = false;
    std::string last_failure_;
    sim::AdapterLine adapter_;
    uint64_t tx_free_us_ = 0;  // when the tool's transmitter has sent what it was given
};

}  // namespace torvik::doubles

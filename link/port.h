// SPDX-License-Identifier: MIT
// The port state: the one serial port of the process, with the fixed pauses
// after writes that the reader's receiver relies on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/clock.h"
#include "link/serial_device.h"

namespace torvik::link {

// An opening (with its result) or a closing of the port, for the trace.
struct PortEvent {
    bool opening = true;  // false: the port was closed
    int port_number = 0;
    std::string settings;
    bool opened = false;  // an opening that succeeded
};

class Port {
  public:
    Port(SerialDevice& device, Clock& clock) : device_(device), clock_(clock) {}

    // Opens "COM" + number with the settings string. While a port is already
    // open this returns false and leaves that port alone: there is one handle.
    bool OpenPort(int port_number, const std::string& settings);
    // Restores the saved time-outs and closes; harmless when nothing is open.
    void ClosePort();
    bool is_open() const { return open_; }
    // Counts the openings: what arrives on one opening never belongs to an
    // exchange of an earlier one.
    unsigned openings() const { return openings_; }

    // Writes one byte, then sleeps 1 ms.
    void WriteByte(uint8_t byte);
    // Writes the bytes in one write, then sleeps 5 ms.
    void WriteBlock(const uint8_t* data, size_t count);
    // One read of at most one byte within about 1 ms.
    bool ReadByte(uint8_t& byte);

    // Discards unread input; the number of bytes thrown away.
    size_t DiscardInput() { return open_ ? device_.discard_input() : 0; }
    // The line's byte time and the adapter's latency (0 when unknown).
    double byte_time_us() const { return open_ ? device_.byte_time_us() : 0; }
    uint32_t latency_ms() const { return open_ ? device_.latency_ms() : 0; }

    SerialDevice& device() { return device_; }
    // Told of every opening and closing.
    void set_watcher(std::function<void(const PortEvent&)> watcher) {
        watcher_ = std::move(watcher);
    }

  private:
    SerialDevice& device_;
    Clock& clock_;
    bool open_ = false;
    unsigned openings_ = 0;
    int port_number_ = 0;
    std::string settings_;
    std::function<void(const PortEvent&)> watcher_;
};

}  // namespace torvik::link

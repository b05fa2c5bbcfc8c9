// SPDX-License-Identifier: MIT
// The platform's serial device: one port at a time, opened by its COM number.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvik::link {

// How the port's driver is asked to run the line, beyond its speed and
// format: a board's UART with an RS-485 transceiver needs the kernel's
// RS-485 mode (the driver switches the direction with RTS); a USB adapter
// can be asked to pass received bytes on at once instead of at its latency
// timer. Both are put back when the port is given back.
struct LineOptions {
    bool rs485 = false;
    uint32_t rs485_delay_before_ms = 0;  // RTS raised this long before sending
    uint32_t rs485_delay_after_ms = 0;   // and dropped this long after
    bool low_latency = false;
    bool operator==(const LineOptions&) const = default;
};

// "--rs485-delays BEFORE,AFTER" in milliseconds (0..1000 each); nothing for
// any other text.
std::optional<std::pair<uint32_t, uint32_t>> ParseRs485Delays(std::string_view text);

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;
    // Opens "COM" + number exclusively (existing devices only), saves the
    // device's read time-outs, applies the 1 ms read time-out and the settings
    // string ("19200,e,8,1"). A settings string the parser refuses leaves the
    // line settings as they were and the open still succeeds. False when the
    // device is missing, busy or cannot be opened.
    virtual bool open(int port_number, const std::string& settings) = 0;
    // Gives the device back as it was found (its time-outs, and on this
    // system its whole terminal state) and releases it.
    virtual void close() = 0;
    // One blocking write; errors are not reported.
    virtual void write(const uint8_t* data, size_t count) = 0;
    // One read of at most one byte that returns within about 1 ms; false when
    // no byte came or the read failed.
    virtual bool read_byte(uint8_t& byte) = 0;
    // Throws away whatever arrived and was not read yet; returns how many
    // bytes that was (0 when the device cannot tell).
    virtual size_t discard_input() { return 0; }
    // Microseconds one byte takes on the line as the device set it up (start
    // bit, data bits, parity bit, stop bits); 0 when unknown.
    virtual double byte_time_us() const { return 0; }
    // How long the adapter may hold received bytes before passing them on
    // (a USB adapter's latency timer), in milliseconds; 0 when none or unknown.
    virtual uint32_t latency_ms() const { return 0; }
    // How the next openings ask the driver to run the line.
    virtual void set_line_options(const LineOptions& /*options*/) {}
    // Why the last open failed, for the technician (empty when unknown).
    virtual std::string last_open_failure() const { return {}; }
    // What the last open that succeeded did beyond the usual, for the
    // technician (empty for nothing).
    virtual std::string last_open_note() const { return {}; }
    // The device a COM number stands for (empty when none).
    virtual std::string device_path(int /*port_number*/) const { return {}; }
    // A scan begins or ends: in between, the device may find out once which
    // ports the system uses, instead of at every opening.
    virtual void begin_scan() {}
    virtual void end_scan() {}
    // Serial devices left out of the COM numbering because the system uses
    // them, with the reason: ("/dev/ttyS0", "system console").
    virtual std::vector<std::pair<std::string, std::string>> skipped_ports() const { return {}; }
};

// Keeps a scan's bracket closed on every way out of the scan.
class ScanScope {
  public:
    explicit ScanScope(SerialDevice& device) : device_(device) { device_.begin_scan(); }
    ~ScanScope() { device_.end_scan(); }
    ScanScope(const ScanScope&) = delete;
    ScanScope& operator=(const ScanScope&) = delete;

  private:
    SerialDevice& device_;
};

}  // namespace torvik::link

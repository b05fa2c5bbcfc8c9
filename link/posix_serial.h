// SPDX-License-Identifier: MIT
// The serial device on this system: a tty opened exclusively by its COM
// number, in raw mode, read one byte at a time with a 1 ms wait. A port of
// the system (console, login terminal) is never opened; a port another
// program holds, by descriptor or by lock file, is left alone; and every
// port is given back exactly as it was found.
#pragma once
#include <termios.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/com_map.h"
#include "link/driver_requests.h"
#include "link/serial_device.h"
#include "link/tty_state.h"
#include "link/uucp_lock.h"

namespace torvik::link {

// The line part of a settings string such as "19200,e,8,1".
struct LineSettings {
    int baud = 0;       // one of the standard speeds from 110 to 230400
    char parity = 'n';  // 'n', 'e', 'o', 'm' (mark) or 's' (space), lower case
    int data_bits = 8;  // 5..8
    int stop_bits = 1;  // 1 or 2
    bool operator==(const LineSettings&) const = default;
};

// Parses "baud,parity,databits,stopbits". Blanks around a field are allowed,
// the parity letter may be in either case. Nothing for any other text
// (wrong field count, unknown speed, 1.5 stop bits, ...).
std::optional<LineSettings> parse_line_settings(std::string_view text);

// The latency timer of a USB adapter (FTDI adapters tell it in sysfs), in
// milliseconds, for the tty at `path` (its real name is looked up); nothing
// when the driver does not tell. `sysfs` is the root of sysfs ("/sys").
std::optional<uint32_t> read_latency_timer(const std::string& path,
                                           const std::string& sysfs = "/sys");

// Writes speed, character size, parity and stop bits into `t`, leaving every
// other flag alone. `line` must come from parse_line_settings.
void apply_line_settings(termios& t, const LineSettings& line);

// Why an open failed. Kept as a kind plus the path; a refused or busy device
// is looked into at once so that the text can say which group grants access
// or which program holds the port (link/port_diagnostics.h).
enum class OpenFailure {
    kNone,
    kNoSuchDevice,      // no device for the number, or no file at the path
    kPermissionDenied,  // the user may not open the device
    kBusy,              // another program (or another handle here) holds it
    kVanished,          // the file is there but the device behind it is gone
    kNotASerialDevice,  // the path is not a terminal (a file, a directory)
    kSystemPort,        // a console or a login terminal: never opened
    kAlreadyOpen,       // this object already holds a port
    kNoRs485,           // RS-485 mode asked for, and the driver has none or refused it
    kOther,             // anything else; the system's error text is kept
};

class PosixSerialDevice final : public SerialDevice {
  public:
    // `lock_dirs`: where lock files are looked for and taken.
    explicit PosixSerialDevice(const ComMap& map,
                               std::vector<std::string> lock_dirs = default_lock_dirs())
        : map_(map), lock_(std::move(lock_dirs)) {}
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool open(int port_number, const std::string& settings) override;
    void close() override;
    void write(const uint8_t* data, size_t count) override;
    bool read_byte(uint8_t& byte) override;
    size_t discard_input() override;
    double byte_time_us() const override;
    // The adapter's latency timer as its driver tells it (FTDI adapters), or 0.
    uint32_t latency_ms() const override { return latency_ms_; }
    void set_line_options(const LineOptions& options) override { line_options_ = options; }
    // "COM3 (/dev/ttyUSB0): permission denied", "COM3 (/dev/ttyUSB0): busy:
    // held by ModemManager (pid 812)", ...; empty after a good open.
    std::string last_open_failure() const override;
    // After a good open: what was done to the port beyond the usual ("the
    // port's exclusive flag, left set by a program that ended, was
    // cleared"); empty otherwise.
    std::string last_open_note() const override;
    std::string device_path(int port_number) const override { return map_.path(port_number); }
    void begin_scan() override { map_.system_ports().hold(); }
    void end_scan() override { map_.system_ports().release(); }
    std::vector<std::pair<std::string, std::string>> skipped_ports() const override {
        return map_.skipped_devices();
    }

    bool is_open() const { return fd_ >= 0; }

  private:
    // Records why an open failed; `detail` given here replaces the one the
    // kind would look up.
    bool fail(int port_number, std::string path, OpenFailure kind, int error = 0,
              std::string detail = {});

    const ComMap& map_;
    UucpLock lock_;
    int fd_ = -1;
    TtyState saved_;         // the line as it was found, put back at close
    int cleanup_slot_ = -1;  // where a signal handler finds the port
    OpenFailure failure_ = OpenFailure::kNone;
    int failure_port_ = 0;
    std::string failure_path_;
    // kOther: the system's error text; kPermissionDenied and kBusy: what
    // follows "permission denied" or "busy" (group advice, holders);
    // kSystemPort: what the system uses it for.
    std::string failure_detail_;
    std::string note_;
    LineOptions line_options_;
    DriverState driver_;  // what the line options changed, to be put back
    uint32_t latency_ms_ = 0;

    // RS-485 mode and low latency as asked; false (with why, for the
    // technician) when RS-485 mode cannot be had.
    bool apply_line_options(int fd, std::string& refusal);
};

}  // namespace torvik::link

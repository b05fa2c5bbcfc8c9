// The serial device on this system: a tty opened exclusively by its COM
// number, in raw mode, read one byte at a time with a 1 ms wait.
#pragma once
#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

#include "link/com_map.h"
#include "link/serial_device.h"

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
    kNotASerialDevice,  // the path is not a terminal
    kAlreadyOpen,       // this object already holds a port
    kOther,             // anything else; the system's error text is kept
};

class PosixSerialDevice final : public SerialDevice {
  public:
    explicit PosixSerialDevice(const ComMap& map) : map_(map) {}
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool open(int port_number, const std::string& settings) override;
    void close() override;
    void write(const uint8_t* data, size_t count) override;
    bool read_byte(uint8_t& byte) override;
    // "COM3 (/dev/ttyUSB0): permission denied", "COM3 (/dev/ttyUSB0): busy:
    // held by ModemManager (pid 812)", ...; empty after a good open.
    std::string last_open_failure() const override;
    std::string device_path(int port_number) const override { return map_.path(port_number); }

    bool is_open() const { return fd_ >= 0; }
    OpenFailure last_open_failure_kind() const { return failure_; }
    const std::string& last_open_failure_path() const { return failure_path_; }

  private:
    bool fail(int port_number, std::string path, OpenFailure kind, int error = 0);

    const ComMap& map_;
    int fd_ = -1;
    unsigned char saved_vmin_ = 0;
    unsigned char saved_vtime_ = 0;
    OpenFailure failure_ = OpenFailure::kNone;
    int failure_port_ = 0;
    std::string failure_path_;
    // kOther: the system's error text; kPermissionDenied and kBusy: what
    // follows "permission denied" or "busy" (group advice, holders).
    std::string failure_detail_;
};

}  // namespace torvik::link

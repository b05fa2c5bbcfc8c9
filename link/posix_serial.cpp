// SPDX-License-Identifier: MIT
#include "link/posix_serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>

#include "link/digits.h"
#include "link/exit_cleanup.h"
#include "link/port_diagnostics.h"
#include "link/terminal_text.h"

namespace torvik::link {
namespace {

struct Speed {
    int baud;
    speed_t code;
};

constexpr std::array<Speed, 16> kSpeeds = {{
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

std::optional<speed_t> speed_code(int baud) {
    for (const Speed& s : kSpeeds) {
        if (s.baud == baud) return s.code;
    }
    return std::nullopt;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole field of ASCII digits as an int; no sign, no fraction.
std::optional<int> whole_number(std::string_view s) {
    int value = 0;
    if (!ParseDigits(s, value)) return std::nullopt;
    return value;
}

// Raw bytes both ways, receiver on, modem lines ignored, no flow control,
// and reads that never wait in the driver (the 1 ms wait is our poll).
// The line settings themselves (character size, parity, stop bits) stay as
// they were: only a settings string changes them. Parity errors are not
// checked or marked, so a damaged byte arrives as received and the frame's
// check refuses the reply.
void make_raw(termios& t) {
    const tcflag_t line = t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    cfmakeraw(&t);
    t.c_cflag =
        (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) | line;
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IGNPAR);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

// Takes the rest of a read's millisecond when the line gave nothing at once
// (hung up, failed), so that a wait loop over read_byte cannot spin.
void pause_1ms() {
    timespec ts{0, 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

// Gives the last bytes written a moment to leave before the line's own
// settings come back (another speed would garble them), then drops what a
// stuck line still holds, so that neither the restore nor the close waits
// on it.
void let_output_drain(int fd) {
    for (int waited = 0; waited < 20; ++waited) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        pause_1ms();
    }
    tcflush(fd, TCOFLUSH);
}

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

OpenFailure failure_from_errno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return OpenFailure::kNoSuchDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return OpenFailure::kPermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::kBusy;
        case ENODEV:
        case ENXIO:
        case EIO:
            return OpenFailure::kVanished;
        case ENOTTY:
        case EISDIR:
            return OpenFailure::kNotASerialDevice;
        default:
            return OpenFailure::kOther;
    }
}

}  // namespace

std::optional<LineSettings> parse_line_settings(std::string_view text) {
    std::array<std::string_view, 4> fields;
    size_t count = 0;
    for (;;) {
        const size_t comma = text.find(',');
        if (count == fields.size()) return std::nullopt;  // more than four fields
        fields[count++] = trim(text.substr(0, comma));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (count != fields.size()) return std::nullopt;

    LineSettings line;
    const std::optional<int> baud = whole_number(fields[0]);
    if (!baud || !speed_code(*baud)) return std::nullopt;
    line.baud = *baud;

    if (fields[1].size() != 1) return std::nullopt;
    line.parity = static_cast<char>(fields[1][0] | 0x20);  // ASCII lower case
    if (std::string_view("neoms").find(line.parity) == std::string_view::npos) {
        return std::nullopt;
    }

    const std::optional<int> data_bits = whole_number(fields[2]);
    if (!data_bits || *data_bits < 5 || *data_bits > 8) return std::nullopt;
    line.data_bits = *data_bits;

    // 1.5 stop bits has no setting on this system and is refused here.
    const std::optional<int> stop_bits = whole_number(fields[3]);
    if (!stop_bits || (*stop_bits != 1 && *stop_bits != 2)) return std::nullopt;
    line.stop_bits = *stop_bits;
    return line;
}

void apply_line_settings(termios& t, const LineSettings& line) {
    if (const std::optional<speed_t> code = speed_code(line.baud)) {
        cfsetispeed(&t, *code);
        cfsetospeed(&t, *code);
    }

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    switch (line.data_bits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    // Received parity is not checked (INPCK stays off): a damaged byte is
    // passed on as it came and the frame checksum rejects the reply.
    switch (line.parity) {
        case 'e':
            t.c_cflag |= PARENB;
            break;
        case 'o':
            t.c_cflag |= PARENB | PARODD;
            break;
        case 'm':
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 's':
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
}

PosixSerialDevice::~PosixSerialDevice() {
    close();
}

bool PosixSerialDevice::fail(int port_number, std::string path, OpenFailure kind, int error,
                             std::string detail) {
    failure_ = kind;
    failure_port_ = port_number;
    failure_path_ = std::move(path);
    failure_detail_ = std::move(detail);
    // The details are looked up now: the program holding the port may let
    // go of it before the text is read.
    if (!failure_detail_.empty()) {
        // given by the caller
    } else if (kind == OpenFailure::kOther && error != 0) {
        failure_detail_ = std::strerror(error);
    } else if (kind == OpenFailure::kPermissionDenied) {
        failure_detail_ = permission_detail(failure_path_);
    } else if (kind == OpenFailure::kBusy) {
        failure_detail_ = busy_detail(failure_path_);
    }
    return false;
}

std::string PosixSerialDevice::last_open_note() const {
    return failure_ == OpenFailure::kNone ? note_ : std::string();
}

std::string PosixSerialDevice::last_open_failure() const {
    std::string cause;
    switch (failure_) {
        case OpenFailure::kNone:
            return {};
        case OpenFailure::kNoSuchDevice:
            cause = "no such device";
            break;
        case OpenFailure::kPermissionDenied:
            cause = "permission denied" + failure_detail_;
            break;
        case OpenFailure::kBusy:
            cause = "busy" + failure_detail_;  // names the holders, or says it cannot
            break;
        case OpenFailure::kVanished:
            cause = "vanished";
            break;
        case OpenFailure::kNotASerialDevice:
            cause = "not a serial device";
            break;
        case OpenFailure::kSystemPort:
            cause = "skipped: " + failure_detail_;
            break;
        case OpenFailure::kAlreadyOpen:
            cause = "a port is already open";
            break;
        case OpenFailure::kNoRs485:
            cause = failure_detail_;
            break;
        case OpenFailure::kOther:
            cause = failure_detail_.empty() ? std::string("cannot be opened") : failure_detail_;
            break;
    }
    std::string text = "COM" + std::to_string(failure_port_);
    if (!failure_path_.empty()) text += " (" + failure_path_ + ")";
    // Paths, process names and the system's texts: none is ours.
    return TerminalSafe(text + ": " + cause);
}

bool PosixSerialDevice::open(int port_number, const std::string& settings) {
    // One handle per object; the open port is left exactly as it is.
    if (fd_ >= 0) return fail(port_number, {}, OpenFailure::kAlreadyOpen);

    std::string path = map_.path(port_number);
    if (path.empty()) return fail(port_number, {}, OpenFailure::kNoSuchDevice);

    // A console or a login terminal is not even opened: opening alone may
    // change its modem lines or hang up the session on a last close.
    if (std::string why = map_.system_ports().reason(path); !why.empty()) {
        return fail(port_number, std::move(path), OpenFailure::kSystemPort, 0, std::move(why));
    }

    // Programs that lock by lock file see nothing else; their file is
    // looked at before the device is touched.
    PortHolder holder;
    bool ended_holder = false;  // a program that ended left its lock file
    if (lock_.acquire(path, holder, &ended_holder) == UucpLock::Result::kBusy) {
        return fail(port_number, std::move(path), OpenFailure::kBusy, 0,
                    holder.pid > 0 ? ": " + describe_holders({holder})
                                   : std::string(" (held by another program)"));
    }

    // O_NONBLOCK: do not wait for carrier while opening. It stays set: reads
    // wait in poll anyway, and writes use it to give up on a line that no
    // longer drains instead of hanging the tool.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    const int own_pid = static_cast<int>(::getpid());
    if (fd < 0) {
        const int error = errno;
        lock_.release();
        // A tty refuses a second opening with EBUSY while its exclusive flag
        // is set (root excepted). Whoever locks it holds it; without a lock
        // the flag may have outlived the program that set it.
        if (error == EBUSY && !locked_by_another(path, 0)) {
            std::string detail =
                exclusive_flag_detail(ended_holder, find_holders(path, "/proc", own_pid));
            return fail(port_number, std::move(path), OpenFailure::kBusy, error, std::move(detail));
        }
        return fail(port_number, std::move(path), failure_from_errno(error), error);
    }
    auto give_up = [&](OpenFailure kind, int error, std::string detail = {}) {
        ::close(fd);
        lock_.release();
        return fail(port_number, std::move(path), kind, error, std::move(detail));
    };

    // Exclusive use. The advisory lock is what cooperating programs (and a
    // second handle in this one) check; it must be taken before anything is
    // changed on the tty, so a loser leaves the holder's port untouched.
    int rc = 0;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EWOULDBLOCK) return give_up(OpenFailure::kBusy, EWOULDBLOCK);

    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        const int error = errno;
        return give_up(failure_from_errno(error), error);
    }
    // The tty's exclusive flag refuses further opens by other programs; only
    // a privileged process gets past it, so look before taking it over.
    note_.clear();
    int held = 0;
    if (ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) {
        // A program that locks the port holds it. A flag without a lock
        // belongs to a program that has the port open, or to none: a
        // program that ended without clearing it. Only then, and only where
        // nobody else has the port open, is it taken over (and cleared at
        // close like our own).
        if (locked_by_another(path, own_pid)) return give_up(OpenFailure::kBusy, EBUSY);
        const std::vector<PortHolder> openers = find_holders(path, "/proc", own_pid);
        if (!openers.empty()) {
            return give_up(OpenFailure::kBusy, EBUSY, exclusive_flag_detail(ended_holder, openers));
        }
        note_ = "the port's exclusive flag, left set by a program that ended, was cleared";
    }

    // The whole line as found, kept for the close and for a signal that
    // ends the tool while the port is open.
    if (!save_tty_state(fd, saved_)) {
        const int error = errno;
        return give_up(failure_from_errno(error), error);
    }
    ioctl(fd, TIOCEXCL);
    cleanup_slot_ = RegisterOpenPort(fd, saved_, true);
    for (const std::string& file : lock_.files()) AddPortLockFile(cleanup_slot_, file);

    make_raw(t);
    // A settings string that does not parse leaves speed, parity and
    // character size as the device had them.
    if (const std::optional<LineSettings> line = parse_line_settings(settings)) {
        apply_line_settings(t, *line);
    }
    tcsetattr(fd, TCSANOW, &t);

    driver_ = DriverState{};
    if (line_options_.rs485 || line_options_.low_latency) {
        std::string refusal;
        const bool taken = apply_line_options(fd, refusal);
        if (!taken) {
            // Not used: everything back as it was found.
            RestoreDriverState(fd, driver_);
            driver_ = DriverState{};
            restore_tty_state(fd, saved_);
            ioctl(fd, TIOCNXCL);
            ClearOpenPort(cleanup_slot_);
            cleanup_slot_ = -1;
            return give_up(OpenFailure::kNoRs485, 0, std::move(refusal));
        }
        SetPortDriverState(cleanup_slot_, driver_);
    }
    latency_ms_ = read_latency_timer(path).value_or(0);

    fd_ = fd;
    failure_ = OpenFailure::kNone;
    failure_path_.clear();
    failure_detail_.clear();
    return true;
}

void PosixSerialDevice::close() {
    if (fd_ < 0) return;
    let_output_drain(fd_);
    // Everything back as it was found: the driver's RS-485 and latency
    // settings, speed, character size, parity, stop bits, modes, echo, flow
    // control, control characters, time-outs.
    RestoreDriverState(fd_, driver_);
    driver_ = DriverState{};
    restore_tty_state(fd_, saved_);
    // The exclusive flag belongs to the tty and outlives this descriptor.
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    lock_.release();
    ClearOpenPort(cleanup_slot_);
    cleanup_slot_ = -1;
}

void PosixSerialDevice::write(const uint8_t* data, size_t count) {
    if (fd_ < 0 || data == nullptr) return;
    constexpr int64_t kStallLimitMs = 1000;
    int64_t deadline = monotonic_ms() + kStallLimitMs;
    while (count > 0) {
        const ssize_t n = ::write(fd_, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            deadline = monotonic_ms() + kStallLimitMs;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int64_t left = deadline - monotonic_ms();
            if (left <= 0) return;  // the line has not taken a byte for a second
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, static_cast<int>(left < 50 ? left : 50));
            continue;
        }
        return;  // hung up or failed: the exchange will notice the missing reply
    }
}

bool PosixSerialDevice::read_byte(uint8_t& byte) {
    if (fd_ < 0) {
        pause_1ms();
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, 1);
    if (ready == 0) return false;  // the millisecond passed in poll
    if (ready < 0) return false;   // interrupted; the caller simply reads again
    if (p.revents & POLLIN) {
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 1) return true;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
        // 0 (hung up) or EIO (unplugged): fall through to the pause.
    }
    // Hung up or in error: poll returns at once from now on.
    pause_1ms();
    return false;
}

size_t PosixSerialDevice::discard_input() {
    if (fd_ < 0) return 0;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) waiting = 0;
    tcflush(fd_, TCIFLUSH);
    return static_cast<size_t>(waiting);
}

double PosixSerialDevice::byte_time_us() const {
    termios t{};
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return 0;
    // The line as it is set now: a settings string that did not parse left
    // the one before.
    const speed_t code = cfgetospeed(&t);
    int baud = 0;
    for (const Speed& s : kSpeeds) {
        if (s.code == code) baud = s.baud;
    }
    if (baud == 0) return 0;
    int data_bits = 8;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            data_bits = 5;
            break;
        case CS6:
            data_bits = 6;
            break;
        case CS7:
            data_bits = 7;
            break;
        default:
            break;
    }
    const int bits =
        1 + data_bits + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
    return bits * 1e6 / baud;
}

bool PosixSerialDevice::apply_line_options(int fd, std::string& refusal) {
    const auto add_note = [this](const std::string& text) {
        note_ += (note_.empty() ? "" : "; ") + text;
    };
    if (line_options_.rs485) {
        serial_rs485 current{};
        if (AskDriver(fd, TIOCGRS485, &current) != 0) {
            refusal = std::string("no RS-485 mode in this port's driver (") + std::strerror(errno) +
                      "); USB RS-485 adapters switch the direction themselves: leave --rs485 out";
            return false;
        }
        std::memcpy(driver_.rs485, &current, sizeof current);
        driver_.has_rs485 = true;
        serial_rs485 want = current;
        want.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        want.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
        want.delay_rts_before_send = line_options_.rs485_delay_before_ms;
        want.delay_rts_after_send = line_options_.rs485_delay_after_ms;
        serial_rs485 back{};
        if (AskDriver(fd, TIOCSRS485, &want) != 0 || AskDriver(fd, TIOCGRS485, &back) != 0 ||
            (back.flags & SER_RS485_ENABLED) == 0 || (back.flags & SER_RS485_RTS_ON_SEND) == 0) {
            refusal = "the port's driver did not take the RS-485 mode (RTS on send)";
            return false;
        }
        add_note("RS-485 mode: RTS on send, " + std::to_string(back.delay_rts_before_send) +
                 " ms before, " + std::to_string(back.delay_rts_after_send) + " ms after");
    }
    if (line_options_.low_latency) {
        serial_struct serial{};
        if (AskDriver(fd, TIOCGSERIAL, &serial) != 0) {
            add_note("low latency not available from this port's driver");
        } else if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
            std::memcpy(driver_.serial, &serial, sizeof serial);
            driver_.has_serial = true;
            serial.flags |= ASYNC_LOW_LATENCY;
            add_note(AskDriver(fd, TIOCSSERIAL, &serial) == 0
                         ? "low latency on"
                         : "low latency refused by the port's driver");
        }
    }
    return true;
}

std::optional<uint32_t> read_latency_timer(const std::string& path, const std::string& sysfs) {
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr) return std::nullopt;
    const std::string_view name =
        std::string_view(real).substr(std::string_view(real).rfind('/') + 1);
    const std::string attribute =
        sysfs + "/class/tty/" + std::string(name) + "/device/latency_timer";
    const int fd = ::open(attribute.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    char text[16] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    const std::optional<int> value = whole_number(
        trim(std::string_view(text, static_cast<size_t>(n))
                 .substr(0, std::string_view(text, static_cast<size_t>(n)).find('\n'))));
    if (!value || *value < 0 || *value > 255) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

}  // namespace torvik::link

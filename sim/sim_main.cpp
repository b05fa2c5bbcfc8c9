// SPDX-License-Identifier: MIT
// torvik-sim: a simulated reader behind a pseudo-terminal. Prints the path of
// the terminal the tool should open (first line of stdout), then answers the
// tool's frames there until it is stopped with SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "sim/adapter.h"
#include "sim/reader.h"

namespace {

using torvik::sim::LineSettings;
using torvik::sim::Reader;

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
    g_stop = 1;
}

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> speed_code(uint32_t baud) {
    for (const auto& s : kSpeeds) {
        if (s.baud == baud) return s.code;
    }
    return std::nullopt;
}

uint32_t baud_of(speed_t code) {
    for (const auto& s : kSpeeds) {
        if (s.code == code) return s.baud;
    }
    return 0;
}

void usage(FILE* out) {
    std::fputs(
        "usage: torvik-sim [options]\n"
        "Simulated reader on a pseudo-terminal; prints the terminal's path first.\n"
        "  --baud N            line speed the reader starts at (19200)\n"
        "  --parity n|e        parity it starts with (e; not visible on a pty)\n"
        "  --id N              bus address 1..99 (1)\n"
        "  --serial XXXXXXXX   eight-character serial number (12345678)\n"
        "  --silence-ms N      deaf time after I00R6 (3000)\n"
        "  --card-every-ms N   read a demo card every N ms while polled (0: off)\n"
        "  --fault F           drop|badcheck|noise|short-presence|long-presence,\n"
        "                      may be given more than once\n"
        "  --delay-ms N        extra delay before every reply (0)\n"
        "The adapter between tool and reader:\n"
        "  --echo              every byte the tool sends comes back (two-wire RS-485)\n"
        "  --glitch HEX        bytes before every reply, e.g. 00 or FF (line turnaround)\n"
        "  --latency MS        replies reach the tool in bursts every MS ms (USB timer)\n"
        "  --late CMD:MS       the first reply to CMD (e.g. I00V) comes MS ms later\n"
        "  --split K:MS        the first reply: K bytes, the rest MS ms later\n"
        "  --quiet             no frame log on stderr\n"
        "  --help              show this text\n"
        "  --version           show the version\n",
        out);
}

bool parse_number(const char* text, uint32_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n > UINT32_MAX) return false;
    value = static_cast<uint32_t>(n);
    return true;
}

struct Options {
    bool quiet = false;
    torvik::sim::Adapter adapter;
};

// Returns false (with a message) on a bad command line.
bool parse_options(int argc, char** argv, Reader& reader, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg == "--echo") {
            options.adapter.echo = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        }
        if (arg == "--version") {
            std::printf("torvik-sim %s\n", TORVIK_VERSION);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "torvik-sim: %s needs a value\n", argv[i]);
            return false;
        }
        const char* value = argv[++i];
        uint32_t n = 0;
        const auto bad = [&] {
            std::fprintf(stderr, "torvik-sim: bad value for %s: %s\n", arg.data(), value);
            return false;
        };
        if (arg == "--baud") {
            if (!parse_number(value, n) || !speed_code(n)) return bad();
            reader.line.baud = n;
        } else if (arg == "--parity") {
            if (std::strcmp(value, "n") != 0 && std::strcmp(value, "e") != 0) return bad();
            reader.line.parity = value[0];
        } else if (arg == "--id") {
            if (!parse_number(value, n) || n < 1 || n > 99) return bad();
            reader.id = static_cast<int>(n);
        } else if (arg == "--serial") {
            if (std::strlen(value) != 8) return bad();
            reader.serial = value;
        } else if (arg == "--silence-ms") {
            if (!parse_number(value, n)) return bad();
            reader.silence_after_reset_ms = n;
        } else if (arg == "--card-every-ms") {
            if (!parse_number(value, n)) return bad();
            reader.card_every_ms = n;
        } else if (arg == "--delay-ms") {
            if (!parse_number(value, n)) return bad();
            reader.faults.extra_delay_ms = n;
        } else if (arg == "--glitch") {
            const auto bytes = torvik::sim::ParseGlitch(value);
            if (!bytes) return bad();
            options.adapter.turnaround = *bytes;
        } else if (arg == "--latency") {
            if (!parse_number(value, n) || n > 1000) return bad();
            options.adapter.latency_ms = n;
        } else if (arg == "--late") {
            const auto late = torvik::sim::ParseLate(value);
            if (!late) return bad();
            options.adapter.late_command = late->first;
            options.adapter.late_ms = late->second;
        } else if (arg == "--split") {
            const auto split = torvik::sim::ParseSplit(value);
            if (!split) return bad();
            options.adapter.split_after = split->first;
            options.adapter.split_ms = split->second;
        } else if (arg == "--fault") {
            const std::string_view fault = value;
            if (fault == "drop") {
                reader.faults.drop_replies = true;
            } else if (fault == "badcheck") {
                reader.faults.bad_check = true;
            } else if (fault == "noise") {
                reader.faults.noise_before_reply = true;
            } else if (fault == "short-presence") {
                reader.faults.presence_length = 15;
            } else if (fault == "long-presence") {
                reader.faults.presence_length = 17;
            } else {
                return bad();
            }
        } else {
            std::fprintf(stderr, "torvik-sim: unknown option %s\n", argv[i - 1]);
            usage(stderr);
            return false;
        }
    }
    return true;
}

// Printable form of a frame's text for the log; long texts are cut short.
std::string shown(std::string_view bytes) {
    constexpr size_t kShown = 48;
    std::string out;
    for (unsigned char c : bytes.substr(0, kShown)) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        }
    }
    if (bytes.size() > kShown) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

bool g_quiet = false;
std::chrono::steady_clock::time_point g_start;

// One line of the frame log on stderr, stamped with the seconds since start.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    if (g_quiet) return;
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - g_start;
    std::fprintf(stderr, "[%9.3f] ", since.count());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void sleep_us(double us) {
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(us)));
}

// Writes bytes to the master, whole or until the terminal is gone.
bool write_all(int master, const char* data, size_t size) {
    size_t sent = 0;
    while (sent < size && !g_stop) {
        const ssize_t w = ::write(master, data + sent, size - sent);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                sleep_us(1000);
                continue;
            }
            return false;  // the terminal is gone: the bytes are lost
        }
        sent += static_cast<size_t>(w);
    }
    return true;
}

// Writes bytes to the master as they reach the tool: each at its time on
// this program's clock, those due within about 2 ms of each other together,
// so that long replies take their real time on the line without a sleep
// per byte.
template <class Now>
void send_arrivals(int master, const std::vector<torvik::sim::Arrival>& arrivals, Now now_us) {
    size_t i = 0;
    while (i < arrivals.size() && !g_stop) {
        const uint64_t due = arrivals[i].at_us;
        const uint64_t now = now_us();
        if (due > now) sleep_us(static_cast<double>(due - now));
        std::string chunk;
        while (i < arrivals.size() && arrivals[i].at_us <= due + 2000) {
            chunk.push_back(static_cast<char>(arrivals[i].byte));
            ++i;
        }
        if (!write_all(master, chunk.data(), chunk.size())) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Reader reader;
    Options options;
    if (!parse_options(argc, argv, reader, options)) return 2;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("torvik-sim: pseudo-terminal");
        return 1;
    }
    const char* name = ptsname(master);
    if (name == nullptr) {
        std::perror("torvik-sim: ptsname");
        return 1;
    }
    const std::string slave_path = name;
    // Held open for the whole run: the tool's close then does not hang up
    // the terminal, and its line settings can be read here.
    const int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("torvik-sim: open slave");
        return 1;
    }
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        const speed_t code = *speed_code(reader.line.baud);
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
        tcsetattr(slave, TCSANOW, &tio);
    }

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slave_path.c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const auto now_us = [&] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
    };
    g_quiet = options.quiet;
    g_start = start;
    say("reader %s ID %02d at %u,%c on %s", reader.serial.c_str(), reader.id, reader.line.baud,
        reader.line.parity, slave_path.c_str());

    torvik::sim::AdapterLine adapter(options.adapter);
    uint32_t mismatch_reported = 0;  // last tool speed reported as wrong
    while (!g_stop) {
        pollfd pfd{master, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 100);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::perror("torvik-sim: poll");
            break;
        }
        if (ready == 0) continue;
        if ((pfd.revents & POLLIN) == 0) {
            // No slave open anywhere (POLLHUP): wait for the tool.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        unsigned char buffer[512];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        // An adapter that hears its own transmitter gives the bytes back.
        if (options.adapter.echo) {
            send_arrivals(master,
                          adapter.Echo(std::string_view(reinterpret_cast<char*>(buffer),
                                                        static_cast<size_t>(got)),
                                       now_us(), 0.0),
                          now_us);
        }

        for (ssize_t i = 0; i < got && !g_stop; ++i) {
            // The speed the tool set on its end; parity is not carried by a
            // pseudo-terminal, so only the speed decides.
            termios current{};
            uint32_t tool_baud = reader.line.baud;
            if (tcgetattr(slave, &current) == 0) {
                tool_baud = baud_of(cfgetospeed(&current));
                if (tool_baud == 0) tool_baud = baud_of(cfgetispeed(&current));
            }
            if (tool_baud != reader.line.baud) {
                if (mismatch_reported != tool_baud) {
                    say("line at %u baud, reader at %u: bytes ignored", tool_baud,
                        reader.line.baud);
                    mismatch_reported = tool_baud;
                }
                continue;
            }
            mismatch_reported = 0;

            const size_t logged = reader.log.size();
            const uint64_t at = now_us();
            const std::string reply = reader.feed(buffer[i], at);
            if (reader.log.size() == logged) continue;  // no complete frame yet
            const auto& frame = reader.log.back();

            if (reply.empty()) {
                say("%c %s -> no reply", frame.kind, shown(frame.payload).c_str());
            } else {
                say("%c %s -> %s", frame.kind, shown(frame.payload).c_str(), shown(reply).c_str());
                const uint64_t start =
                    now_us() + uint64_t{reader.reply_delay_ms + reader.faults.extra_delay_ms} * 1000;
                send_arrivals(master,
                              adapter.Reply(frame.payload, reply, start,
                                            torvik::sim::byte_time_us(reader.line)),
                              now_us);
            }
            if (const auto next = reader.take_pending_line()) {
                say("line now %u,%c", next->baud, next->parity);
            }
            if (reader.silent(now_us()))
                say("restarting: deaf for %u ms", reader.silence_after_reset_ms);
        }
    }

    say("stopped");
    ::close(slave);
    ::close(master);
    return 0;
}

// SPDX-License-Identifier: MIT
// The short exchange over a real pseudo-terminal, and the CPU the tool burns
// while it waits out a reply budget.
//
// a) "I00B" through PosixSerialDevice + Port + Link, next to a bare loop that
//    writes the same eight bytes with the same pauses (1 ms after each single
//    byte, 5 ms after the block) and blocks in read() until the CR. Both run
//    against the same peer in alternating blocks.
// b) A short exchange that gets no reply (the peer is silent) waits out the
//    200 ms budget in 1 ms reads; its CPU time as a share of one core, next
//    to one blocking poll() over the same 200 ms.
//
// usage: bench_link SIM_BINARY [N]
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common.h"
#include "link/exchange.h"
#include "link/port.h"

namespace {

using namespace bench;
using torvik::link::ComMap;
using torvik::link::Link;
using torvik::link::MonotonicClock;
using torvik::link::Port;
using torvik::link::PosixSerialDevice;

class NoPump final : public torvik::link::EventPump {
  public:
    void process_pending() override {}
};

// The bare exchange: raw blocking tty, the same bytes and pauses.
class BareLine {
  public:
    explicit BareLine(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B19200);
        t.c_cflag |= PARENB | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~BareLine() { ::close(fd_); }
    BareLine(const BareLine&) = delete;
    BareLine& operator=(const BareLine&) = delete;

    // Returns the number of reply bytes up to and including the CR.
    size_t exchange() {
        put("\t", 1);
        put("I00B", 5);
        put("0", 1);
        put("2", 1);
        put("\r", 1);
        size_t got = 0;
        char buffer[64];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return got;
            got += static_cast<size_t>(n);
            if (std::memchr(buffer, '\r', static_cast<size_t>(n))) return got;
        }
    }

  private:
    void put(const char* bytes, int pause_ms) {
        ssize_t w = ::write(fd_, bytes, std::strlen(bytes));
        (void)w;
        sleep_ms(pause_ms);
    }
    int fd_ = -1;
};

struct Series {
    std::vector<double> tool, bare;
};

// N exchanges each way in alternating blocks of 20 on the pty at `path`.
Series run_exchanges(const std::string& path, int n) {
    ComMap map("/nonexistent-dev", "/nonexistent-sys");
    map.add_override("COM1=" + path);
    PosixSerialDevice device(map);
    MonotonicClock clock;
    NoPump pump;
    Port port(device, clock);
    Link link(port, clock, pump);
    Series s;
    constexpr int kBlock = 20;
    // A first block of one exchange each way warms up and is not counted.
    for (int done = -1; done < n; done += (done < 0 ? 1 : kBlock)) {
        const int count = done < 0 ? 1 : std::min(kBlock, n - done);
        if (!port.OpenPort(1, "19200,e,8,1"))
            throw std::runtime_error("open: " + device.last_open_failure());
        for (int i = 0; i < count; ++i) {
            const double t0 = now_ms();
            const bool ok = link.SendShort("I00B") && link.receive_count() == 16;
            const double t = now_ms() - t0;
            if (!ok) throw std::runtime_error("the tool's exchange got no valid reply");
            if (done >= 0) s.tool.push_back(t);
        }
        port.ClosePort();
        BareLine bare(path);
        for (int i = 0; i < count; ++i) {
            const double t0 = now_ms();
            const size_t got = bare.exchange();
            const double t = now_ms() - t0;
            if (got != 16)
                throw std::runtime_error("the bare exchange got " + std::to_string(got) + " bytes");
            if (done >= 0) s.bare.push_back(t);
        }
    }
    return s;
}

void add_rows(Table& table, const std::string& peer, const Series& s) {
    const Stats tool = stats(s.tool), bare = stats(s.bare);
    table.row({peer, "tool (PosixSerialDevice + Link)", std::to_string(tool.n), fmt(tool.median),
               fmt(tool.p99), fmt(tool.max)});
    table.row({peer, "bare loop (baseline)", std::to_string(bare.n), fmt(bare.median),
               fmt(bare.p99), fmt(bare.max)});
    table.row({peer, "ratio tool / baseline", "", fmt(tool.median / bare.median) + "x",
               fmt(tool.p99 / bare.p99) + "x", ""});
}

void bench_exchange(const std::string& sim, int n) {
    Table table("a) Short exchange \"I00B\" over a pty, ms (N=" + std::to_string(n) + " each)",
                {"peer", "side", "N", "median", "p99", "max"});
    {
        Pty pty;
        ThreadReader reader(pty);
        add_rows(table, "in-process reader, answers at once", run_exchanges(pty.slave(), n));
    }
    {
        SimProcess process(sim, {"--delay-ms", "0", "--quiet"});
        add_rows(table, "torvik-sim --delay-ms 0 (2 ms turnaround, reply paced at 19200,e)",
                 run_exchanges(process.path(), n));
    }
    table.print();
    std::printf(
        "\nThe pauses alone are 9 ms (1+5+1+1+1); the 16-byte reply takes %.1f ms on a 19200,e "
        "line.\n",
        16 * byte_us_19200e() / 1000.0);
}

void bench_idle_wait(int exchanges) {
    Pty pty;  // master open, nobody answers
    ComMap map("/nonexistent-dev", "/nonexistent-sys");
    map.add_override("COM1=" + pty.slave());
    PosixSerialDevice device(map);
    MonotonicClock clock;
    NoPump pump;
    Port port(device, clock);
    Link link(port, clock, pump);
    if (!port.OpenPort(1, "19200,e,8,1"))
        throw std::runtime_error("open: " + device.last_open_failure());

    link.SendShort("I00B");  // warm-up
    double cpu0 = cpu_ms(), wall0 = now_ms();
    long sw0 = voluntary_switches();
    for (int i = 0; i < exchanges; ++i) {
        if (link.SendShort("I00B")) throw std::runtime_error("a silent peer answered");
    }
    const double tool_cpu = cpu_ms() - cpu0, tool_wall = now_ms() - wall0;
    const long tool_sw = voluntary_switches() - sw0;
    port.ClosePort();

    // Baseline: the same wait as one blocking poll on the same silent line.
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    cpu0 = cpu_ms();
    wall0 = now_ms();
    sw0 = voluntary_switches();
    for (int i = 0; i < exchanges; ++i) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 209);  // the exchange's 9 ms of pauses plus its 200 ms budget
    }
    const double bare_cpu = cpu_ms() - cpu0, bare_wall = now_ms() - wall0;
    const long bare_sw = voluntary_switches() - sw0;
    ::close(fd);

    Table table("b) Waiting out the 200 ms reply budget with a silent peer (" +
                    std::to_string(exchanges) + " exchanges)",
                {"side", "wall ms / exchange", "CPU ms / exchange", "CPU share of one core",
                 "wake-ups / exchange"});
    table.row({"tool (1 ms reads, no-op event pump)", fmt(tool_wall / exchanges, 1),
               fmt(tool_cpu / exchanges, 3), fmt(100.0 * tool_cpu / tool_wall, 2) + " %",
               fmt(double(tool_sw) / exchanges, 0)});
    table.row({"one blocking poll (baseline)", fmt(bare_wall / exchanges, 1),
               fmt(bare_cpu / exchanges, 3), fmt(100.0 * bare_cpu / bare_wall, 2) + " %",
               fmt(double(bare_sw) / exchanges, 0)});
    table.print();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SIM_BINARY [N]\n", argv[0]);
        return 2;
    }
    const int n = argc > 2 ? std::atoi(argv[2]) : 200;
    try {
        bench_exchange(argv[1], n);
        bench_idle_wait(10);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_link: %s\n", e.what());
        return 1;
    }
    return 0;
}

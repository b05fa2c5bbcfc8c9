// SPDX-License-Identifier: MIT
// The window model on the real serial device and clock against torvik-sim:
//
// c) a live reading of about five seconds with cards shown: polls per second
//    and CPU share, next to the cycle the mandated waits allow;
// d) scans: one that finds the reader at the stored settings, and a sweep
//    over N present but silent ports (chkLock ticked), each next to the sum
//    of the mandated waits, reply budgets, wire times and beeps.
//
// f) the scan at the stored settings over the adapters of real lines (an
//    echoing two-wire RS-485 adapter, a USB adapter's 16 ms latency timer,
//    both), each next to a clean line in the same run.
//
// usage: bench_model SIM_BINARY [READING_SECONDS] [SILENT_PORTS]
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/common.h"

namespace {

using namespace bench;

// The simulated reader's fixed delay from the end of a frame to its reply.
constexpr double kReaderTurnaroundMs = 2.0;

// Time the reader's answers take: turnaround plus the reply bytes at 19200,e.
double reply_time_ms(const WireCount& w) {
    return static_cast<double>(w.answered) * kReaderTurnaroundMs +
           static_cast<double>(w.reply_bytes) * byte_us_19200e() / 1000.0;
}

void bench_reading(const std::string& sim, double seconds) {
    SimProcess process(sim, {"--card-every-ms", "500", "--delay-ms", "0", "--quiet"});
    Model m;
    m.map.add_override("COM1=" + process.path());
    m.form.press(m.form.btnScan);
    if (!m.form.state.reader_found) throw std::runtime_error("the scan did not find torvik-sim");

    int cards = 0;
    const std::string idle = m.form.pnCardID.caption();
    m.form.observer = [&](torvik::app::Control& c, torvik::app::Prop p) {
        if (&c == &m.form.pnCardID && p == torvik::app::Prop::Caption && c.caption() != idle)
            ++cards;
    };
    m.wire = WireCount{};
    m.wire.attach(m.form.link);
    const uint64_t slept0 = m.clock.slept_ms;
    const double cpu0 = cpu_ms(RUSAGE_SELF);
    const double t0 = now_ms();
    double stop_pressed = 0;
    m.pump.after_ms(seconds * 1000.0, [&] {
        stop_pressed = now_ms();
        m.form.press(m.form.btnReadCard);
    });
    m.form.press(m.form.btnReadCard);  // returns when the reading has ended
    const double wall = now_ms() - t0;
    const double cpu = cpu_ms(RUSAGE_SELF) - cpu0;
    const uint64_t slept = m.clock.slept_ms - slept0;
    if (stop_pressed == 0 || m.form.shComm.color() != torvik::app::kYellow)
        throw std::runtime_error("the reading did not end by the stop press");

    const long polls = m.wire.sent;  // plain reading: every frame is a poll
    const double measured_cycle = wall / static_cast<double>(polls);
    // The cycle the tool cannot go below: 80 passes of 1 ms, the sending
    // pauses, the reader's answer. The final beep is excluded (silent here).
    const double mandated_cycle =
        (static_cast<double>(slept) + reply_time_ms(m.wire)) / static_cast<double>(polls);

    Table table(
        "c) Live reading against torvik-sim --card-every-ms 500, " + fmt(wall / 1000.0, 1) + " s",
        {"figure", "measured", "mandated waits only", "ratio"});
    table.row({"polls", std::to_string(polls), "", ""});
    table.row({"polls per second", fmt(1000.0 * polls / wall, 2), fmt(1000.0 / mandated_cycle, 2),
               fmt(mandated_cycle / measured_cycle, 3) + "x"});
    table.row({"poll cycle, ms", fmt(measured_cycle, 1), fmt(mandated_cycle, 1),
               fmt(measured_cycle / mandated_cycle, 3) + "x"});
    table.row({"cards shown", std::to_string(cards), "", ""});
    table.row({"tool CPU share of one core", fmt(100.0 * cpu / wall, 2) + " %", "", ""});
    table.print();
}

struct ScanFigures {
    std::vector<double> measured, mandated;
};

void bench_scans(const std::string& sim, int silent_ports, int runs) {
    Table table(
        "d) Scans, ms (median of " + std::to_string(runs) + " runs; beeps take their time)",
        {"scan", "measured", "sum of mandated waits", "ratio", "frames (answered / timed out)"});

    // Found at the stored settings: presence check, version, mode, beep.
    {
        SimProcess process(sim, {"--delay-ms", "0", "--quiet"});
        ScanFigures f;
        std::string frames;
        for (int r = 0; r < runs; ++r) {
            Model m(true);
            m.map.add_override("COM1=" + process.path());
            const double t0 = now_ms();
            m.form.press(m.form.btnScan);
            const double t = now_ms() - t0;
            if (!m.form.state.reader_found)
                throw std::runtime_error("the scan did not find torvik-sim");
            f.measured.push_back(t);
            f.mandated.push_back(static_cast<double>(m.clock.slept_ms + m.beeper.beeped_ms) +
                                 reply_time_ms(m.wire));
            frames = std::to_string(m.wire.answered) + " / " + std::to_string(m.wire.failed);
        }
        const double a = stats(f.measured).median, b = stats(f.mandated).median;
        table.row({"reader at the stored settings (COM1)", fmt(a, 1), fmt(b, 1),
                   fmt(a / b, 3) + "x", frames});
    }

    // Sweep over silent ports: every presence check waits out its budget.
    {
        std::vector<std::unique_ptr<Pty>> ptys;
        for (int i = 0; i < silent_ports; ++i) ptys.push_back(std::make_unique<Pty>());
        ScanFigures f;
        std::string frames;
        for (int r = 0; r < std::max(1, runs / 2); ++r) {
            Model m(true, 0);  // nothing stored: straight to the sweep
            for (int i = 0; i < silent_ports; ++i)
                m.map.add_override("COM" + std::to_string(i + 1) + "=" + ptys[i]->slave());
            m.form.user_set_checked(m.form.chkLock, true);
            const double t0 = now_ms();
            m.form.press(m.form.btnScan);
            const double t = now_ms() - t0;
            if (m.form.state.reader_found) throw std::runtime_error("a silent port answered");
            f.measured.push_back(t);
            f.mandated.push_back(static_cast<double>(m.clock.slept_ms + m.beeper.beeped_ms) +
                                 static_cast<double>(m.wire.failed) * torvik::link::kShortBudgetMs);
            frames = std::to_string(m.wire.answered) + " / " + std::to_string(m.wire.failed);
        }
        const double a = stats(f.measured).median, b = stats(f.mandated).median;
        table.row({"sweep, " + std::to_string(silent_ports) + " silent ports, chkLock ticked",
                   fmt(a, 1), fmt(b, 1), fmt(a / b, 3) + "x", frames});
    }
    table.print();
    std::printf(
        "\nMandated: every sleep of the tool (1/5 ms sending pauses, 100 ms waits), the 200 ms "
        "budget of each\n"
        "unanswered frame, the 300 ms outcome beep, and for answered frames the reader's %.0f ms "
        "turnaround\n"
        "plus the reply bytes at 19200,e (%.3f ms each).\n",
        kReaderTurnaroundMs, byte_us_19200e() / 1000.0);
}

void bench_real_lines(const std::string& sim, int runs) {
    Table table("f) Scan at the stored settings over real adapters, ms (median of " +
                    std::to_string(runs) + " runs, alternating)",
                {"line", "measured", "against the clean line", "frames (answered / timed out)"});
    struct Line {
        const char* name;
        std::vector<std::string> args;
    };
    const std::vector<Line> lines = {
        {"clean", {}},
        {"echoing adapter (two-wire RS-485)", {"--echo"}},
        {"USB latency timer 16 ms", {"--latency", "16"}},
        {"echo and latency 16 ms", {"--echo", "--latency", "16"}},
    };
    std::vector<std::unique_ptr<SimProcess>> processes;
    for (const Line& line : lines) {
        std::vector<std::string> args = {"--delay-ms", "0", "--quiet"};
        args.insert(args.end(), line.args.begin(), line.args.end());
        processes.push_back(std::make_unique<SimProcess>(sim, args));
    }
    std::vector<std::vector<double>> measured(lines.size());
    std::vector<std::string> frames(lines.size());
    for (int r = 0; r < runs; ++r) {
        for (size_t i = 0; i < lines.size(); ++i) {
            Model m(true);
            m.map.add_override("COM1=" + processes[i]->path());
            const double t0 = now_ms();
            m.form.press(m.form.btnScan);
            measured[i].push_back(now_ms() - t0);
            if (!m.form.state.reader_found)
                throw std::runtime_error(std::string("no reader over the ") + lines[i].name + " line");
            frames[i] = std::to_string(m.wire.answered) + " / " + std::to_string(m.wire.failed);
        }
    }
    const double clean = stats(measured[0]).median;
    for (size_t i = 0; i < lines.size(); ++i) {
        const double t = stats(measured[i]).median;
        table.row({lines[i].name, fmt(t, 1), fmt(t / clean, 3) + "x", frames[i]});
    }
    table.print();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SIM_BINARY [READING_SECONDS] [SILENT_PORTS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const int silent = argc > 3 ? std::atoi(argv[3]) : 4;
    try {
        bench_reading(argv[1], seconds);
        bench_scans(argv[1], silent, 6);
        bench_real_lines(argv[1], 6);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_model: %s\n", e.what());
        return 1;
    }
    return 0;
}

// SPDX-License-Identifier: MIT
// Soak run: the window model on the real serial device, for a given number
// of minutes, against two torvik-sim readers: a clean one that shows cards
// (COM1) and one with --fault noise (COM2), whose every reply is preceded by
// a stray byte so that no exchange with it succeeds. Each cycle: a scan that
// finds COM1 at the stored settings, a two-second live reading on COM1, then
// a card-type command and a live reading on COM2, which both fail. Reports
// resident memory and open descriptors at the start and at the end.
//
// usage: torvik_soak SIM_BINARY MINUTES
#include <cstdio>
#include <string>

#include "bench/common.h"

namespace {

using namespace bench;

struct Sample {
    double at_s;
    long rss_kb;
    int fds;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SIM_BINARY MINUTES\n", argv[0]);
        return 2;
    }
    const double minutes = std::atof(argv[2]);
    try {
        SimProcess clean(argv[1], {"--card-every-ms", "500", "--quiet"});
        SimProcess noisy(argv[1], {"--fault", "noise", "--quiet"});
        Model m;
        m.map.add_override("COM1=" + clean.path());
        m.map.add_override("COM2=" + noisy.path());
        int cards = 0;
        const std::string idle = m.form.pnCardID.caption();
        m.form.observer = [&](torvik::app::Control& c, torvik::app::Prop p) {
            if (&c == &m.form.pnCardID && p == torvik::app::Prop::Caption && c.caption() != idle)
                ++cards;
        };

        long cycles = 0, scans_found = 0, readings_stopped = 0, noisy_failures = 0, errors = 0;
        const double t0 = now_ms();
        const double end = t0 + minutes * 60000.0;
        Sample start{}, peak{}, last{};
        const auto sample = [&] { return Sample{(now_ms() - t0) / 1000.0, rss_kb(), open_fds()}; };
        const auto check_idle = [&] {
            if (!m.form.window_enabled() || m.form.port.is_open() || m.serial.is_open() ||
                m.form.cursor_busy() || m.form.tmrBusy.enabled())
                ++errors;
        };

        while (cycles == 0 || now_ms() < end) {
            m.form.state.link.port = 1;
            m.form.press(m.form.btnScan);
            scans_found += m.form.state.reader_found;
            check_idle();

            m.pump.after_ms(2000, [&] { m.form.press(m.form.btnReadCard); });
            m.form.press(m.form.btnReadCard);
            readings_stopped += m.form.shComm.color() == torvik::app::kYellow;
            check_idle();

            m.form.state.link.port = 2;  // the noisy reader
            m.form.press(m.form.btnCardType);
            noisy_failures += m.form.pnMsg.caption() == m.form.Text(47);
            m.form.press(m.form.btnReadCard);
            noisy_failures += m.form.pnMsg.caption() == m.form.Text(35);
            check_idle();

            ++cycles;
            last = sample();
            if (cycles == 1) start = peak = last;
            if (last.rss_kb > peak.rss_kb) peak = last;
        }

        Table table("Soak: " + fmt(minutes, 1) + " min, " + std::to_string(cycles) + " cycles",
                    {"figure", "value"});
        table.row({"RSS at start (after the first cycle), KiB", std::to_string(start.rss_kb)});
        table.row({"RSS at end, KiB", std::to_string(last.rss_kb)});
        table.row(
            {"RSS peak, KiB (at s)", std::to_string(peak.rss_kb) + " (" + fmt(peak.at_s, 0) + ")"});
        table.row({"open descriptors at start / end",
                   std::to_string(start.fds) + " / " + std::to_string(last.fds)});
        table.row({"scans that found COM1",
                   std::to_string(scans_found) + " / " + std::to_string(cycles)});
        table.row({"readings on COM1 ended by the stop press",
                   std::to_string(readings_stopped) + " / " + std::to_string(cycles)});
        table.row({"cards shown", std::to_string(cards)});
        table.row({"frames sent / answered / timed out or refused",
                   std::to_string(m.wire.sent) + " / " + std::to_string(m.wire.answered) + " / " +
                       std::to_string(m.wire.failed)});
        table.row(
            {"failures on the noisy COM2 (expected 2 per cycle)", std::to_string(noisy_failures)});
        table.row({"window not back to idle after a step", std::to_string(errors)});
        table.print();
        const bool ok = errors == 0 && scans_found == cycles && readings_stopped == cycles &&
                        noisy_failures == 2 * cycles && last.fds == start.fds;
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "torvik_soak: %s\n", e.what());
        return 1;
    }
}

// SPDX-License-Identifier: MIT
// e) Start-up: from process start to the first painted window, and the peak
//    resident set of the process, for `torvik-config` on COM1 mapped to a
//    pseudo-terminal (the tool alone, no simulated reader to start) next to a
//    minimal Qt window, both offscreen, in alternating runs; then the same
//    for `torvik-config --simulate`, which includes starting torvik-sim, the
//    minimal window with one line of text, and the tool's controls built as
//    plain Qt widgets without any of the tool's code (the part of the
//    start-up that is Qt's for a window like this one).
//
// usage: bench_startup TORVIK_CONFIG MINIMAL_WINDOW [RUNS]
// The peak RSS is the child's ru_maxrss from wait4(); for --simulate that is
// the tool's own, torvik-sim being a process of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common.h"

namespace {

using namespace bench;

struct Run {
    double first_paint_ms = 0;  // spawn to first paint
    double exit_ms = 0;         // spawn to reaped
    double cpu_ms = 0;          // user and system time of the whole run
    long max_rss_kb = 0;
};

Run run_once(const std::vector<std::string>& command) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int64_t t0 = now_us();
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + args[0]);
    }
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    Run r;
    r.exit_ms = static_cast<double>(now_us() - t0) / 1000.0;
    r.max_rss_kb = ru.ru_maxrss;
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    r.cpu_ms = ms(ru.ru_utime) + ms(ru.ru_stime);
    const size_t at = text.find("first-paint-us ");
    if (at == std::string::npos || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " did not report its first paint (status " +
                                 std::to_string(status) + ")");
    const long long painted = std::atoll(text.c_str() + at + 15);
    r.first_paint_ms = static_cast<double>(painted - t0) / 1000.0;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TORVIK_CONFIG MINIMAL_WINDOW [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    try {
        // The port the tool is given: a pseudo-terminal nobody answers on
        // (nothing is sent before a button is pressed). The settings file
        // lies in a directory of the run's own, so no stored settings of
        // this machine are read; the tool writes none at start.
        Pty pty;
        char dir_template[] = "/tmp/bench-startup-XXXXXX";
        const char* dir = mkdtemp(dir_template);
        if (!dir) throw std::runtime_error("no temporary directory");
        const std::string settings = std::string(dir) + "/settings.ini";
        struct Cleanup {
            std::string dir, file;
            ~Cleanup() {
                ::unlink(file.c_str());
                ::rmdir(dir.c_str());
            }
        } cleanup{dir, settings};

        const std::vector<std::string> tool{argv[1],      "--port", "COM1=" + pty.slave(),
                                            "--settings", settings, "--exit-after-first-paint"};
        const std::vector<std::string> simulated{argv[1], "--simulate", "--exit-after-first-paint"};
        const std::vector<std::string> minimal{argv[2]};
        const std::vector<std::string> minimal_text{argv[2], "--text"};
        const std::vector<std::string> plain_layout{argv[2], "--layout"};
        run_once(tool);  // warm the page cache for all
        run_once(simulated);
        run_once(minimal);
        struct Series {
            std::vector<double> paint, exit, cpu, rss;
            void add(const Run& r) {
                paint.push_back(r.first_paint_ms);
                exit.push_back(r.exit_ms);
                cpu.push_back(r.cpu_ms);
                rss.push_back(static_cast<double>(r.max_rss_kb) / 1024.0);
            }
        } t, s, m, mt, pl;
        for (int i = 0; i < runs; ++i) {
            t.add(run_once(tool));
            m.add(run_once(minimal));
            s.add(run_once(simulated));
            mt.add(run_once(minimal_text));
            pl.add(run_once(plain_layout));
        }
        Table table("e) Start-up to the first painted window, offscreen (median of " +
                        std::to_string(runs) + " runs)",
                    {"program", "first paint, ms", "max of runs, ms", "start to exit, ms",
                     "CPU to exit, ms", "peak RSS, MiB"});
        const auto row = [&table](const std::string& name, const Series& x) {
            table.row({name, fmt(stats(x.paint).median, 1), fmt(stats(x.paint).max, 1),
                       fmt(stats(x.exit).median, 1), fmt(stats(x.cpu).median, 1),
                       fmt(stats(x.rss).median, 1)});
        };
        const auto ratio = [&table, &m](const std::string& name, const Series& x) {
            table.row({name, fmt(stats(x.paint).median / stats(m.paint).median, 2) + "x", "", "",
                       fmt(stats(x.cpu).median / stats(m.cpu).median, 2) + "x",
                       fmt(stats(x.rss).median / stats(m.rss).median, 2) + "x"});
        };
        row("torvik-config --port COM1=pty", t);
        row("minimal Qt window (baseline)", m);
        ratio("ratio", t);
        row("torvik-config --simulate (starts torvik-sim)", s);
        ratio("ratio --simulate / baseline", s);
        row("minimal Qt window with one line of text", mt);
        ratio("ratio one line of text / baseline", mt);
        row("the tool's controls as plain Qt widgets", pl);
        ratio("ratio plain controls / baseline", pl);
        table.row({"ratio torvik-config / plain controls",
                   fmt(stats(t.paint).median / stats(pl.paint).median, 2) + "x", "", "",
                   fmt(stats(t.cpu).median / stats(pl.cpu).median, 2) + "x",
                   fmt(stats(t.rss).median / stats(pl.rss).median, 2) + "x"});
        table.print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_startup: %s\n", e.what());
        return 1;
    }
    return 0;
}

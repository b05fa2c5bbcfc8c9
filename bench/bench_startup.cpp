// e) Start-up: from process start to the first painted window, and the peak
//    resident set of the process, for `torvik-config --simulate` (which also
//    starts torvik-sim) next to a minimal Qt window, both offscreen, in
//    alternating runs.
//
// usage: bench_startup TORVIK_CONFIG MINIMAL_WINDOW [RUNS]
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common.h"

namespace {

using namespace bench;

struct Run {
    double first_paint_ms = 0;  // spawn to first paint
    double exit_ms = 0;         // spawn to reaped
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
        const std::vector<std::string> tool{argv[1], "--simulate", "--exit-after-first-paint"};
        const std::vector<std::string> minimal{argv[2]};
        run_once(tool);  // warm the page cache for both
        run_once(minimal);
        std::vector<double> tool_paint, tool_exit, tool_rss, min_paint, min_exit, min_rss;
        for (int i = 0; i < runs; ++i) {
            const Run t = run_once(tool);
            const Run m = run_once(minimal);
            tool_paint.push_back(t.first_paint_ms);
            tool_exit.push_back(t.exit_ms);
            tool_rss.push_back(static_cast<double>(t.max_rss_kb) / 1024.0);
            min_paint.push_back(m.first_paint_ms);
            min_exit.push_back(m.exit_ms);
            min_rss.push_back(static_cast<double>(m.max_rss_kb) / 1024.0);
        }
        const Stats tp = stats(tool_paint), mp = stats(min_paint), tr = stats(tool_rss),
                    mr = stats(min_rss);
        Table table("e) Start-up to the first painted window, offscreen (median of " +
                        std::to_string(runs) + " runs)",
                    {"program", "first paint, ms", "max of runs, ms", "start to exit, ms",
                     "peak RSS, MiB"});
        table.row({"torvik-config --simulate", fmt(tp.median, 1), fmt(tp.max, 1),
                   fmt(stats(tool_exit).median, 1), fmt(tr.median, 1)});
        table.row({"minimal Qt window (baseline)", fmt(mp.median, 1), fmt(mp.max, 1),
                   fmt(stats(min_exit).median, 1), fmt(mr.median, 1)});
        table.row({"ratio", fmt(tp.median / mp.median, 2) + "x", "", "",
                   fmt(tr.median / mr.median, 2) + "x"});
        table.print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_startup: %s\n", e.what());
        return 1;
    }
    return 0;
}

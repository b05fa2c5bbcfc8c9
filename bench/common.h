// SPDX-License-Identifier: MIT
// Helpers shared by the benchmark programs: pseudo-terminals, the simulated
// reader as a child process or as a thread on a pty master, the window model
// wired to the real serial device, timing, statistics and table output.
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/platform.h"
#include "app/window_model.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/event_pump.h"
#include "link/posix_serial.h"
#include "ops/reader_operations.h"
#include "sim/reader.h"
#include "tests/doubles/memory_settings_store.h"

extern char** environ;

namespace bench {

// ---------------------------------------------------------------- time

inline double now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

inline int64_t now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline void sleep_ms(double ms) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000.0);
    ts.tv_nsec = static_cast<long>((ms - static_cast<double>(ts.tv_sec) * 1000.0) * 1e6);
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

// CPU time (user + system) in ms of this thread or of the whole process.
inline double cpu_ms(int who = RUSAGE_THREAD) {
    rusage ru{};
    getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

inline long voluntary_switches(int who = RUSAGE_THREAD) {
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_nvcsw;
}

// ---------------------------------------------------------------- process figures

inline long rss_kb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

inline int open_fds() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') ++count;
        }
        closedir(d);
        --count;  // the directory stream itself
    }
    return count;
}

// ---------------------------------------------------------------- statistics

struct Stats {
    double median = 0, p99 = 0, min = 0, max = 0, mean = 0;
    size_t n = 0;
};

inline Stats stats(std::vector<double> v) {
    Stats s;
    s.n = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const auto rank = [&](double q) {
        const size_t r = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size())));
        return v[std::min(v.size() - 1, r == 0 ? 0 : r - 1)];
    };
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    s.p99 = rank(0.99);
    s.min = v.front();
    s.max = v.back();
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / static_cast<double>(v.size());
    return s;
}

// ---------------------------------------------------------------- tables

// A plain text table in Markdown pipe syntax, columns padded.
class Table {
  public:
    Table(std::string title, std::vector<std::string> header)
        : title_(std::move(title)), header_(std::move(header)) {}
    void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    void print() const {
        std::vector<size_t> width(header_.size(), 0);
        auto widen = [&](const std::vector<std::string>& cells) {
            for (size_t i = 0; i < cells.size() && i < width.size(); ++i)
                width[i] = std::max(width[i], display_width(cells[i]));
        };
        widen(header_);
        for (const auto& r : rows_) widen(r);
        std::printf("\n### %s\n\n", title_.c_str());
        auto line = [&](const std::vector<std::string>& cells) {
            std::printf("|");
            for (size_t i = 0; i < width.size(); ++i) {
                const std::string cell = i < cells.size() ? cells[i] : "";
                std::printf(" %s%*s |", cell.c_str(),
                            static_cast<int>(width[i] - display_width(cell)), "");
            }
            std::printf("\n");
        };
        line(header_);
        std::printf("|");
        for (size_t w : width) std::printf("%s|", std::string(w + 2, '-').c_str());
        std::printf("\n");
        for (const auto& r : rows_) line(r);
        std::fflush(stdout);
    }

  private:
    static size_t display_width(const std::string& s) {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;  // UTF-8 lead bytes
        return n;
    }
    std::string title_;
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

inline std::string fmt(double value, int decimals = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---------------------------------------------------------------- ptys

// A pseudo-terminal: the master stays here, the slave path is what the tool
// opens as its serial device.
class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave_ = ptsname(master_);
    }
    ~Pty() {
        if (master_ >= 0) ::close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    int master() const { return master_; }
    const std::string& slave() const { return slave_; }

  private:
    int master_ = -1;
    std::string slave_;
};

// A simulated reader served by a thread on a pty master: every complete
// frame is answered at once, without pacing, so that the peer adds as
// little as possible to an exchange.
class ThreadReader {
  public:
    explicit ThreadReader(const Pty& pty) : master_(pty.master()) {
        thread_ = std::thread([this] { run(); });
    }
    ~ThreadReader() {
        stop_ = true;
        thread_.join();
    }
    ThreadReader(const ThreadReader&) = delete;
    ThreadReader& operator=(const ThreadReader&) = delete;

  private:
    void run() {
        torvik::sim::Reader reader;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            if (!(p.revents & POLLIN)) {
                sleep_ms(5);  // no slave open: nothing to serve
                continue;
            }
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                sleep_ms(5);
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                const std::string reply = reader.feed(buffer[i], static_cast<uint64_t>(now_us()));
                if (!reply.empty()) {
                    ssize_t w = ::write(master_, reply.data(), reply.size());
                    (void)w;
                }
            }
        }
    }
    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// torvik-sim as a child process; its pty path is read from its first line.
class SimProcess {
  public:
    SimProcess(const std::string& binary, std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> all{binary};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start " + binary);
        }
        std::string line;
        const double deadline = now_ms() + 5000;
        while (line.find('\n') == std::string::npos && now_ms() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c[256];
            const ssize_t n = ::read(out[0], c, sizeof c);
            if (n <= 0) break;
            line.append(c, static_cast<size_t>(n));
        }
        ::close(out[0]);
        const size_t nl = line.find('\n');
        if (nl == std::string::npos) {
            stop();
            throw std::runtime_error(binary + " reported no terminal");
        }
        path_ = line.substr(0, nl);
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; }
    pid_t pid() const { return pid_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::string path_;
};

// ---------------------------------------------------------------- model services

// Counts every sleep of the tool (the pauses after writes and the explicit
// waits) while sleeping them for real.
class CountingClock final : public torvik::link::Clock {
  public:
    uint32_t now_ms() override { return inner_.now_ms(); }
    void sleep_ms(uint32_t ms) override {
        slept_ms += ms;
        inner_.sleep_ms(ms);
    }
    uint64_t slept_ms = 0;

  private:
    torvik::link::MonotonicClock inner_;
};

// Runs actions scheduled for a time; otherwise does nothing, like an event
// loop with no pending events.
class SchedulingPump final : public torvik::link::EventPump {
  public:
    void process_pending() override {
        ++calls;
        if (actions_.empty()) return;
        const double now = now_ms();
        for (size_t i = 0; i < actions_.size();) {
            if (actions_[i].first <= now) {
                auto action = std::move(actions_[i].second);
                actions_.erase(actions_.begin() + static_cast<std::ptrdiff_t>(i));
                action();
            } else {
                ++i;
            }
        }
    }
    void after_ms(double ms, std::function<void()> action) {
        actions_.emplace_back(now_ms() + ms, std::move(action));
    }
    long calls = 0;

  private:
    std::vector<std::pair<double, std::function<void()>>> actions_;
};

// Silent beeper; optionally takes the tone's time as a real one does.
class Beeper final : public torvik::app::Beeper {
  public:
    explicit Beeper(bool sleeps) : sleeps_(sleeps) {}
    void beep(unsigned, unsigned ms) override {
        beeped_ms += ms;
        if (sleeps_) sleep_ms(ms);
    }
    uint64_t beeped_ms = 0;

  private:
    bool sleeps_;
};

class Cursor final : public torvik::app::BusyCursor {
  public:
    void set_busy(bool) override {}
};

class Errors final : public torvik::app::ErrorBox {
  public:
    void show_error(const std::string& text) override {
        std::fprintf(stderr, "error box: %s\n", text.c_str());
    }
};

// Frames on the wire as the link's trace reports them.
struct WireCount {
    long sent = 0, answered = 0, failed = 0;
    long reply_bytes = 0;
    void attach(torvik::link::Link& link) {
        link.set_trace([this](char direction, std::string_view bytes) {
            if (direction == '>') {
                ++sent;
            } else if (direction == '<') {
                ++answered;
                reply_bytes += static_cast<long>(bytes.size());
            } else if (direction == '?') {
                ++failed;
                reply_bytes += static_cast<long>(bytes.size());
            }  // '!': a note of the exchange, no frame
        });
    }
};

// The window model on the real serial device and a counting monotonic clock,
// with the link settings of COM1 at 19200,e stored.
struct Model {
    explicit Model(bool beeps_sleep = false, int stored_port = 1)
        : map("/nonexistent-dev", "/nonexistent-sys"),
          serial(map),
          beeper(beeps_sleep),
          form(torvik::app::Services{serial, clock, pump, beeper, cursor, errors, store}) {
        torvik::ops::BindOperations(form);
        if (stored_port > 0) {
            auto& key = store.keys["\\Software\\KELDO\\ReaderConfig"];
            key["ScanCommNo"] =
                torvik::doubles::MemorySettingsStore::dword(static_cast<uint32_t>(stored_port));
            key["ScanBaudRate"] = torvik::doubles::MemorySettingsStore::text("19200,e,8,1");
            key["ScanBaudRateNo"] = torvik::doubles::MemorySettingsStore::dword(5);
        }
        wire.attach(form.link);
        form.FormCreate();
        form.FormShow();
    }
    torvik::link::ComMap map;
    torvik::link::PosixSerialDevice serial;
    CountingClock clock;
    SchedulingPump pump;
    Beeper beeper;
    Cursor cursor;
    Errors errors;
    torvik::doubles::MemorySettingsStore store;
    torvik::app::TfrmModule form;
    WireCount wire;
};

// Microseconds per byte at 19200 baud, 8 data bits, even parity, 1 stop bit.
inline double byte_us_19200e() {
    return torvik::sim::byte_time_us({19200, 'e'});
}

}  // namespace bench

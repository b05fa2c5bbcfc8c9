// SPDX-License-Identifier: MIT
// Faults on a real line and in the settings store. The window model runs on
// the production serial device and monotonic clock over pseudo-terminals;
// the far end is either torvik-sim (with its fault switches) or a peer
// served by the test on the pty master, which can pull the adapter (close
// the master), send noise or never finish a reply. Every case ends in what
// the window shows, with the window back to idle, the port closed and no
// descriptor left open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/catalogue.h"
#include "app/file_settings_store.h"
#include "app/settings.h"
#include "app/window_model.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "ops/reader_operations.h"
#include "sim/reader.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/scratch_dir.h"
#include "tests/wall_pump.h"

extern char** environ;

namespace torvik::faults {
namespace {

namespace fs = std::filesystem;
using test::make_unwritable;
using test::TempDir;
using Pump = test::WallPump;
using Steady = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count - 1;  // the directory being listed
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---------------------------------------------------------------- far ends

// A reader served by the test on a pty master. Complete frames go to a
// simulated reader; what happens with its reply is up to `respond`, which
// answers by default and, once armed, runs the case's fault.
class Peer {
  public:
    using Respond =
        std::function<void(Peer&, const std::string& payload, const std::string& reply)>;

    explicit Peer(Respond respond = nullptr) : respond_(std::move(respond)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pty");
        slave_ = ptsname(master_);
        thread_ = std::thread([this] { run(); });
    }
    ~Peer() {
        stop_ = true;
        thread_.join();
        if (master_ >= 0) ::close(master_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const std::string& slave() const { return slave_; }
    // From now on frames go to `respond`.
    void arm() { armed_ = true; }

    // For `respond`, on the peer's thread.
    void send(std::string_view bytes) {
        if (master_ >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        }
    }
    // The adapter is pulled: the terminal goes away under the tool.
    void unplug() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
        unplugged_ = true;
    }
    // Whether the master (one descriptor of this process) has been closed.
    bool unplugged() const { return unplugged_; }
    bool stopping() const { return stop_; }
    // Frames of each payload received while armed.
    int count(const std::string& payload) const {
        int n = 0;
        for (const auto& p : armed_payloads_) n += p == payload;
        return n;
    }

  private:
    void run() {
        sim::Reader reader;
        while (!stop_) {
            if (master_ < 0) {
                SleepMs(5);
                continue;
            }
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            if (!(p.revents & POLLIN)) {
                SleepMs(2);  // nobody has the terminal open
                continue;
            }
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n && master_ >= 0; ++i) {
                const size_t logged = reader.log.size();
                const std::string reply = reader.feed(buffer[i], 0);
                if (reader.log.size() == logged) continue;
                const std::string& payload = reader.log.back().payload;
                if (armed_ && respond_) {
                    armed_payloads_.push_back(payload);
                    respond_(*this, payload, reply);
                } else {
                    send(reply);
                }
            }
        }
    }

    Respond respond_;
    int master_ = -1;
    std::string slave_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<bool> unplugged_{false};
    std::vector<std::string> armed_payloads_;  // written and read on the peer's thread only
    std::thread thread_;
};

// torvik-sim as a child process; its terminal is the first line it prints.
class SimChild {
  public:
    explicit SimChild(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all{TORVIK_SIM_BINARY, "--quiet"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, all[0].c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        for (const auto until = Steady::now() + std::chrono::seconds(5);
             rc == 0 && line.find('\n') == std::string::npos && Steady::now() < until;) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c[128];
            const ssize_t n = ::read(out[0], c, sizeof c);
            if (n <= 0) break;
            line.append(c, static_cast<size_t>(n));
        }
        ::close(out[0]);
        if (rc != 0 || line.find('\n') == std::string::npos) {
            stop();
            throw std::runtime_error("torvik-sim did not report its terminal");
        }
        path_ = line.substr(0, line.find('\n'));
    }
    ~SimChild() { stop(); }
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;
    const std::string& path() const { return path_; }

  private:
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid_ = -1;
    std::string path_;
};

// Another program holding the port: a child that opens the terminal and
// takes the advisory lock, until it is killed.
class PortHolder {
  public:
    explicit PortHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char state = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &state, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char state = 'n';
        [[maybe_unused]] const ssize_t n = ::read(ready[0], &state, 1);
        ::close(ready[0]);
        if (state != 'y') {
            release();
            throw std::runtime_error("the holder could not lock " + path);
        }
    }
    ~PortHolder() { release(); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    void release() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

// ---------------------------------------------------------------- the window

class Beeper final : public app::Beeper {
  public:
    void beep(unsigned hz, unsigned) override { tones.push_back(hz); }
    std::vector<unsigned> tones;
};

class Cursor final : public app::BusyCursor {
  public:
    void set_busy(bool) override {}
};

class Errors final : public app::ErrorBox {
  public:
    void show_error(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// The window on the production serial device, with only the COM numbers the
// test pins, and the reader's link stored as COM1 at 19200,e,8,1.
struct Window {
    explicit Window(app::SettingsStore* store = nullptr)
        : map("/nonexistent-dev", "/nonexistent-sys"),
          serial(map),
          form(
              app::Services{serial, clock, pump, beeper, cursor, errors, store ? *store : memory}) {
        auto& key = memory.keys[app::kSettingsKeyPath];
        key["ScanCommNo"] = doubles::MemorySettingsStore::dword(1);
        key["ScanBaudRate"] = doubles::MemorySettingsStore::text("19200,e,8,1");
        key["ScanBaudRateNo"] = doubles::MemorySettingsStore::dword(5);
        ops::BindOperations(form);
    }
    void start(const std::string& com1) {
        map.add_override("COM1=" + com1);
        form.FormCreate();
        form.FormShow();
    }

    link::ComMap map;
    link::PosixSerialDevice serial;
    link::MonotonicClock clock;
    Pump pump;
    Beeper beeper;
    Cursor cursor;
    Errors errors;
    doubles::MemorySettingsStore memory;
    app::TfrmModule form;
};

struct Shown {
    std::string caption;
    app::Rgb color;
};

// What the window shows once a press has returned, after checking that it is
// idle again: enabled with every control usable, normal cursor, busy timer
// off, no reading, no error box, the port closed.
Shown Idle(Window& w) {
    app::TfrmModule& f = w.form;
    EXPECT_TRUE(f.window_enabled());
    EXPECT_FALSE(f.cursor_busy());
    EXPECT_FALSE(f.tmrBusy.enabled());
    EXPECT_FALSE(f.state.reading);
    EXPECT_FALSE(f.core.reading_loop);
    EXPECT_FALSE(f.port.is_open());
    EXPECT_FALSE(w.serial.is_open());
    EXPECT_EQ(w.errors.shown, std::vector<std::string>{});
    for (app::Control* c : f.controls()) {
        if (c->kind() != app::Kind::Timer) {
            EXPECT_TRUE(c->enabled()) << c->name();
        }
    }
    return {f.pnMsg.caption(), f.shComm.color()};
}

// A second handle can take the port: nothing of the tool's hold is left.
void ExpectReleased(const std::string& path) {
    link::ComMap map("/nonexistent-dev", "/nonexistent-sys");
    map.add_override("COM1=" + path);
    link::PosixSerialDevice other(map);
    EXPECT_TRUE(other.open(1, "19200,e,8,1")) << other.last_open_failure();
}

const std::string kFound = "Get Reader Info Ok. (COM : #1)";
const std::string kNotFound = "Reader Not Find";

// A burst of line noise: zero bytes, stray CR and LF, never starting a reply.
std::string NoiseBurst() {
    std::string noise(1, '\0');
    std::mt19937 rng(20240611);
    for (int i = 0; i < 47; ++i) noise.push_back(static_cast<char>(i % 5 == 0 ? 0 : rng() & 0xFF));
    noise[10] = '\r';
    noise[20] = '\n';
    noise[30] = '\r';
    return noise;
}

// ---------------------------------------------------------------- the line

// The adapter pulled and noise, while an operation runs after a good scan.
TEST(FaultsOperation, EndsInTheWindowsOutcomeAndFreesEverything) {
    using Respond = Peer::Respond;
    auto nth_poll = [](int n, std::function<void(Peer&, const std::string&)> fault) -> Respond {
        return [n, fault](Peer& p, const std::string& payload, const std::string& reply) {
            if (payload == "I00F" && p.count("I00F") == n) {
                fault(p, reply);
            } else {
                p.send(reply);
            }
        };
    };
    struct Case {
        const char* name;
        bool scan_first;  // the fault hits an operation after a scan that found the reader
        app::Control app::TfrmModule::*button;
        Respond respond;
        std::string caption;
        app::Rgb color;
    } const cases[] = {
        {"unplugged in the middle of the scan's presence reply", false, &app::TfrmModule::btnScan,
         [](Peer& p, const std::string&, const std::string& reply) {
             p.send(reply.substr(0, 7));
             SleepMs(5);
             p.unplug();
         },
         kNotFound, app::kRed},
        {"unplugged between the presence check and the command", true,
         &app::TfrmModule::btnCardType,
         [](Peer& p, const std::string& payload, const std::string& reply) {
             p.send(reply);
             if (payload == "I00B") {
                 SleepMs(20);  // the reply is taken before the line goes
                 p.unplug();
             }
         },
         "Set Card Type Error", app::kRed},
        {"unplugged in the middle of the command's reply", true, &app::TfrmModule::btnCardType,
         [](Peer& p, const std::string& payload, const std::string& reply) {
             if (payload == "I00B") return p.send(reply);
             p.send(reply.substr(0, 4));
             SleepMs(5);
             p.unplug();
         },
         "Set Card Type Error", app::kRed},
        {"unplugged during a live reading", true, &app::TfrmModule::btnReadCard,
         nth_poll(3, [](Peer& p, const std::string&) { p.unplug(); }), kNotFound, app::kRed},
        {"noise and zero bytes instead of a poll reply", true, &app::TfrmModule::btnReadCard,
         nth_poll(3, [](Peer& p, const std::string&) { p.send(NoiseBurst()); }), kNotFound,
         app::kRed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer(c.respond);
        const std::string path = peer.slave();
        Window w;
        w.start(path);
        if (c.scan_first) {
            w.form.press(w.form.btnScan);
            ASSERT_EQ(w.form.pnMsg.caption(), kFound);
        }
        peer.arm();
        app::Control& button = w.form.*c.button;
        const std::string caption = button.caption();
        // A live reading that the fault failed to end stops here.
        w.pump.after_ms(5000, [&] { w.form.press(button); });
        const int fds = OpenDescriptors();
        w.form.press(button);
        const Shown shown = Idle(w);
        EXPECT_EQ(shown.caption, c.caption);
        EXPECT_EQ(shown.color, c.color);
        EXPECT_EQ(OpenDescriptors(), fds - (peer.unplugged() ? 1 : 0));
        EXPECT_EQ(button.caption(), caption);
        EXPECT_EQ(w.form.shCard.color(), app::kWhite);
        ASSERT_FALSE(w.beeper.tones.empty());
        EXPECT_EQ(w.beeper.tones.back(), app::kLowBeepHz);
        if (c.button == &app::TfrmModule::btnScan) {
            EXPECT_FALSE(w.form.state.reader_found);
            EXPECT_EQ(w.memory.writes, 0);  // nothing saved
        }
    }
}

// Another program holds the port: every way of opening it says so and
// leaves the holder alone; once it lets go, the reader is found again.
TEST(FaultsOperation, PortHeldByAnotherProgram) {
    const struct {
        app::Control app::TfrmModule::*button;
        std::string caption;
    } cases[] = {
        {&app::TfrmModule::btnCardType, "Set Card Type Error"},
        {&app::TfrmModule::btnReadCard, "Open COM : 1 Error"},
        {&app::TfrmModule::btnScan, kNotFound},
    };
    SimChild sim({});
    for (const auto& c : cases) {
        app::Control* button = nullptr;
        Window w;
        w.start(sim.path());
        button = &(w.form.*c.button);
        SCOPED_TRACE(button->name());
        w.form.press(w.form.btnScan);
        ASSERT_EQ(w.form.pnMsg.caption(), kFound);
        {
            PortHolder holder(sim.path());
            const int fds = OpenDescriptors();
            w.form.press(*button);
            const Shown shown = Idle(w);
            EXPECT_EQ(shown.caption, c.caption);
            EXPECT_EQ(shown.color, app::kRed);
            EXPECT_EQ(OpenDescriptors(), fds);
            if (c.button != &app::TfrmModule::btnScan) {  // the scan goes on to the ports after it
                const std::string why = w.serial.last_open_failure();
                EXPECT_EQ(why.rfind("COM1 (" + sim.path() + "): busy", 0), 0u) << why;
            }
        }
        w.form.press(w.form.btnScan);
        EXPECT_EQ(Idle(w).caption, kFound);
    }
}

// Faults the scan meets on the line: it ends in its outcome, saves only what
// it found, and gives the port back.
TEST(FaultsLine, ScanOutcome) {
    const std::string burst = NoiseBurst();
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> sim_args;  // nothing: the test's own peer
        Peer::Respond respond;
        bool lock;  // chkLock ticked
        std::string caption;
        app::Rgb color;
        std::optional<app::LinkSettings> saved;
    } const cases[] = {
        {"noise before every reply", std::vector<std::string>{"--fault", "noise"}, nullptr, true,
         kNotFound, app::kRed, std::nullopt},
        {"noise burst with zero bytes instead of the first reply, then quiet", std::nullopt,
         [&burst](Peer& p, const std::string&, const std::string& reply) {
             p.send(p.count("I00B") == 1 ? burst : reply);
         },
         true, kFound, app::kYellow, std::nullopt},
        {"reader at another speed, chkLock ticked", std::vector<std::string>{"--baud", "9600"},
         nullptr, true, kNotFound, app::kRed, std::nullopt},
        {"reader at another speed, chkLock clear", std::vector<std::string>{"--baud", "9600"},
         nullptr, false, kFound, app::kYellow, app::LinkSettings{1, "9600,n,8,1", 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SimChild> sim;
        std::unique_ptr<Peer> peer;
        if (c.sim_args) {
            sim = std::make_unique<SimChild>(*c.sim_args);
        } else {
            peer = std::make_unique<Peer>(c.respond);
            peer->arm();
        }
        const std::string path = sim ? sim->path() : peer->slave();
        Window w;
        w.start(path);
        w.form.user_set_checked(w.form.chkLock, c.lock);
        const int fds = OpenDescriptors();
        w.form.press(w.form.btnScan);
        const Shown shown = Idle(w);
        EXPECT_EQ(shown.caption, c.caption);
        EXPECT_EQ(shown.color, c.color);
        EXPECT_EQ(OpenDescriptors(), fds);
        EXPECT_EQ(w.form.state.reader_found, c.color == app::kYellow);
        if (c.saved) {
            EXPECT_EQ(w.memory.writes, 3);
            EXPECT_EQ(w.form.state.link.port, c.saved->port);
            EXPECT_EQ(w.form.state.link.settings, c.saved->settings);
            EXPECT_EQ(w.form.state.link.index, c.saved->index);
            const auto& key = w.memory.keys[app::kSettingsKeyPath];
            EXPECT_EQ(key.at("ScanBaudRate").data, c.saved->settings);
            EXPECT_EQ(key.at("ScanBaudRateNo").dword, static_cast<uint32_t>(c.saved->index));
        } else {
            EXPECT_EQ(w.memory.writes, 0);
        }
        ExpectReleased(path);
    }
}

// A far end that babbles without ever sending CR (a second device talking on
// the bus, a line picking up interference). At 230400 baud a byte comes
// every 43 us, at 19200 every 0.57 ms: always well inside the 1 ms read, so
// the reads never come back empty while it lasts. The peer keeps the input
// queue filled so that the pace of this machine does not matter. Each
// exchange must still give up after its budget instead of reading for as
// long as bytes keep coming.
// Each exchange ends at twice its budget however long the stream lasts.
TEST(FaultsLine, ReplyThatNeverEndsStillEndsTheExchange) {
    // From the first frame on, for longer than the whole scan may take.
    constexpr auto kStream = std::chrono::seconds(8);
    Peer peer([&](Peer& p, const std::string&, const std::string&) {
        if (p.count("I00B") > 1) return;
        const std::string chunk(256, 'A');
        p.send("\n");
        for (const auto until = Steady::now() + kStream; !p.stopping() && Steady::now() < until;) {
            p.send(chunk);  // a full queue takes what fits
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    peer.arm();
    Window w;
    w.start(peer.slave());
    const int fds = OpenDescriptors();
    const auto start = Steady::now();
    w.form.press(w.form.btnScan);
    const double took = Seconds(Steady::now() - start).count();
    const Shown shown = Idle(w);
    EXPECT_EQ(shown.caption, kNotFound);
    EXPECT_EQ(shown.color, app::kRed);
    EXPECT_EQ(OpenDescriptors(), fds);
    // Five exchanges of at most about 410 ms each; a hang would last as long
    // as the stream (only a guard, not a measure of speed).
    EXPECT_LT(took, 5.0) << "the scan ran " << took << " s while the far end kept sending";
}

// ---------------------------------------------------------------- settings

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

app::AppState Load(const fs::path& path) {
    app::FileSettingsStore store(path);
    app::AppState state;
    app::LoadSettings(store, state);
    return state;
}

bool SameLink(const app::LinkSettings& a, const app::LinkSettings& b) {
    return a.port == b.port && a.settings == b.settings && a.index == b.index;
}

// A copy of the tool killed at any moment while it saves: the file always
// parses and holds one complete set of link settings (never a mix of two
// saves) and one of the languages; the next copy saves and loads as usual.
TEST(FaultsSettings, KilledWhileSavingLeavesACompleteOldOrNewSet) {
    TempDir tmp;
    const app::LinkSettings sets[2] = {{3, "38400,e,8,1", 7}, {12, "9600,n,8,1", 2}};
    const std::string languages[2] = {"ChineseGB", "ChineseBIG5"};
    {
        app::FileSettingsStore store(tmp.file());
        app::SaveLinkSettings(store, sets[0]);
        app::SaveLanguage(store, languages[0]);
    }
    std::mt19937 rng(4711);
    int torn = 0;
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            app::FileSettingsStore store(tmp.file());
            [[maybe_unused]] const ssize_t n = ::write(ready[1], "r", 1);
            for (unsigned i = static_cast<unsigned>(round);; ++i) {
                app::SaveLinkSettings(store, sets[i % 2]);
                app::SaveLanguage(store, languages[(i / 2) % 2]);
            }
        }
        ::close(ready[1]);
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(ready[0], &c, 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 15000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        const std::string text = ReadText(tmp.file());
        const auto parsed = app::parse_store_text(text);
        ASSERT_TRUE(parsed) << "round " << round << ":\n" << text;
        const app::ParsedSection* section =
            parsed->find(std::string(app::kSettingsRoot) + app::kSettingsKeyPath);
        ASSERT_NE(section, nullptr) << text;
        EXPECT_EQ(section->values.size(), 4u) << text;
        const app::AppState state = Load(tmp.file());
        const bool complete = SameLink(state.link, sets[0]) || SameLink(state.link, sets[1]);
        torn += !complete;
        EXPECT_TRUE(complete) << "round " << round << ":\n" << text;
        EXPECT_TRUE(state.language_name == languages[0] || state.language_name == languages[1])
            << text;
    }
    EXPECT_EQ(torn, 0);
    // A temporary file of the last save killed before its rename (earlier
    // ones are cleared by the next save).
    int cut = 0;
    for (const std::string& name : tmp.entries())
        cut += name.rfind("settings.reg.", 0) == 0 && name != "settings.reg.lock";
    RecordProperty("saves_cut_short", cut);
    // Locks die with their holder: the next save goes through.
    app::FileSettingsStore store(tmp.file());
    app::SaveLinkSettings(store, {5, "57600,n,8,1", 8});
    app::SaveLanguage(store, "English");
    const app::AppState state = Load(tmp.file());
    EXPECT_TRUE(SameLink(state.link, {5, "57600,n,8,1", 8}));
    EXPECT_EQ(state.language_name, "English");
    // ... and clears what the killed saves left behind.
    for (const std::string& name : tmp.entries()) {
        EXPECT_TRUE(name == "settings.reg" || name == "settings.reg.lock") << name;
    }
}

// A store that cannot be written: the scan that finds the reader and a
// language switch still work in the window, and the file keeps its old
// content with no temporary file left behind.
TEST(FaultsSettings, UnwritableStoreLeavesTheWindowWorkingAndTheFileIntact) {
    enum class Fault { FullDisk, ReadOnlyDirectory };
    const struct {
        const char* name;
        Fault fault;
    } cases[] = {{"full disk", Fault::FullDisk}, {"read-only directory", Fault::ReadOnlyDirectory}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        {
            // Stored: a port that is not there, so the scan sweeps and saves.
            app::FileSettingsStore store(tmp.file());
            app::SaveLinkSettings(store, {5, "19200,e,8,1", 5});
            app::SaveLanguage(store, "English");
        }
        const std::string old = ReadText(tmp.file());
        const auto before = tmp.entries();
        app::FileSettingsStore store(tmp.file());
        if (c.fault == Fault::FullDisk) store.set_fail_write_for_test(true);
        if (c.fault == Fault::ReadOnlyDirectory && !make_unwritable(tmp.dir)) {
            GTEST_SKIP() << "cannot make a directory read-only here";
        }

        Peer peer;
        Window w(&store);
        w.start(peer.slave());
        ASSERT_EQ(w.form.state.link.port, 5);
        const int fds = OpenDescriptors();
        w.form.press(w.form.btnScan);
        const Shown shown = Idle(w);
        EXPECT_EQ(shown.caption, kFound);
        EXPECT_EQ(shown.color, app::kYellow);
        EXPECT_EQ(w.form.state.link.port, 1);  // in force for this run
        w.form.press(w.form.btnGB);
        EXPECT_EQ(w.form.frmModule.caption(), app::catalogue_text(1, 1));
        EXPECT_EQ(OpenDescriptors(), fds);

        EXPECT_EQ(ReadText(tmp.file()), old);
        EXPECT_EQ(tmp.entries(), before);
        const app::AppState state = Load(tmp.file());
        EXPECT_EQ(state.link.port, 5);
        EXPECT_EQ(state.language_name, "English");
    }
}

}  // namespace
}  // namespace torvik::faults

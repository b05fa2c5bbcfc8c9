// SPDX-License-Identifier: MIT
#include "link/exit_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "link/driver_requests.h"

namespace torvik::link {
namespace {

constexpr size_t kPathMax = 4096;
constexpr int kLocksPerPort = 4;

// A slot is free, being written or read by one party, or ready. Whoever
// moves it from ready to busy owns it; so a handler and the code clearing
// it normally never both act on one slot.
enum SlotState : int { kFree = 0, kBusy = 1, kReady = 2 };
static_assert(std::atomic<int>::is_always_lock_free);

struct PortSlot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;
    int fd = -1;
    TtyState saved;
    bool exclusive = false;
    DriverState driver;  // RS-485 and low-latency settings to put back
    std::atomic<int> locks{0};
    char lock_paths[kLocksPerPort][kPathMax] = {};
};

struct ChildSlot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;
    pid_t pid = 0;
};

struct TempSlot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;
    bool directory = false;
    char path[kPathMax] = {};
};

std::array<PortSlot, 4> g_ports;
std::array<ChildSlot, 8> g_children;
std::array<TempSlot, 16> g_temps;

template <class Slot>
Slot* claim_free(Slot* first, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int expected = kFree;
        if (first[i].state.compare_exchange_strong(expected, kBusy)) return &first[i];
    }
    return nullptr;
}

template <class Slot>
bool take_ready(Slot& slot) {
    int expected = kReady;
    return slot.state.compare_exchange_strong(expected, kBusy);
}

bool copy_path(char* out, const std::string& path) {
    if (path.empty() || path.size() >= kPathMax) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

void sleep_ms(long ms) {
    timespec ts{0, ms * 1000000L};
    while (::nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Removes the entries of a directory (and of empty directories in it),
// then the directory. System calls only.
void remove_directory(const char* path) {
    const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                if (::unlinkat(dir, name, 0) != 0 && (errno == EISDIR || errno == EPERM)) {
                    ::unlinkat(dir, name, AT_REMOVEDIR);
                }
            }
        }
        ::close(dir);
    }
    ::rmdir(path);
}

void undo_port(PortSlot& slot) {
    RestoreDriverState(slot.fd, slot.driver);
    restore_tty_state(slot.fd, slot.saved);
    if (slot.exclusive) ::ioctl(slot.fd, TIOCNXCL);
    ::close(slot.fd);
    const int locks = slot.locks.load();
    for (int i = 0; i < locks && i < kLocksPerPort; ++i) ::unlink(slot.lock_paths[i]);
}

std::atomic<int> g_handling{0};

void on_signal(int sig) {
    // A second signal, in another thread, waits for the first to finish.
    if (g_handling.exchange(1) != 0) {
        for (;;) ::pause();
    }
    RunExitCleanup();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

void at_exit() {
    RunExitCleanup();
}

}  // namespace

void InstallExitCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit(at_exit);
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&action.sa_mask, sig);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
            ::sigaction(sig, &action, nullptr);
        }
    });
}

void RunExitCleanup() {
    const pid_t self = ::getpid();
    for (PortSlot& slot : g_ports) {
        if (slot.owner != self || !take_ready(slot)) continue;
        undo_port(slot);
        slot.state.store(kFree);
    }
    bool any_child = false;
    for (ChildSlot& slot : g_children) {
        if (slot.owner != self || slot.state.load() != kReady) continue;
        ::kill(slot.pid, SIGTERM);
        any_child = true;
    }
    // Give the children a moment to go, so that nothing of ours outlives us.
    for (int waited = 0; any_child && waited < 50; ++waited) {
        any_child = false;
        for (ChildSlot& slot : g_children) {
            if (slot.owner != self || slot.state.load() != kReady) continue;
            int status = 0;
            const pid_t r = ::waitpid(slot.pid, &status, WNOHANG | __WALL);
            if (r == 0) {
                any_child = true;
            } else if (take_ready(slot)) {
                slot.state.store(kFree);  // gone (or not ours to wait for)
            }
        }
        if (any_child) sleep_ms(10);
    }
    for (TempSlot& slot : g_temps) {
        if (slot.owner != self || !take_ready(slot)) continue;
        if (slot.directory) {
            remove_directory(slot.path);
        } else {
            ::unlink(slot.path);
        }
        slot.state.store(kFree);
    }
}

int RegisterOpenPort(int fd, const TtyState& saved, bool exclusive) {
    PortSlot* slot = claim_free(g_ports.data(), g_ports.size());
    if (slot == nullptr) return -1;
    slot->owner = ::getpid();
    slot->fd = fd;
    slot->saved = saved;
    slot->exclusive = exclusive;
    slot->driver = DriverState{};
    slot->locks.store(0);
    slot->state.store(kReady);
    return static_cast<int>(slot - g_ports.data());
}

void SetPortDriverState(int index, const DriverState& state) {
    if (index < 0 || static_cast<size_t>(index) >= g_ports.size()) return;
    // Made ready again only when whole, so a handler never sees half of it.
    PortSlot& slot = g_ports[static_cast<size_t>(index)];
    slot.state.store(kBusy);
    slot.driver = state;
    slot.state.store(kReady);
}

void AddPortLockFile(int index, const std::string& path) {
    if (index < 0 || static_cast<size_t>(index) >= g_ports.size()) return;
    PortSlot& slot = g_ports[static_cast<size_t>(index)];
    const int n = slot.locks.load();
    if (n >= kLocksPerPort || !copy_path(slot.lock_paths[n], path)) return;
    slot.locks.store(n + 1);
}

void ClearOpenPort(int index) {
    if (index < 0 || static_cast<size_t>(index) >= g_ports.size()) return;
    PortSlot& slot = g_ports[static_cast<size_t>(index)];
    if (take_ready(slot)) slot.state.store(kFree);
}

void RegisterChild(pid_t pid) {
    if (pid <= 0) return;
    ChildSlot* slot = claim_free(g_children.data(), g_children.size());
    if (slot == nullptr) return;
    slot->owner = ::getpid();
    slot->pid = pid;
    slot->state.store(kReady);
}

void ClearChild(pid_t pid) {
    for (ChildSlot& slot : g_children) {
        if (slot.owner != ::getpid() || slot.pid != pid) continue;
        if (take_ready(slot)) slot.state.store(kFree);
    }
}

void RegisterTempPath(const std::string& path, bool directory) {
    TempSlot* slot = claim_free(g_temps.data(), g_temps.size());
    if (slot == nullptr) return;
    if (!copy_path(slot->path, path)) {
        slot->state.store(kFree);
        return;
    }
    slot->owner = ::getpid();
    slot->directory = directory;
    slot->state.store(kReady);
}

void ClearTempPath(const std::string& path) {
    for (TempSlot& slot : g_temps) {
        if (slot.owner != ::getpid() || slot.state.load() != kReady) continue;
        if (path != slot.path) continue;
        if (take_ready(slot)) slot.state.store(kFree);
    }
}

}  // namespace torvik::link

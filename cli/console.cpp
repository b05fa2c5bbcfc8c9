// SPDX-License-Identifier: MIT
#include "cli/console.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "cli/text.h"
#include "cli/texts.h"
#include "link/exit_cleanup.h"

namespace torvik::cli {

volatile std::sig_atomic_t g_stop_requests = 0;

void ConsolePump::process_pending() {
    const uint32_t now = clock_.now_ms();
    std::vector<app::Control*> due;
    for (const auto& [timer, started] : started_ms_) {
        if (link::elapsed_ms(started, now) >= static_cast<uint32_t>(timer->interval_ms))
            due.push_back(timer);
    }
    for (app::Control* timer : due) {
        // A tick may stop or restart timers.
        const auto found = started_ms_.find(timer);
        if (found == started_ms_.end()) continue;
        found->second = now;
        if (form) form->tick(*timer);
    }
    if (every) every();
}

void ConsolePump::timer_changed(app::Control& timer) {
    if (timer.enabled()) {
        started_ms_[&timer] = clock_.now_ms();
    } else {
        started_ms_.erase(&timer);
    }
}

void StderrErrorBox::show_error(const std::string& text) {
    ++shown;
    std::fprintf(stderr, "torvikctl: %s\n",
                 Tr(language, T::kErrorPrefix, {ForTerminal(text)}).c_str());
    std::fflush(stderr);
}

void SignalAwareClock::sleep_ms(uint32_t ms) {
    // To an absolute deadline, as the monotonic clock sleeps: a signal
    // neither cuts the wait short nor stretches it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000u);
    deadline.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (on_wait) on_wait();
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        if (on_wait) on_wait();
    }
}

namespace {

void OnStopSignal(int signal) {
    if (g_stop_requests > 0) {
        // A second request: the technician wants out now. What is still
        // registered is given back, then the default action ends the
        // process with the signal.
        link::RunExitCleanup();
        std::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_stop_requests = g_stop_requests + 1;
}

}  // namespace

void InstallStopSignals() {
    link::InstallExitCleanup();  // exit(), and the port given back on a hard end
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when we were started (nohup) stays ignored.
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

}  // namespace torvik::cli

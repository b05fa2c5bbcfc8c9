// SPDX-License-Identifier: MIT
// torvikctl: every reader operation from a terminal or a script. Builds the
// same window model as the window (without a window), with the same
// settings file and COM numbers, and runs the commands of the command line
// over it.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/window_model.h"
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/session.h"
#include "cli/terminal_stream.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/exit_cleanup.h"
#include "link/terminal_text.h"
#include "ops/reader_operations.h"

namespace {

using namespace torvik;

// A line on stderr; the text may carry what the command line or a file held.
void Say(const std::string& text) {
    std::fprintf(stderr, "torvikctl: %s\n", link::TerminalSafe(text).c_str());
    std::fflush(stderr);
}

int Usage(const std::string& text) {
    Say(text);
    return cli::kExitUsage;
}

int RunInvocation(const cli::Invocation& inv, link::ComMap& com_map) {
    app::StartOptions start;
    start.simulate = inv.simulate;
    start.settings_path = inv.settings_path;
    start.trace = inv.trace;
    start.trace_file = inv.trace_file;
    start.line = inv.line;

    cli::StderrErrorBox errors;
    try {
        link::MonotonicClock clock;
        cli::ConsolePump pump(clock);
        cli::NoCursor cursor;
        app::Assembly assembly(start, com_map, {clock, pump, cursor, errors, inv.beep},
                               ops::BindOperations, {"--card-every-ms", "3000", "--quiet"});
        // A settings file that is not one, or a lock file that is a link, is
        // left alone; the technician is told once.
        assembly.store().set_report(Say);
        app::TfrmModule& form = assembly.form();
        pump.form = &form;
        form.observer = [&pump](app::Control& c, app::Prop p) {
            if (c.kind() == app::Kind::Timer && p == app::Prop::Enabled) pump.timer_changed(c);
        };
        // Why no reader was found: the scan's account, on stderr (or in the trace).
        assembly.Create([&form](const std::string& text) {
            if (!form.state.reader_found)
                std::fprintf(stderr, "%s\n", link::TerminalSafe(text).c_str());
        });
        if (inv.language) {
            // For this run only; the stored language stays as it is.
            form.state.language = *inv.language;
            form.state.language_name = app::kLanguageNames[static_cast<size_t>(*inv.language)];
        }
        if (inv.com) form.state.link.port = *inv.com;
        form.FormShow();

        cli::SessionOptions options;
        options.json = inv.json;
        options.progress = ::isatty(STDERR_FILENO) == 1;
        options.stop_requests = &cli::g_stop_requests;
        options.errors_shown = [&errors] { return errors.shown; };
        if (!assembly.trace()) {
            // What an opening did beyond the usual (a stale exclusive flag
            // cleared) is said on stderr; the trace carries it otherwise.
            form.port.set_watcher([&form](const link::PortEvent& event) {
                if (!event.opening || !event.opened) return;
                const std::string note = form.svc.serial.last_open_note();
                if (!note.empty()) Say("COM" + std::to_string(event.port_number) + ": " + note);
            });
        }
        cli::Session session(form, std::cout, std::cerr, std::move(options));
        pump.every = [&session] { session.Poll(); };
        const int status = session.Run(inv.commands);
        form.port.ClosePort();
        return status;
    } catch (const std::exception& e) {
        errors.show_error(e.what());
    } catch (...) {
        errors.show_error("Unexpected error");
    }
    return cli::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened or started: whatever the end, what is held
    // is given back.
    link::InstallExitCleanup();
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Invocation inv;
    try {
        inv = cli::ParseCommandLine(args);
    } catch (const cli::UsageError& e) {
        return Usage(std::string(e.what()) + " (torvikctl --help explains)");
    }
    if (inv.version) {
        std::printf("torvikctl %s\n", TORVIK_VERSION);
        return cli::kExitOk;
    }
    if (inv.help) {
        const std::string text =
            inv.help_topic.empty() ? cli::UsageText() : cli::CommandHelp(inv.help_topic);
        std::fputs(text.c_str(), stdout);
        return cli::kExitOk;
    }
    link::ComMap com_map;
    for (const std::string& pin : inv.ports) {
        std::string why;
        if (!com_map.add_override(pin, &why)) {
            return Usage(link::ComMap::pin_well_formed(pin)
                             ? "--port " + pin + " refused: " + why
                             : "bad --port value " + pin + " (expected COMn=PATH, n from 1 to 16)");
        }
    }
    if (inv.list_ports) {
        app::StartOptions start;
        start.settings_path = inv.settings_path;
        return app::ListPorts(start, com_map, stdout);
    }
    // A closed terminal or pipe must not kill the run in the middle of an
    // operation; the stop request (SIGHUP) ends it at the next clean point.
    std::signal(SIGPIPE, SIG_IGN);
    cli::InstallStopSignals();
    // What the reader sent and names from files reach stdout: through a
    // buffer that makes them safe for a terminal.
    cli::TerminalSafeBuf safe_out(std::cout.rdbuf());
    std::cout.rdbuf(&safe_out);
    const int status = RunInvocation(inv, com_map);
    std::cout.flush();
    std::cout.rdbuf(safe_out.passes_to());
    return status;
}

// SPDX-License-Identifier: MIT
// torvikctl: every reader operation from a terminal or a script. Builds the
// same window model as the window (without a window), with the same
// settings file and COM numbers, and runs the commands of the command line
// over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/file_settings_store.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/window_model.h"
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/session.h"
#include "cli/template_file.h"
#include "cli/terminal_stream.h"
#include "cli/texts.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/exit_cleanup.h"
#include "link/file_io.h"
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

// The language of what is said before the settings are read: --lang, else
// the stored language (of --settings FILE, or of the machine; none with
// --simulate alone, whose settings are thrown away), else English.
int EarlyLanguage(const std::vector<std::string>& args) {
    if (const auto chosen = cli::LanguageOption(args)) return *chosen;
    std::string path;
    bool simulate = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--settings" && i + 1 < args.size()) path = args[i + 1];
        if (args[i] == "--simulate") simulate = true;
    }
    if (path.empty() && simulate) return 0;
    app::FileSettingsStore store(path.empty() ? app::kDefaultSettingsPath : path);
    app::AppState state;
    app::LoadSettings(store, state);
    return state.language >= 0 && state.language < 3 ? state.language : 0;
}

// The trace file checked before anything starts, as the trace opens it
// (app/startup.h): its directory exists, and it is absent, a regular file
// that may be written, a FIFO a program reads, or a character device. A
// FIFO is opened here and kept open until the trace has opened it too, so
// that the program reading it never sees its writer go.
std::optional<cli::Said> CheckTraceFile(const std::string& path, link::Fd& fifo) {
    const std::string shown = link::TerminalSafe(path);
    const auto refuse = [&shown](cli::SaidValue why) {
        return cli::Said(cli::T::kTraceRefused, {shown, std::move(why)});
    };
    const link::Fd dir = link::OpenDirectoryOf(path);
    if (!dir.valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return refuse(cli::Said(cli::T::kTraceDirMissing,
                                    {link::TerminalSafe(link::DirectoryOf(path))}));
        return refuse(cli::Said(cli::T::kTraceNotWritable, {std::strerror(errno)}));
    }
    const std::string name = link::BaseNameOf(path);
    if (name.empty() || name == "." || name == "..")
        return refuse(cli::Said(cli::T::kTraceDirectory));
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) return refuse(cli::Said(cli::T::kTraceNotWritable, {std::strerror(errno)}));
        if (::faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
            return refuse(cli::Said(cli::T::kTraceNotWritable, {std::strerror(errno)}));
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) return refuse(cli::Said(cli::T::kTraceLink));
    if (S_ISDIR(st.st_mode)) return refuse(cli::Said(cli::T::kTraceDirectory));
    if (S_ISFIFO(st.st_mode)) {
        fifo = link::Fd(::openat(dir.get(), name.c_str(),
                                 O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fifo.valid())
            return refuse(errno == ENXIO
                              ? cli::Said(cli::T::kTraceFifo)
                              : cli::Said(cli::T::kTraceNotWritable, {std::strerror(errno)}));
        // Still the FIFO looked at, not something put in its place meanwhile.
        struct stat opened {};
        if (::fstat(fifo.get(), &opened) != 0 || !S_ISFIFO(opened.st_mode) ||
            opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
            fifo.reset();
            return refuse(cli::Said(cli::T::kTraceKind, {cli::KindWords(opened.st_mode)}));
        }
        return std::nullopt;
    }
    if (S_ISCHR(st.st_mode)) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return refuse(cli::Said(cli::T::kTraceKind, {cli::KindWords(st.st_mode)}));
    if (::faccessat(dir.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
        return refuse(cli::Said(cli::T::kTraceNotWritable, {std::strerror(errno)}));
    return std::nullopt;
}

int RunInvocation(const cli::Invocation& inv, link::ComMap& com_map, int early_language,
                  link::Fd& trace_fifo) {
    app::StartOptions start;
    start.simulate = inv.simulate;
    start.settings_path = inv.settings_path;
    start.trace = inv.trace;
    start.trace_file = inv.trace_file;
    start.line = inv.line;

    cli::StderrErrorBox errors;
    errors.language = early_language;
    try {
        cli::SignalAwareClock clock;
        cli::ConsolePump pump(clock);
        cli::NoCursor cursor;
        app::Assembly assembly(start, com_map, {clock, pump, cursor, errors, inv.beep},
                               ops::BindOperations, {"--card-every-ms", "3000", "--quiet"});
        // The trace has the FIFO open now.
        trace_fifo.reset();
        // A settings file that is not one, or a lock file that is a link, is
        // left alone; the technician is told once.
        assembly.store().set_report(Say);
        app::TfrmModule& form = assembly.form();
        pump.form = &form;
        form.observer = [&pump](app::Control& c, app::Prop p) {
            if (c.kind() == app::Kind::Timer && p == app::Prop::Enabled) pump.timer_changed(c);
        };
        // Why no reader was found: the trace carries the scan's account;
        // without one the session writes it, in words for a terminal.
        assembly.Create();
        if (inv.language) {
            // For this run only; the stored language stays as it is.
            form.state.language = *inv.language;
            form.state.language_name = app::kLanguageNames[static_cast<size_t>(*inv.language)];
        }
        errors.language = form.state.language;
        if (inv.com) form.state.link.port = *inv.com;
        form.FormShow();

        cli::SessionOptions options;
        options.json = inv.json;
        options.progress = ::isatty(STDERR_FILENO) == 1;
        options.stop_requests = &cli::g_stop_requests;
        options.errors_shown = [&errors] { return errors.shown; };
        options.device_of = [&com_map](int port) { return com_map.path(port); };
        if (inv.simulate) options.reader_gone = [&assembly] { return assembly.simulator_ended(); };
        if (!assembly.trace()) {
            options.account_map = &com_map;
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
        // A stop request is answered at once, even in the middle of a wait.
        clock.on_wait = [&session] { session.NoteStop(); };
        const int status = session.Run(inv.commands);
        clock.on_wait = nullptr;
        pump.every = nullptr;
        form.port.ClosePort();
        return status;
    } catch (const std::exception& e) {
        errors.show_error(e.what());
    } catch (...) {
        errors.show_error(cli::Tr(errors.language, cli::T::kUnexpectedError));
    }
    return cli::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened or started: whatever the end, what is held
    // is given back.
    link::InstallExitCleanup();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int language = EarlyLanguage(args);
    cli::Invocation inv;
    try {
        inv = cli::ParseCommandLine(args);
    } catch (const cli::UsageError& e) {
        return Usage(cli::Tr(language, e.said) + cli::Tr(language, cli::T::kSeeHelp));
    }
    if (inv.version) {
        std::printf("torvikctl %s\n", TORVIK_VERSION);
        return cli::kExitOk;
    }
    if (inv.help) {
        const std::string text = inv.help_topic.empty()
                                     ? cli::UsageText(language)
                                     : cli::CommandHelp(inv.help_topic, language);
        std::fputs(text.c_str(), stdout);
        return cli::kExitOk;
    }
    // Settings kept in a directory that is not there would be lost.
    if (!inv.settings_path.empty()) {
        const link::Fd dir = link::OpenDirectoryOf(inv.settings_path);
        if (!dir.valid())
            return Usage(cli::Tr(language, cli::T::kSettingsDirMissing,
                                 {inv.settings_path, link::DirectoryOf(inv.settings_path)}));
    }
    link::ComMap com_map;
    for (const std::string& pin : inv.ports) {
        std::string why;
        if (!com_map.add_override(pin, &why)) {
            // The window's words for the same refusal.
            return Usage(link::ComMap::pin_well_formed(pin)
                             ? cli::Tr(language, cli::T::kPortRefused, {pin, why})
                             : cli::Tr(language, cli::T::kPortBad, {pin}));
        }
    }
    if (inv.list_ports) {
        app::StartOptions start;
        start.settings_path = inv.settings_path;
        return app::ListPorts(start, com_map, stdout);
    }
    link::Fd trace_fifo;
    if (inv.trace && !inv.trace_file.empty()) {
        if (const auto refusal = CheckTraceFile(inv.trace_file, trace_fifo))
            return Usage(cli::Tr(language, *refusal));
    }
    // A closed terminal or pipe must not kill the run in the middle of an
    // operation; the stop request (SIGHUP) ends it at the next clean point.
    std::signal(SIGPIPE, SIG_IGN);
    cli::InstallStopSignals();
    // What the reader sent and names from files reach stdout: through a
    // buffer that makes them safe for a terminal.
    cli::TerminalSafeBuf safe_out(std::cout.rdbuf());
    std::cout.rdbuf(&safe_out);
    const int status = RunInvocation(inv, com_map, language, trace_fifo);
    std::cout.flush();
    std::cout.rdbuf(safe_out.passes_to());
    return status;
}

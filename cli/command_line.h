// SPDX-License-Identifier: MIT
// The command line of torvikctl: options that hold for the whole run, then
// one or more commands, each with its arguments and options.
#pragma once
#include <optional>

#include <stdexcept>
#include <string>
#include <vector>

#include "cli/texts.h"
#include "link/serial_device.h"

namespace torvik::cli {

// Exit statuses.
inline constexpr int kExitOk = 0, kExitFailed = 1, kExitNotFound = 2, kExitUsage = 64;

// A command line that cannot be taken, with the text that says why (in
// English as what(), in any language from `said`).
struct UsageError : std::runtime_error {
    explicit UsageError(Said s) : std::runtime_error(Tr(0, s)), said(std::move(s)) {}
    explicit UsageError(T key) : UsageError(Said(key)) {}
    Said said;
};

struct Command {
    std::string name;
    // scan
    bool sweep = false;
    // set-id, set-facility, enrol, delete, template-*, door-time, alarm-time
    int number = 0;
    // set-baud: settings index; set-card-type: card type index
    int index = 0;
    // set-mode: the three list selections
    int mode = 0, wiegand = 0, rs485 = 0;
    // read
    bool encoded = false;
    std::optional<long> count;
    std::optional<double> seconds;
    // template-get, template-put, backup, restore
    std::string file;
    std::vector<int> slots;  // empty: the default
    std::optional<int> to_slot;
    bool force = false;             // template-get, backup: an existing file may be replaced
    bool allow_incomplete = false;  // restore: a backup that stopped early is taken
    // raw
    std::string text;
};

struct Invocation {
    bool help = false;       // --help: `help_topic` empty for the overview
    std::string help_topic;  // COMMAND --help
    bool version = false;
    bool list_ports = false;  // print the COM numbers and the serial devices, then end
    bool simulate = false;
    std::vector<std::string> ports;  // COMn=PATH
    std::optional<int> com;
    std::string settings_path;
    bool trace = false;
    std::string trace_file;  // empty: stderr
    std::optional<int> language;
    bool json = false;
    bool beep = false;
    link::LineOptions line;  // --rs485, --rs485-delays, --low-latency
    std::vector<Command> commands;
};

// Throws UsageError with a text for the technician.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// The language a text about the command line is written in before the
// settings are read: --lang where it is given (0 English, 1 Simplified, 2
// Traditional Chinese), else nothing.
std::optional<int> LanguageOption(const std::vector<std::string>& args);

// "1-3,7,10-12" → 1,2,3,7,10,11,12 (each 0..1000, in the order given,
// repeats dropped); throws UsageError.
std::vector<int> ParseSlotList(const std::string& text);

// The overview (`torvikctl --help`) and one command's text.
std::string UsageText(int language = 0);
// Empty when there is no such command.
std::string CommandHelp(const std::string& name, int language = 0);

// Whether the name is a command.
bool IsCommand(const std::string& name);

}  // namespace torvik::cli

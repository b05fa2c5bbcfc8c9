// SPDX-License-Identifier: MIT
#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "app/app_state.h"

namespace torvik::cli {

namespace {

struct CommandEntry {
    const char* name;
    const char* synopsis;
    const char* help;
};

// The order of the overview.
const CommandEntry kCommands[] = {
    {"scan", "scan [--sweep]",
     "Looks for the reader: first at the stored port and settings, then on COM1 to COM16.\n"
     "With the speed lock on (the default) only the stored settings are tried on each port;\n"
     "--sweep takes the lock off and tries all fourteen settings. Shows serial number,\n"
     "version, ID and output mode; a reader found is stored for the next run.\n"
     "Every other command runs a scan at the stored settings first when none ran yet.\n"},
    {"info", "info", "Shows what the scan found: serial number, version, ID and output mode.\n"},
    {"set-id", "set-id N", "Sets the reader's bus address (ID) to N, 1 to 99.\n"},
    {"set-baud", "set-baud SETTINGS",
     "Sets the reader's baud rate. SETTINGS is one of 4800,n,8,1 4800,e,8,1 9600,n,8,1\n"
     "9600,e,8,1 19200,n,8,1 19200,e,8,1 38400,n,8,1 38400,e,8,1 57600,n,8,1 57600,e,8,1\n"
     "115200,n,8,1 115200,e,8,1 230400,n,8,1 230400,e,8,1 (\",8,1\" may be left off).\n"
     "The rest of this run talks to the reader at the new settings; they are not stored,\n"
     "so the next run finds the reader with `scan --sweep`.\n"},
    {"set-mode", "set-mode wiegand|rs485 W26|W34|W42 R24|R32|R40",
     "Sets the output interface and both formats: the interface the reader reports on,\n"
     "the Wiegand format (26, 34 or 42 bits) and the RS-485 format (24, 32 or 40).\n"},
    {"set-card-type", "set-card-type em|keldo|security",
     "Sets the card type: EM/TEMIC, KELDO or security cards.\n"},
    {"set-facility", "set-facility N", "Sets the facility code to N, 0 to 65535.\n"},
    {"read", "read [--encoded] [--count N] [--seconds S]",
     "Watches the reader read cards and fingerprints and prints each reading as a line.\n"
     "--encoded reads the encoded identification instead of the plain one. The reading\n"
     "stops after N readings, after S seconds, or on Ctrl+C (the normal end without\n"
     "--count and --seconds).\n"},
    {"enrol", "enrol N", "Starts enrolling a fingerprint into slot N (0 to 1000) at the reader.\n"},
    {"delete", "delete N", "Deletes the fingerprint of slot N (0 to 1000).\n"},
    {"template-get", "template-get N FILE",
     "Reads the fingerprint template of slot N into FILE (a template file of one slot).\n"},
    {"template-put", "template-put N FILE",
     "Writes a template from FILE into slot N: the file's slot N, or its only slot.\n"},
    {"backup", "backup FILE [--slots LIST]",
     "Reads the templates of the slots in LIST (default 0-1000; e.g. 1-3,7,10-12) into\n"
     "FILE, about 2.5 s per slot. Ctrl+C stops between slots and keeps what was read.\n"},
    {"restore", "restore FILE [--slots LIST] [--to-slot N]",
     "Writes the templates of FILE back (all its slots, or those in LIST). Empty and\n"
     "failed slots of the file are skipped. --to-slot N writes the one slot chosen into\n"
     "slot N instead. A damaged file is refused before anything is sent.\n"},
    {"factory-default", "factory-default",
     "Resets the reader to factory defaults (10 to 50 s, at most about 200 s).\n"},
    {"standalone-default", "standalone-default",
     "Resets the reader to stand-alone defaults (10 to 50 s, at most about 200 s).\n"},
    {"standalone-mode", "standalone-mode",
     "Switches the reader to stand-alone mode. The stand-alone commands (door-time,\n"
     "alarm-time, master-card, duress-card, clear-card) follow it in the same run.\n"},
    {"door-time", "door-time N",
     "Sets the door-open time to N (0 to 9999), after standalone-mode.\n"},
    {"alarm-time", "alarm-time N",
     "Sets the alarm time to N (0 to 9999), after standalone-mode.\n"},
    {"master-card", "master-card", "Sets the master card, after standalone-mode.\n"},
    {"duress-card", "duress-card", "Sets the duress card, after standalone-mode.\n"},
    {"clear-card", "clear-card", "Sets the clear card, after standalone-mode.\n"},
    {"raw", "raw TEXT",
     "Sends \"001\" + TEXT (at most 40 characters) to the reader as a test command and\n"
     "prints its answer.\n"},
};

const CommandEntry* FindCommand(const std::string& name) {
    for (const auto& entry : kCommands)
        if (name == entry.name) return &entry;
    return nullptr;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

long ParseInteger(const std::string& text, long min, long max, const std::string& what) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw UsageError(what + " must be a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not \"" + text + "\"");
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < min || value > max)
        throw UsageError(what + " must be from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not " + text);
    return value;
}

int Choice(const std::string& text, std::initializer_list<std::initializer_list<const char*>> names,
           const std::string& what) {
    const std::string t = Lower(text);
    int i = 0;
    std::string all;
    for (const auto& alternatives : names) {
        for (const char* n : alternatives) {
            if (t == n) return i;
        }
        all += (i ? "|" : "") + std::string(*alternatives.begin());
        ++i;
    }
    throw UsageError(what + " must be one of " + all + ", not \"" + text + "\"");
}

int SettingsIndex(const std::string& text) {
    const std::string t = Lower(text);
    for (size_t i = 0; i < app::kSettingsList.size(); ++i) {
        const std::string full = app::kSettingsList[i];
        if (t == full || t + ",8,1" == full) return static_cast<int>(i);
    }
    throw UsageError("unknown settings \"" + text +
                     "\" (expected e.g. 19200,e,8,1; see torvikctl set-baud --help)");
}

}  // namespace

bool IsCommand(const std::string& name) {
    return FindCommand(name) != nullptr;
}

std::vector<int> ParseSlotList(const std::string& text) {
    std::vector<int> slots;
    std::set<int> seen;
    size_t start = 0;
    if (text.empty()) throw UsageError("empty slot list");
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t dash = part.find('-');
        const long first = ParseInteger(part.substr(0, dash), 0, 1000, "a slot");
        const long last = dash == std::string::npos
                              ? first
                              : ParseInteger(part.substr(dash + 1), 0, 1000, "a slot");
        if (last < first) throw UsageError("slot range " + part + " runs backwards");
        for (long s = first; s <= last; ++s)
            if (seen.insert(static_cast<int>(s)).second) slots.push_back(static_cast<int>(s));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return slots;
}

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    Invocation inv;
    Command* current = nullptr;
    size_t i = 0;
    const auto next = [&](const std::string& what) -> std::string {
        if (i + 1 >= args.size()) throw UsageError(what + " needs a value");
        return args[++i];
    };
    // The positional arguments of the current command, taken as they come.
    std::vector<std::string> positional;
    const auto finish = [&] {
        if (!current) return;
        Command& c = *current;
        const auto need = [&](size_t n) {
            if (positional.size() != n)
                throw UsageError(c.name + ": expected " + FindCommand(c.name)->synopsis);
        };
        if (c.name == "set-id") {
            need(1);
            c.number = static_cast<int>(ParseInteger(positional[0], 1, 99, "set-id: the ID"));
        } else if (c.name == "set-baud") {
            need(1);
            c.index = SettingsIndex(positional[0]);
        } else if (c.name == "set-mode") {
            need(3);
            c.mode = Choice(positional[0], {{"wiegand"}, {"rs485", "rs-485"}},
                            "set-mode: the interface");
            c.wiegand = Choice(positional[1],
                               {{"W26", "w26", "26"}, {"W34", "w34", "34"}, {"W42", "w42", "42"}},
                               "set-mode: the Wiegand format");
            c.rs485 = Choice(positional[2],
                             {{"R24", "r24", "24"}, {"R32", "r32", "32"}, {"R40", "r40", "40"}},
                             "set-mode: the RS-485 format");
        } else if (c.name == "set-card-type") {
            need(1);
            c.index = Choice(positional[0], {{"em", "temic"}, {"keldo"}, {"security"}},
                             "set-card-type: the card type");
        } else if (c.name == "set-facility") {
            need(1);
            c.number =
                static_cast<int>(ParseInteger(positional[0], 0, 65535, "set-facility: the code"));
        } else if (c.name == "enrol" || c.name == "delete") {
            need(1);
            c.number =
                static_cast<int>(ParseInteger(positional[0], 0, 1000, c.name + ": the slot"));
        } else if (c.name == "template-get" || c.name == "template-put") {
            need(2);
            c.number =
                static_cast<int>(ParseInteger(positional[0], 0, 1000, c.name + ": the slot"));
            c.file = positional[1];
        } else if (c.name == "backup" || c.name == "restore") {
            need(1);
            c.file = positional[0];
            if (c.to_slot && c.slots.size() > 1)
                throw UsageError("restore: --to-slot moves one slot; --slots names more");
        } else if (c.name == "door-time" || c.name == "alarm-time") {
            need(1);
            c.number =
                static_cast<int>(ParseInteger(positional[0], 0, 9999, c.name + ": the time"));
        } else if (c.name == "raw") {
            need(1);
            c.text = positional[0];
        } else {
            need(0);
        }
        positional.clear();
    };

    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (current && arg.size() > 2 && arg.rfind("--", 0) == 0) {
            // Options of the command first.
            const std::string& n = current->name;
            if (arg == "--help") {
                inv.help = true;
                inv.help_topic = n;
                return inv;
            }
            if (n == "scan" && arg == "--sweep") {
                current->sweep = true;
                continue;
            }
            if (n == "read" && arg == "--encoded") {
                current->encoded = true;
                continue;
            }
            if (n == "read" && arg == "--count") {
                current->count = ParseInteger(next("read --count"), 1, 1000000, "read --count");
                continue;
            }
            if (n == "read" && arg == "--seconds") {
                const std::string v = next("read --seconds");
                char* end = nullptr;
                errno = 0;
                const double s = std::strtod(v.c_str(), &end);
                if (v.empty() || *end != '\0' || errno != 0 || !std::isfinite(s) || s <= 0 ||
                    s > 1e6)
                    throw UsageError("read --seconds must be a number of seconds above 0, not \"" +
                                     v + "\"");
                current->seconds = s;
                continue;
            }
            if ((n == "backup" || n == "restore") && arg == "--slots") {
                current->slots = ParseSlotList(next(n + " --slots"));
                continue;
            }
            if (n == "restore" && arg == "--to-slot") {
                current->to_slot =
                    static_cast<int>(ParseInteger(next("restore --to-slot"), 0, 1000, "--to-slot"));
                continue;
            }
        }
        if (arg == "--help" || arg == "-h") {
            inv.help = true;
            return inv;
        }
        if (arg == "--version") {
            inv.version = true;
            return inv;
        }
        if (arg == "--list-ports") {
            inv.list_ports = true;
            continue;
        }
        if (arg == "--simulate") {
            inv.simulate = true;
        } else if (arg == "--json") {
            inv.json = true;
        } else if (arg == "--beep") {
            inv.beep = true;
        } else if (arg == "--trace") {
            inv.trace = true;
        } else if (arg.rfind("--trace=", 0) == 0) {
            inv.trace = true;
            inv.trace_file = arg.substr(8);
            if (inv.trace_file.empty()) throw UsageError("--trace= needs a file name");
        } else if (arg == "--port") {
            inv.ports.push_back(next("--port"));
        } else if (arg == "--rs485") {
            inv.line.rs485 = true;
        } else if (arg == "--low-latency") {
            inv.line.low_latency = true;
        } else if (arg == "--rs485-delays") {
            const auto delays = link::ParseRs485Delays(next("--rs485-delays"));
            if (!delays)
                throw UsageError(
                    "--rs485-delays needs BEFORE,AFTER in milliseconds (0 to 1000 each)");
            inv.line.rs485 = true;
            inv.line.rs485_delay_before_ms = delays->first;
            inv.line.rs485_delay_after_ms = delays->second;
        } else if (arg == "--com") {
            inv.com = static_cast<int>(ParseInteger(next("--com"), 1, 16, "--com"));
        } else if (arg == "--settings") {
            inv.settings_path = next("--settings");
            if (inv.settings_path.empty()) throw UsageError("--settings needs a file name");
        } else if (arg == "--lang") {
            inv.language = Choice(next("--lang"), {{"en"}, {"zh-hans"}, {"zh-hant"}}, "--lang");
        } else if (arg.size() > 1 && arg[0] == '-' &&
                   !(current && current->name == "raw" && positional.empty())) {
            throw UsageError(current ? current->name + ": unknown option " + arg
                                     : "unknown option " + arg);
        } else if (current && current->name == "raw" && positional.empty()) {
            // The raw text is taken as it stands, even when it looks like a command.
            positional.push_back(arg);
        } else if (IsCommand(arg) &&
                   !(current &&
                     (current->name == "template-get" || current->name == "template-put") &&
                     positional.size() == 1) &&
                   !(current && (current->name == "backup" || current->name == "restore") &&
                     positional.empty())) {
            finish();
            inv.commands.push_back(Command{});
            current = &inv.commands.back();
            current->name = arg;
        } else if (current) {
            positional.push_back(arg);
        } else {
            throw UsageError("unknown command \"" + arg + "\"");
        }
    }
    finish();
    if (inv.commands.empty() && !inv.list_ports) throw UsageError("no command given");
    return inv;
}

std::string UsageText() {
    std::string text =
        "usage: torvikctl [options] COMMAND [ARGS] [COMMAND [ARGS] ...]\n"
        "Configures a KELDO TORVIK reader from a terminal or a script. The commands run in\n"
        "order, after a scan at the stored settings (unless the first command is scan), and\n"
        "stop at the first one that does not succeed.\n"
        "\n"
        "Commands:\n";
    for (const auto& entry : kCommands) text += "  " + std::string(entry.synopsis) + "\n";
    text +=
        "\n"
        "Options:\n"
        "  --simulate         run against the simulated reader (torvik-sim) on COM1, with\n"
        "                     settings kept in a temporary file\n"
        "  --port COMn=PATH   use PATH as COMn; may be given more than once\n"
        "  --com N            try COM N first (instead of the stored port)\n"
        "  --settings FILE    settings file (default " +
        std::string("/var/lib/torvik-config/settings.reg") +
        ")\n"
        "  --trace[=FILE]     print every frame on stderr (or append it to FILE)\n"
        "  --rs485            put a board's UART into the kernel's RS-485 mode (the driver\n"
        "                     switches the direction with RTS); USB adapters do it themselves\n"
        "  --rs485-delays B,A RS-485 mode, RTS raised B ms before sending and dropped A ms after\n"
        "  --low-latency      ask a USB adapter to pass received bytes on at once\n"
        "  --list-ports       print the COM numbers and the serial devices, then end\n"
        "  --lang en|zh-hans|zh-hant  language of the texts (default: the stored one)\n"
        "  --json             one JSON object per operation on stdout\n"
        "  --beep             sound the outcome beeps (silent otherwise)\n"
        "  --help             this text; COMMAND --help explains one command\n"
        "  --version          show the version\n"
        "\n"
        "Exit status: 0 all succeeded, 1 an operation failed, 2 no reader found,\n"
        "64 usage error.\n";
    return text;
}

std::string CommandHelp(const std::string& name) {
    const CommandEntry* entry = FindCommand(name);
    if (!entry) return {};
    return "usage: torvikctl [options] " + std::string(entry->synopsis) + "\n" + entry->help;
}

}  // namespace torvik::cli

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
};

// The order of the overview; the help of each is in the text table.
const CommandEntry kCommands[] = {
    {"scan", "scan [--sweep]"},
    {"info", "info"},
    {"set-id", "set-id N"},
    {"set-baud", "set-baud SETTINGS"},
    {"set-mode", "set-mode wiegand|rs485 W26|W34|W42 R24|R32|R40"},
    {"set-card-type", "set-card-type em|keldo|security"},
    {"set-facility", "set-facility N"},
    {"read", "read [--encoded] [--count N] [--seconds S]"},
    {"enrol", "enrol N"},
    {"delete", "delete N"},
    {"template-get", "template-get N FILE [--force]"},
    {"template-put", "template-put N FILE"},
    {"backup", "backup FILE [--slots LIST] [--force]"},
    {"restore", "restore FILE [--slots LIST] [--to-slot N] [--allow-incomplete]"},
    {"factory-default", "factory-default"},
    {"standalone-default", "standalone-default"},
    {"standalone-mode", "standalone-mode"},
    {"door-time", "door-time SECONDS"},
    {"alarm-time", "alarm-time SECONDS"},
    {"master-card", "master-card"},
    {"duress-card", "duress-card"},
    {"clear-card", "clear-card"},
    {"raw", "raw TEXT"},
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

long ParseInteger(const std::string& text, long min, long max, const SaidValue& what) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw UsageError(
            {T::kWholeNumber, {what, std::to_string(min), std::to_string(max), text}});
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < min || value > max)
        throw UsageError({T::kFromTo, {what, std::to_string(min), std::to_string(max), text}});
    return value;
}

int Choice(const std::string& text, std::initializer_list<std::initializer_list<const char*>> names,
           const SaidValue& what) {
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
    throw UsageError({T::kOneOf, {what, all, text}});
}

int SettingsIndex(const std::string& text) {
    const std::string t = Lower(text);
    for (size_t i = 0; i < app::kSettingsList.size(); ++i) {
        const std::string full = app::kSettingsList[i];
        if (t == full || t + ",8,1" == full) return static_cast<int>(i);
    }
    // A speed alone: both parities exist, and the technician must say which.
    for (const char* full : app::kSettingsList)
        if (std::string(full).rfind(t + ",", 0) == 0 && !t.empty() &&
            std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw UsageError({T::kNoParity, {t}});
    throw UsageError({T::kUnknownSettings, {text}});
}

}  // namespace

bool IsCommand(const std::string& name) {
    return FindCommand(name) != nullptr;
}

std::vector<int> ParseSlotList(const std::string& text) {
    std::vector<int> slots;
    std::set<int> seen;
    size_t start = 0;
    if (text.empty()) throw UsageError(T::kEmptySlotList);
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t dash = part.find('-');
        const Said what(T::kWhatASlot);
        const long first = ParseInteger(part.substr(0, dash), 0, 1000, what);
        const long last = dash == std::string::npos
                              ? first
                              : ParseInteger(part.substr(dash + 1), 0, 1000, what);
        if (last < first) throw UsageError({T::kRangeBackwards, {part}});
        for (long s = first; s <= last; ++s)
            if (seen.insert(static_cast<int>(s)).second) slots.push_back(static_cast<int>(s));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return slots;
}

std::optional<int> LanguageOption(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--lang") continue;
        const std::string v = Lower(args[i + 1]);
        if (v == "en") return 0;
        if (v == "zh-hans") return 1;
        if (v == "zh-hant") return 2;
    }
    return std::nullopt;
}

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    Invocation inv;
    Command* current = nullptr;
    size_t i = 0;
    const auto next = [&](const std::string& what) -> std::string {
        if (i + 1 >= args.size()) throw UsageError({T::kNeedsValue, {what}});
        return args[++i];
    };
    // The positional arguments of the current command, taken as they come.
    std::vector<std::string> positional;
    const auto finish = [&] {
        if (!current) return;
        Command& c = *current;
        const auto need = [&](size_t n) {
            if (positional.size() != n)
                throw UsageError({T::kExpected, {c.name, FindCommand(c.name)->synopsis}});
        };
        const Said slot_of(T::kWhatSlot, {c.name});
        if (c.name == "set-id") {
            need(1);
            c.number = static_cast<int>(ParseInteger(positional[0], 1, 99, Said(T::kWhatId)));
        } else if (c.name == "set-baud") {
            need(1);
            c.index = SettingsIndex(positional[0]);
        } else if (c.name == "set-mode") {
            need(3);
            c.mode = Choice(positional[0], {{"wiegand"}, {"rs485", "rs-485"}},
                            Said(T::kWhatInterface));
            c.wiegand = Choice(positional[1],
                               {{"W26", "w26", "26"}, {"W34", "w34", "34"}, {"W42", "w42", "42"}},
                               Said(T::kWhatWiegand));
            c.rs485 = Choice(positional[2],
                             {{"R24", "r24", "24"}, {"R32", "r32", "32"}, {"R40", "r40", "40"}},
                             Said(T::kWhatRs485));
        } else if (c.name == "set-card-type") {
            need(1);
            c.index = Choice(positional[0], {{"em", "temic"}, {"keldo"}, {"security"}},
                             Said(T::kWhatCardType));
        } else if (c.name == "set-facility") {
            need(1);
            c.number =
                static_cast<int>(ParseInteger(positional[0], 0, 65535, Said(T::kWhatFacility)));
        } else if (c.name == "enrol" || c.name == "delete") {
            need(1);
            c.number = static_cast<int>(ParseInteger(positional[0], 0, 1000, slot_of));
        } else if (c.name == "template-get" || c.name == "template-put") {
            need(2);
            c.number = static_cast<int>(ParseInteger(positional[0], 0, 1000, slot_of));
            c.file = positional[1];
        } else if (c.name == "backup" || c.name == "restore") {
            need(1);
            c.file = positional[0];
            if (c.to_slot && c.slots.size() > 1) throw UsageError(T::kToSlotOne);
        } else if (c.name == "door-time" || c.name == "alarm-time") {
            need(1);
            c.number = static_cast<int>(
                ParseInteger(positional[0], 0, 9999, Said(T::kWhatTime, {c.name})));
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
                    throw UsageError({T::kReadSeconds, {v}});
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
            if (n == "restore" && arg == "--allow-incomplete") {
                current->allow_incomplete = true;
                continue;
            }
            if ((n == "backup" || n == "template-get") && arg == "--force") {
                current->force = true;
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
            if (inv.trace_file.empty()) throw UsageError(T::kTraceNeedsFile);
        } else if (arg == "--port") {
            inv.ports.push_back(next("--port"));
        } else if (arg == "--rs485") {
            inv.line.rs485 = true;
        } else if (arg == "--low-latency") {
            inv.line.low_latency = true;
        } else if (arg == "--rs485-delays") {
            const auto delays = link::ParseRs485Delays(next("--rs485-delays"));
            if (!delays) throw UsageError(T::kRs485Delays);
            inv.line.rs485 = true;
            inv.line.rs485_delay_before_ms = delays->first;
            inv.line.rs485_delay_after_ms = delays->second;
        } else if (arg == "--com") {
            inv.com = static_cast<int>(ParseInteger(next("--com"), 1, 16, "--com"));
        } else if (arg == "--settings") {
            inv.settings_path = next("--settings");
            if (inv.settings_path.empty()) throw UsageError(T::kSettingsNeedsFile);
        } else if (arg == "--lang") {
            inv.language = Choice(next("--lang"), {{"en"}, {"zh-hans"}, {"zh-hant"}}, "--lang");
        } else if (arg.size() > 1 && arg[0] == '-' &&
                   !(current && current->name == "raw" && positional.empty())) {
            throw UsageError(current ? Said(T::kCommandUnknownOption, {current->name, arg})
                                     : Said(T::kUnknownOption, {arg}));
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
            throw UsageError({T::kUnknownCommand, {arg}});
        }
    }
    finish();
    if (inv.commands.empty() && !inv.list_ports) throw UsageError(T::kNoCommand);
    return inv;
}

std::string UsageText(int language) {
    std::string text = Tr(language, T::kHelpUsage) + "\n" + Tr(language, T::kHelpIntro) + "\n\n" +
                       Tr(language, T::kHelpCommands) + "\n";
    for (const auto& entry : kCommands) text += "  " + std::string(entry.synopsis) + "\n";
    text += "\n" + Tr(language, T::kHelpOptions) + "\n" + Tr(language, T::kHelpOptionList) +
            "\n\n" + Tr(language, T::kHelpExit) + "\n";
    return text;
}

std::string CommandHelp(const std::string& name, int language) {
    const CommandEntry* entry = FindCommand(name);
    if (!entry) return {};
    return Tr(language, T::kHelpCommandUsage, {entry->synopsis}) + "\n" +
           CommandHelpText(language, name);
}

}  // namespace torvik::cli

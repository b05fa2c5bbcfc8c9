// SPDX-License-Identifier: MIT
#include "app/window_options.h"

#include "link/terminal_text.h"

namespace torvik::app {
namespace {

// Qt's own command-line options, left in argv for QApplication, and
// whether each takes a value. Qt accepts them with one dash or two.
struct QtOption {
    std::string_view name;
    bool takes_value;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"display", true},
    {"geometry", true},
    {"qwindowgeometry", true},
    {"qwindowicon", true},
    {"qwindowtitle", true},
    {"session", true},
    {"style", true},
    {"stylesheet", true},
    {"name", true},
    {"title", true},
    {"reverse", false},
    {"widgetcount", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
};

const QtOption* FindQtOption(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') return nullptr;
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    for (const auto& option : kQtOptions) {
        if (option.name == arg) return &option;
    }
    return nullptr;
}

}  // namespace

bool IsQtOption(std::string_view arg, bool& takes_value) {
    const QtOption* option = FindQtOption(arg);
    if (option != nullptr) takes_value = option->takes_value;
    return option != nullptr;
}

WindowParse ParseWindowOptions(int argc, char** argv, WindowOptions& options, link::ComMap& map,
                               std::string& error) {
    const auto needs_value = [&error](std::string_view arg) {
        error = link::TerminalSafe(arg) + " needs a value";
        return WindowParse::kError;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        switch (ParseSharedOption(argc, argv, i, options.start, map, error)) {
            case OptionParse::kTaken:
                continue;
            case OptionParse::kError:
                error = link::TerminalSafe(error);
                return WindowParse::kError;
            case OptionParse::kNotShared:
                break;
        }
        if (arg == "--help" || arg == "-h") return WindowParse::kHelp;
        if (arg == "--version") return WindowParse::kVersion;
        if (arg == "--screenshot-script") {
            options.screenshot_script = true;
        } else if (arg == "--exit-after-first-paint") {
            options.exit_after_first_paint = true;
        } else if (arg == "--high-contrast" || arg == "--usual-contrast") {
            options.high_contrast = arg == "--high-contrast";
        } else if (arg == "--request-window-states") {
            options.request_window_states = true;
        } else if (arg == "--screenshot-dir") {
            if (i + 1 >= argc) return needs_value(arg);
            options.screenshot_dir = argv[++i];
        } else if (const QtOption* qt = FindQtOption(arg)) {
            if (qt->takes_value) {
                if (i + 1 >= argc) return needs_value(arg);
                ++i;
            }
            if (qt->name == "platform" || qt->name == "display") options.qt_chooses_display = true;
            if (qt->name == "display") options.qt_display = argv[i];
        } else {
            error = "unknown option " + link::TerminalSafe(arg);
            return WindowParse::kError;
        }
    }
    return WindowParse::kRun;
}

}  // namespace torvik::app

// SPDX-License-Identifier: MIT
// The command line of the window program (torvik-config), read without a
// windowing toolkit: the options both front ends share (app/startup.h),
// its own, and Qt's, which are left in argv for Qt and only stepped over
// here (with their values).
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "app/startup.h"
#include "link/com_map.h"

namespace torvik::app {

struct WindowOptions {
    StartOptions start;
    // Hidden: drives the window through a fixed sequence and saves images.
    bool screenshot_script = false;
    std::string screenshot_dir = ".";
    bool exit_after_first_paint = false;  // hidden: for the start-up benchmark
    // Hidden: asks for the maximized and the full-screen state once the
    // window is shown, as the maximize button of Qt's Wayland title bar
    // does, prints the window's size after each and ends (0: it kept its
    // size). A test drives it under a compositor.
    bool request_window_states = false;
    std::optional<bool> high_contrast;  // --high-contrast, --usual-contrast
    // Qt's own options were given that choose the platform or the display;
    // Qt then finds its display without DISPLAY or WAYLAND_DISPLAY.
    bool qt_chooses_display = false;
    std::string qt_display;  // the value of Qt's -display option
};

enum class WindowParse {
    kRun,      // go on with these options
    kHelp,     // --help: print the usage, status 0
    kVersion,  // --version: print the version, status 0
    kError,    // a command line it does not understand: `error` says why, status 2
};

// Reads argv[1..argc-1]. Pins of --port go into `map`. The error text is
// safe for a terminal (it may quote what was given).
WindowParse ParseWindowOptions(int argc, char** argv, WindowOptions& options, link::ComMap& map,
                               std::string& error);

// Whether `arg` is one of Qt's own options ("-platform", "--style", ...),
// and whether that option takes a value.
bool IsQtOption(std::string_view arg, bool& takes_value);

}  // namespace torvik::app

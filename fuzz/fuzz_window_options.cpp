// SPDX-License-Identifier: MIT
// The window program's command line under arbitrary arguments (the input
// cut at zero bytes): it runs, asks for help or the version, or is refused
// with a reason that is safe for a terminal; pins land on numbers 1 to 16;
// a display named for Qt counts as one chosen.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/window_options.h"
#include "fuzz/fuzz_check.h"
#include "link/terminal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace torvik;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args = fuzz::Split(input, '\0', 32);
    args.insert(args.begin(), "torvik-config");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    link::ComMap map("/nonexistent-dev", "/nonexistent-sys", "/nonexistent-proc");
    app::WindowOptions options;
    std::string error;
    const app::WindowParse result =
        app::ParseWindowOptions(static_cast<int>(args.size()), argv.data(), options, map, error);
    CHECK((result == app::WindowParse::kError) == !error.empty());
    CHECK(link::IsTerminalSafe(error));
    if (result != app::WindowParse::kRun) return 0;
    CHECK(!options.qt_display.empty() <= options.qt_chooses_display);
    if (options.start.trace && !options.start.trace_file.empty()) {
        CHECK(options.start.trace_file.find('\0') == std::string::npos);
    }
    for (const auto& [number, path] : map.list()) {
        CHECK(number >= 1 && number <= 16);
        CHECK(!path.empty());
    }
    // Every argument was one of ours or Qt's.
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool value = false;
        const bool known = a == "--simulate" || a == "--trace" || a == "--list-ports" ||
                           a.rfind("--trace=", 0) == 0 || a == "--settings" || a == "--port" ||
                           a == "--screenshot-script" || a == "--exit-after-first-paint" ||
                           a == "--screenshot-dir" || a == "--rs485" || a == "--rs485-delays" ||
                           a == "--low-latency" || a == "--high-contrast" ||
                           a == "--usual-contrast" || a == "--request-window-states" ||
                           app::IsQtOption(a, value);
        CHECK(known);
        // Its value is stepped over.
        if (a == "--settings" || a == "--port" || a == "--screenshot-dir" ||
            a == "--rs485-delays" || value)
            ++i;
    }
    return 0;
}

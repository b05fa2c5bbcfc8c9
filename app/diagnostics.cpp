#include "app/diagnostics.h"

#include <cstddef>

namespace torvik::app {
namespace {

constexpr const char* kNoDeviceHint =
    "No serial device found: is the USB adapter plugged in? If it disappears right after plug-in, "
    "brltty may "
    "have claimed it (look for 'brltty' in: sudo dmesg | grep -i tty; remove it with: sudo apt "
    "remove brltty)";

std::string Com(int port) {
    return "COM" + std::to_string(port);
}

// The cause without the "COM3 (/dev/ttyUSB0): " the serial device puts in
// front of it, since the line names port and device itself.
std::string BareCause(const PortAttempt& a) {
    if (a.cause.empty()) return "cannot be opened";
    const std::string com = Com(a.port);
    if (a.cause.compare(0, com.size(), com) != 0) return a.cause;
    size_t rest = com.size();
    if (a.cause.compare(rest, 2, " (") == 0) {
        const size_t close = a.cause.find("): ", rest);
        if (close == std::string::npos) return a.cause;
        rest = close + 1;
    }
    if (a.cause.compare(rest, 2, ": ") != 0) return a.cause;
    return a.cause.substr(rest + 2);
}

std::string AttemptOutcome(const PortAttempt& a) {
    if (!a.opened) return BareCause(a);
    return a.answered ? "answered" : "no answer";
}

// The settings of a run of openings of one port: "at A", "at A; B",
// "at A to D (4 settings)", and "(2 times)" for one string tried again.
std::string SettingsOf(const std::vector<const PortAttempt*>& run) {
    std::vector<std::string> distinct;
    for (const PortAttempt* a : run) {
        if (distinct.empty() || distinct.back() != a->settings) distinct.push_back(a->settings);
    }
    std::string text = " at " + distinct.front();
    if (distinct.size() == 2) text += "; " + distinct.back();
    if (distinct.size() > 2)
        text += " to " + distinct.back() + " (" + std::to_string(distinct.size()) + " settings)";
    if (distinct.size() == 1 && run.size() > 1)
        text += " (" + std::to_string(run.size()) + " times)";
    return text;
}

}  // namespace

std::string DescribeScan(const std::vector<PortAttempt>& attempts,
                         const std::vector<std::string>& present_devices,
                         const std::vector<std::pair<std::string, std::string>>& skipped_devices) {
    std::string text = attempts.empty() ? "" : "The scan tried:";
    bool any_opened = false;
    for (size_t i = 0; i < attempts.size();) {
        const PortAttempt& first = attempts[i];
        const std::string outcome = AttemptOutcome(first);
        any_opened = any_opened || first.opened;
        std::string line;
        if (first.device.empty()) {
            // Ports with nothing behind them, one after the other: one line.
            size_t j = i + 1;
            int last = first.port;
            while (j < attempts.size() && attempts[j].device.empty() &&
                   attempts[j].port == last + 1 && !attempts[j].opened &&
                   AttemptOutcome(attempts[j]) == outcome) {
                last = attempts[j++].port;
            }
            line =
                Com(first.port) + (last != first.port ? " to " + Com(last) : "") + ": " + outcome;
            i = j;
        } else {
            std::vector<const PortAttempt*> run{&first};
            size_t j = i + 1;
            while (j < attempts.size() && attempts[j].port == first.port &&
                   attempts[j].device == first.device && attempts[j].opened == first.opened &&
                   AttemptOutcome(attempts[j]) == outcome) {
                run.push_back(&attempts[j++]);
            }
            line = Com(first.port) + " (" + first.device + ")" + SettingsOf(run) + ": " + outcome;
            i = j;
        }
        if (!text.empty()) text += '\n';
        text += line;
    }
    for (const auto& [device, reason] : skipped_devices) {
        if (!text.empty()) text += '\n';
        text += device + ": skipped: " + reason;
    }
    if (present_devices.empty() && !any_opened) {
        if (!text.empty()) text += '\n';
        text += kNoDeviceHint;
    }
    return text;
}

std::string DescribeLink(int port, const std::string& device) {
    if (port < 1) return "no COM port yet";
    if (device.empty()) return Com(port) + ": no device";
    return Com(port) + " = " + device;
}

}  // namespace torvik::app

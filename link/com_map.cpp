#include "link/com_map.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace torvik::link {
namespace {

// Parses a run of ASCII digits (no sign, no spaces) into a non-negative int.
bool parse_number(std::string_view text, int& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

// A built-in serial port node exists for every possible UART; the kernel
// reports type 0 (PORT_UNKNOWN) for the ones with no hardware behind them.
bool uart_present(const std::string& sys_root, const std::string& name) {
    std::ifstream in(sys_root + "/class/tty/" + name + "/type");
    int type = 0;
    if (!(in >> type)) return false;
    return type != 0;
}

}  // namespace

ComMap::ComMap(std::string dev_root, std::string sys_root, std::string proc_root)
    : dev_root_(std::move(dev_root)),
      sys_root_(sys_root),
      system_ports_(std::move(sys_root), std::move(proc_root)) {}

namespace {

// "COMn=PATH" ("com" in any case) split into its number and path.
bool parse_pin(std::string_view text, int& number, std::string& device) {
    if (text.size() < 3) return false;
    for (size_t i = 0; i < 3; ++i) {
        const char c = static_cast<char>(text[i] | 0x20);  // ASCII lower case
        if (c != "com"[i]) return false;
    }
    text.remove_prefix(3);
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return false;
    if (!parse_number(text.substr(0, eq), number) || number < ComMap::kFirstPort ||
        number > ComMap::kLastPort) {
        return false;
    }
    device = std::string(text.substr(eq + 1));
    return !device.empty();
}

}  // namespace

bool ComMap::pin_well_formed(std::string_view text) {
    int number = 0;
    std::string device;
    return parse_pin(text, number, device);
}

bool ComMap::add_override(std::string_view text, std::string* refusal) {
    const auto refuse = [refusal](std::string why) {
        if (refusal != nullptr) *refusal = std::move(why);
        return false;
    };
    int number = 0;
    std::string device;
    if (!parse_pin(text, number, device)) {
        return refuse("expected COMn=PATH with n from " + std::to_string(kFirstPort) + " to " +
                      std::to_string(kLastPort));
    }
    if (std::string why = system_ports_.reason(device); !why.empty()) return refuse(why);
    overrides_[number] = device;
    if (refusal != nullptr) refusal->clear();
    return true;
}

std::vector<std::string> ComMap::present_devices() const {
    const SystemPortsView system = system_ports_.look();
    std::vector<std::string> paths = serial_devices();
    std::erase_if(paths, [&system](const std::string& p) { return !system.reason(p).empty(); });
    return paths;
}

std::vector<std::pair<std::string, std::string>> ComMap::skipped_devices() const {
    const SystemPortsView system = system_ports_.look();
    std::vector<std::pair<std::string, std::string>> skipped;
    for (const std::string& path : serial_devices()) {
        if (std::string why = system.reason(path); !why.empty()) skipped.emplace_back(path, why);
    }
    return skipped;
}

std::vector<std::string> ComMap::serial_devices() const {
    static constexpr std::array<std::string_view, 3> kGroups = {"ttyUSB", "ttyACM", "ttyS"};
    // (group, number, name): sorting the tuples gives COM order.
    std::vector<std::tuple<size_t, int, std::string>> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dev_root_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (size_t group = 0; group < kGroups.size(); ++group) {
            const std::string_view prefix = kGroups[group];
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            int number = 0;
            if (!parse_number(std::string_view(name).substr(prefix.size()), number)) continue;
            if (prefix == "ttyS" && !uart_present(sys_root_, name)) continue;
            found.emplace_back(group, number, name);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (const auto& entry : found) paths.push_back(dev_root_ + "/" + std::get<2>(entry));
    return paths;
}

std::string ComMap::path(int port_number) const {
    if (port_number < 1) return {};
    if (auto it = overrides_.find(port_number); it != overrides_.end()) return it->second;
    const std::vector<std::string> devices = present_devices();
    const size_t index = static_cast<size_t>(port_number) - 1;
    return index < devices.size() ? devices[index] : std::string{};
}

std::vector<std::pair<int, std::string>> ComMap::list() const {
    std::map<int, std::string> all;
    const std::vector<std::string> devices = present_devices();
    for (size_t i = 0; i < devices.size(); ++i) all[static_cast<int>(i) + 1] = devices[i];
    for (const auto& [number, device] : overrides_) all[number] = device;
    return {all.begin(), all.end()};
}

}  // namespace torvik::link

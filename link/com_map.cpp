// SPDX-License-Identifier: MIT
#include "link/com_map.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>

#include "link/digits.h"
#include "link/terminal_text.h"

namespace torvik::link {
namespace {

namespace fs = std::filesystem;

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string out(resolved);
    ::free(resolved);
    return out;
}

// Whether a pinned path names this device: its path, one of its links, or
// a file that resolves to the same node.
bool Names(const std::string& pin, const PortInfo& port) {
    if (pin == port.device || (!port.by_id.empty() && pin == port.by_id && !port.names_formed) ||
        (!port.by_path.empty() && pin == port.by_path && !port.names_formed)) {
        return true;
    }
    const std::string a = RealPath(pin);
    return !a.empty() && a == RealPath(port.device);
}

std::string Com(int number) {
    return "COM" + std::to_string(number);
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
    if (!ParseDigits(text.substr(0, eq), number) || number < ComMap::kFirstPort ||
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
    pin_nodes_[number] = PinNode{};
    pin_still_there(number, device);  // the node it leads to now
    looked_ = false;
    if (refusal != nullptr) refusal->clear();
    return true;
}

void ComMap::set_number_file(std::string path) {
    number_file_ = std::move(path);
    records_.clear();
    numbers_kept_ = true;
    looked_ = false;
}

void ComMap::set_port_filter(std::function<std::string(const PortInfo&)> skip_reason) {
    skip_reason_ = std::move(skip_reason);
    looked_ = false;
}

void ComMap::set_port_source(std::function<std::vector<PortInfo>()> source) {
    source_ = std::move(source);
}

void ComMap::set_time_source(std::function<int64_t()> now) {
    now_ = std::move(now);
}

std::vector<PortInfo> ComMap::ports() const {
    if (source_) return source_();
    if (dev_root_ == "/dev" && sys_root_ == "/sys") return EnumeratePorts();
    return ListPortTree(dev_root_, sys_root_);
}

void ComMap::note(std::string text) const {
    if (std::find(notes_.begin(), notes_.end(), text) == notes_.end()) {
        notes_.push_back(std::move(text));
    }
}

std::string ComMap::fingerprint() const {
    std::string print;
    const auto stamp = [&print](const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            print += "-;";
            return;
        }
        print += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                 "/" + std::to_string(st.st_ino) + ";";
    };
    stamp(dev_root_);
    stamp(sys_root_ + "/class/tty");
    if (!number_file_.empty()) stamp(number_file_);
    std::error_code ec;
    for (fs::directory_iterator it(sys_root_ + "/class/tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        print += it->path().filename().string() + ",";
    }
    return print;
}

void ComMap::refresh() const {
    // Enumerating costs milliseconds and a scan asks for a path at every
    // opening: look again only when a device node or the number file
    // changed, and at least every half minute (last-seen times, numbers
    // given by another copy of the tool).
    if (source_) {
        look();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::string print = fingerprint();
    if (looked_ && print == fingerprint_ && now - looked_at_ < std::chrono::seconds(30)) return;
    look();
    fingerprint_ = fingerprint();  // after our own write of the number file
    looked_ = true;
    looked_at_ = now;
}

void ComMap::look() const {
    std::vector<Entry> view;
    std::vector<Entry> unnumbered_and_skipped;
    std::map<int, PortInfo> pinned_info;
    std::vector<PortInfo> candidates;
    std::set<int> reserved;
    for (const auto& [number, pin] : overrides_) {
        reserved.insert(number);
        PortInfo info;
        info.device = pin;
        pinned_info[number] = info;
    }

    const SystemPortsView system = system_ports_.look();
    for (PortInfo& p : ports()) {
        std::string reason = system.reason(p.device);
        if (reason.empty() && skip_reason_) reason = skip_reason_(p);
        if (!reason.empty()) {
            Entry e;
            e.state = State::kSkipped;
            e.device = p.device;
            e.info = p;
            e.reason = reason;
            unnumbered_and_skipped.push_back(std::move(e));
            continue;
        }
        bool pinned = false;
        for (const auto& [number, pin] : overrides_) {
            if (Names(pin, p)) {
                PortInfo info = p;
                pinned_info[number] = info;
                pinned = true;
            }
        }
        if (!pinned) candidates.push_back(std::move(p));
    }

    const std::vector<KnownPort> known = IdentifyPorts(candidates);
    const int64_t now = now_ ? now_() : static_cast<int64_t>(std::time(nullptr));
    AssignOutcome outcome;
    // A change worth writing is one the file can hold: a number given to a
    // name it cannot keep would otherwise be written again at every look.
    const auto change = [&](std::vector<ComRecord>& records) {
        const std::string before = RenderComRecords(records);
        outcome = AssignNumbers(records, known, reserved, now);
        return outcome.changed && RenderComRecords(records) != before;
    };
    if (!number_file_.empty() && numbers_kept_) {
        const ComNumberFile file(number_file_);
        std::vector<ComRecord> records = file.load();
        if (!change(records)) {
            records_ = std::move(records);
        } else if (!file.update(change, records_) && !outcome.given.empty()) {
            // Someone who may only read the file still works with its numbers;
            // the new ones last for this run.
            numbers_kept_ = false;
            note("The COM number file " + number_file_ +
                 " cannot be written: numbers given to new devices last only for this run.");
        }
        if (!file.problem().empty()) {
            note(file.problem() + ": it is left as it is, and the COM numbers are not kept.");
        }
    } else {
        change(records_);
    }
    for (const ComRecord& r : records_) {
        if (!IsRepresentable(r)) {
            note(Com(r.number) + " was given to " + r.key +
                 " for this run only: its name holds a control character, which the COM "
                 "number file cannot keep.");
        }
    }
    for (const Reuse& r : outcome.reused) {
        note(Com(r.number) + " was given to " + r.new_key + ": all sixteen numbers were taken, " +
             "and it was kept for " + r.old_record.key +
             (r.old_record.adapter.empty() ? "" : " (" + r.old_record.adapter + ")") +
             ", absent longest (last seen " + FormatUtc(r.old_record.last_seen) + ").");
    }

    for (const ComRecord& r : records_) {
        if (reserved.count(r.number) != 0) continue;
        Entry e;
        e.number = r.number;
        e.key = r.key;
        e.last_seen = r.last_seen;
        const auto present = std::find_if(known.begin(), known.end(),
                                          [&](const KnownPort& k) { return k.key == r.key; });
        if (present != known.end()) {
            e.state = State::kPresent;
            e.info = present->info;
            e.device = present->info.device;
        } else {
            e.state = State::kAbsent;
            e.device = r.device;
            e.info.device = r.device;
            e.info.vendor = r.adapter;
        }
        view.push_back(std::move(e));
    }
    for (const auto& [number, info] : pinned_info) {
        Entry e;
        e.number = number;
        e.state = State::kPinned;
        e.device = overrides_.at(number);
        e.info = info;
        view.push_back(std::move(e));
    }
    std::sort(view.begin(), view.end(),
              [](const Entry& a, const Entry& b) { return a.number < b.number; });
    for (const std::string& key : outcome.unnumbered) {
        const auto k = std::find_if(known.begin(), known.end(),
                                    [&](const KnownPort& p) { return p.key == key; });
        Entry e;
        e.state = State::kUnnumbered;
        e.key = key;
        e.info = k->info;
        e.device = k->info.device;
        view.push_back(std::move(e));
        note(e.device + " has no COM number: all sixteen belong to devices that are plugged in.");
    }
    // Skipped ports last.
    for (Entry& e : unnumbered_and_skipped) view.push_back(std::move(e));
    view_ = std::move(view);
}

bool ComMap::pin_still_there(int number, const std::string& path) const {
    PinNode& node = pin_nodes_[number];
    if (node.gone) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // A pseudo-terminal that went away never comes back as itself.
        if (node.seen && node.pseudo_terminal) node.gone = true;
        return !node.gone;
    }
    // The slave side of a Unix 98 pseudo-terminal: majors 136 to 143.
    const bool pseudo_terminal = S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
                                 major(st.st_rdev) <= 143;
    if (!node.seen) {
        node.seen = true;
        node.pseudo_terminal = pseudo_terminal;
        node.dev = st.st_dev;
        node.rdev = st.st_rdev;
        node.ino = st.st_ino;
        if (pseudo_terminal) {
            const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
            if (fd >= 0)
                node.held = std::shared_ptr<const int>(new int(fd), [](const int* held) {
                    ::close(*held);
                    delete held;
                });
        }
        return true;
    }
    if (!node.pseudo_terminal) return true;
    if (st.st_dev != node.dev || st.st_rdev != node.rdev || st.st_ino != node.ino) {
        node.gone = true;
        return false;
    }
    // The same number and inode may be a new terminal: the node held has
    // no name left once its terminal was freed.
    struct stat held {};
    if (node.held && (::fstat(*node.held, &held) != 0 || held.st_nlink == 0)) node.gone = true;
    return !node.gone;
}

bool ComMap::pin_gone(int port_number) const {
    const auto it = pin_nodes_.find(port_number);
    return it != pin_nodes_.end() && it->second.gone;
}

std::string ComMap::path(int port_number) const {
    if (port_number < 1) return {};
    if (auto it = overrides_.find(port_number); it != overrides_.end())
        return pin_still_there(port_number, it->second) ? it->second : std::string();
    refresh();
    for (const Entry& e : view_) {
        if (e.number == port_number && e.state == State::kPresent) return e.device;
    }
    return {};
}

std::vector<std::pair<int, std::string>> ComMap::list() const {
    refresh();
    std::vector<std::pair<int, std::string>> out;
    for (const Entry& e : view_) {
        if (e.state == State::kPresent || e.state == State::kPinned)
            out.emplace_back(e.number, e.device);
    }
    return out;
}

std::vector<std::string> ComMap::present_devices() const {
    refresh();
    std::vector<std::string> out;
    for (const Entry& e : view_) {
        const bool device = e.state == State::kPresent || e.state == State::kUnnumbered ||
                            (e.state == State::kPinned && !e.info.sys_name.empty());
        if (device) out.push_back(e.info.device);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ComMap::skipped_devices() const {
    refresh();
    std::vector<std::pair<std::string, std::string>> out;
    for (const Entry& e : view_) {
        if (e.state == State::kSkipped) out.emplace_back(e.device, e.reason);
    }
    return out;
}

std::vector<ComMap::Entry> ComMap::entries() const {
    refresh();
    return view_;
}

std::optional<ComMap::Entry> ComMap::entry(int port_number) const {
    for (const Entry& e : view_) {
        if (e.number == port_number && port_number > 0) return e;
    }
    return std::nullopt;
}

std::string FormatPortList(const ComMap& map) {
    const std::vector<ComMap::Entry> entries = map.entries();
    std::string out;
    if (map.number_file().empty()) {
        out += "COM numbers (for this run only):\n";
    } else {
        out += "COM numbers (kept in " + map.number_file() + "):\n";
    }
    if (entries.empty()) out += "  no serial device found\n";
    for (const ComMap::Entry& e : entries) {
        std::string line = e.number > 0 ? Com(e.number) : "-";
        line.resize(std::max<size_t>(line.size() + 1, 6), ' ');
        std::string state;
        switch (e.state) {
            case ComMap::State::kPresent:
                state = "present";
                break;
            case ComMap::State::kAbsent:
                state = "absent since " + FormatUtc(e.last_seen);
                break;
            case ComMap::State::kPinned:
                state = "pinned";
                break;
            case ComMap::State::kSkipped:
                state = "skipped: " + e.reason;
                break;
            case ComMap::State::kUnnumbered:
                state = "no number: all sixteen are in use";
                break;
        }
        line += state + "  " + (e.device.empty() ? "-" : e.device);
        const std::string adapter = e.info.adapter();
        if (!adapter.empty()) line += "  " + adapter;
        if (!e.info.serial.empty()) line += "  serial " + e.info.serial;
        if (!e.info.driver.empty() && e.info.driver != adapter) line += "  driver " + e.info.driver;
        if (e.info.latency_ms >= 0)
            line += "  latency timer " + std::to_string(e.info.latency_ms) + " ms";
        out += line + '\n';
        const char* formed = e.info.names_formed ? " (as udev would name it)" : "";
        if (!e.info.by_id.empty()) out += "      by-id   " + e.info.by_id + formed + '\n';
        if (!e.info.by_path.empty()) out += "      by-path " + e.info.by_path + formed + '\n';
        if (e.state == ComMap::State::kAbsent && !e.key.empty() && e.key != e.device) {
            out += "      kept for " + e.key + '\n';
        }
    }
    if (!map.numbers_kept()) out += "New numbers are not kept: the file cannot be written.\n";
    for (const std::string& n : map.notes()) out += "Note: " + n + '\n';
    // Names come from USB adapters, the COM number file and other programs.
    return TerminalSafe(out);
}

}  // namespace torvik::link

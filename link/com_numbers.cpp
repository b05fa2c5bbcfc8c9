// SPDX-License-Identifier: MIT
#include "link/com_numbers.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "link/digits.h"

namespace torvik::link {
namespace {

// The last-seen time is refreshed when it is at least this old.
constexpr int64_t kSeenGranularitySeconds = 60;
constexpr std::string_view kHeader =
    "# torvik-config: the COM number each serial device keeps (written by the tool)";

// The device path and the adapter's name are what the device was last
// seen as, for the technician: kept without control characters (which the
// file cannot hold), as blanks. The identity is never changed: another
// device may carry the cleaned name.
std::string Blanked(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return out;
}

bool HasControl(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::vector<std::string_view> Split(std::string_view line, char sep) {
    std::vector<std::string_view> fields;
    while (true) {
        const size_t at = line.find(sep);
        fields.push_back(line.substr(0, at));
        if (at == std::string_view::npos) return fields;
        line.remove_prefix(at + 1);
    }
}

}  // namespace

std::string IdentityOf(const PortInfo& port) {
    if (!port.serial.empty() && !port.by_id.empty()) return port.by_id;
    if (!port.by_path.empty()) return port.by_path;
    return port.device;
}

std::vector<KnownPort> IdentifyPorts(const std::vector<PortInfo>& ports) {
    std::vector<KnownPort> known;
    std::map<std::string, int> uses;
    for (const PortInfo& p : ports) {
        known.push_back(KnownPort{IdentityOf(p), p});
        ++uses[known.back().key];
    }
    for (KnownPort& k : known) {
        if (uses[k.key] > 1 && !k.info.by_path.empty()) k.key = k.info.by_path;
    }
    // Still shared (no socket name either): the device path tells them apart.
    uses.clear();
    for (const KnownPort& k : known) ++uses[k.key];
    for (KnownPort& k : known) {
        if (uses[k.key] > 1) k.key = k.info.device;
    }
    return known;
}

AssignOutcome AssignNumbers(std::vector<ComRecord>& records, const std::vector<KnownPort>& present,
                            const std::set<int>& reserved, int64_t now) {
    AssignOutcome outcome;
    std::set<std::string> present_keys;
    for (const KnownPort& p : present) present_keys.insert(p.key);

    for (const KnownPort& p : present) {
        const std::string adapter = Blanked(p.info.adapter());
        const std::string device = Blanked(p.info.device);
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const ComRecord& r) { return r.key == p.key; });
        if (it != records.end()) {
            const bool stale =
                now - it->last_seen >= kSeenGranularitySeconds || it->last_seen > now;
            if (stale || it->device != device || it->adapter != adapter) {
                if (stale) it->last_seen = now;
                it->device = device;
                it->adapter = adapter;
                outcome.changed = true;
            }
            continue;
        }
        ComRecord fresh{0, p.key, now, device, adapter};
        for (int n = 1; n <= kComNumbers && fresh.number == 0; ++n) {
            const bool taken = reserved.count(n) != 0 ||
                               std::any_of(records.begin(), records.end(),
                                           [n](const ComRecord& r) { return r.number == n; });
            if (!taken) fresh.number = n;
        }
        if (fresh.number != 0) {
            outcome.given.push_back(fresh.number);
            records.push_back(std::move(fresh));
        } else {
            // All taken: the device absent longest gives its number up.
            auto oldest = records.end();
            for (auto r = records.begin(); r != records.end(); ++r) {
                if (present_keys.count(r->key) != 0 || reserved.count(r->number) != 0) continue;
                if (oldest == records.end() || r->last_seen < oldest->last_seen ||
                    (r->last_seen == oldest->last_seen && r->number < oldest->number)) {
                    oldest = r;
                }
            }
            if (oldest == records.end()) {
                outcome.unnumbered.push_back(p.key);
                continue;
            }
            fresh.number = oldest->number;
            outcome.given.push_back(fresh.number);
            outcome.reused.push_back(Reuse{fresh.number, *oldest, p.key});
            *oldest = std::move(fresh);
        }
        outcome.changed = true;
    }
    std::sort(records.begin(), records.end(),
              [](const ComRecord& a, const ComRecord& b) { return a.number < b.number; });
    return outcome;
}

bool IsRepresentable(const ComRecord& r) {
    return r.number >= 1 && r.number <= kComNumbers && !r.key.empty() && r.last_seen >= 0 &&
           !HasControl(r.key) && !HasControl(r.device) && !HasControl(r.adapter);
}

bool IsComNumberText(std::string_view text) {
    std::string_view first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    return text.empty() || first == kHeader;
}

std::string RenderComRecords(const std::vector<ComRecord>& records) {
    std::string out(kHeader);
    out += "\n# COMn<TAB>identity<TAB>last seen (seconds since 1970, UTC)<TAB>device<TAB>adapter\n";
    std::set<int> numbers;
    std::set<std::string_view> keys;
    for (const ComRecord& r : records) {
        if (!IsRepresentable(r) || !numbers.insert(r.number).second || !keys.insert(r.key).second) {
            continue;
        }
        out += "COM" + std::to_string(r.number) + '\t' + r.key + '\t' +
               std::to_string(r.last_seen) + '\t' + r.device + '\t' + r.adapter + '\n';
    }
    return out;
}

std::vector<ComRecord> ParseComRecords(std::string_view text) {
    std::vector<ComRecord> records;
    for (std::string_view line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> f = Split(line, '\t');
        if (f.size() < 3 || f[0].size() < 4 || f[0].substr(0, 3) != "COM") continue;
        int64_t number = 0, seen = 0;
        if (!ParseDigits(f[0].substr(3), number) || !ParseDigits(f[2], seen)) continue;
        ComRecord record{static_cast<int>(std::clamp<int64_t>(number, 0, kComNumbers + 1)),
                         std::string(f[1]), seen,
                         f.size() > 3 ? std::string(f[3]) : std::string(),
                         f.size() > 4 ? std::string(f[4]) : std::string()};
        if (!IsRepresentable(record)) continue;
        const bool repeated = std::any_of(records.begin(), records.end(), [&](const ComRecord& r) {
            return r.number == record.number || r.key == record.key;
        });
        if (repeated) continue;
        records.push_back(std::move(record));
    }
    std::sort(records.begin(), records.end(),
              [](const ComRecord& a, const ComRecord& b) { return a.number < b.number; });
    return records;
}

std::string FormatUtc(int64_t seconds) {
    if (seconds <= 0) return "never";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return "never";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm) == 0) return "never";
    return text;
}

}  // namespace torvik::link

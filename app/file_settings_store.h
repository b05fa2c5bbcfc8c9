// SPDX-License-Identifier: MIT
// The per-machine settings store on Linux: one text file in the registry
// export format, shared by all users of the machine.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\KELDO\ReaderConfig]
//   "ScanCommNo"=dword:00000003
//   "ScanBaudRate"="38400,e,8,1"
//
// Strings are quoted with "\" and '"' escaped by a backslash; expandable
// strings are hex(2): UTF-16LE bytes with a terminating 00,00; any other
// hex:/hex(N): value is held as a value of another type. Key and value names
// compare without regard to ASCII case. A file without the header line holds
// no keys.
//
// Saving is all or nothing: under an exclusive lock on "<path>.lock" the
// current file is read again, only the values written through the key are
// replaced, and the result goes to a temporary file in the same directory
// that is then renamed over the old one, with the old file's mode, group
// and (for root) owner. Several processes saving different values therefore
// never lose each other's values; for the same value the last save stands.
//
// The directory is shared by every user of the serial ports, and the file
// may be any file a technician names: a settings file, its lock file or a
// temporary file that is a link, a FIFO, a device or a directory is never
// opened or followed, and a file that is not a settings file (text without
// the header line; an empty file counts as a settings file without values)
// is never replaced. The tool then works with the defaults and says so
// once through the store's report.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_store.h"

namespace torvik::app {

inline constexpr const char* kDefaultSettingsPath = "/var/lib/torvik-config/settings.reg";

// The root under which every key path of the store lies.
inline constexpr const char* kSettingsRoot = "HKEY_LOCAL_MACHINE";

struct ParsedValue {
    std::string name;  // as spelt in the file; "" is the key's default value ("@")
    StoredValue value;
    // For values of another type: the type number of hex(N), 3 for "hex:".
    uint32_t other_type = 3;

    // Same spelling, same type and same content for that type.
    bool operator==(const ParsedValue& other) const;
};

struct ParsedSection {
    std::string name;  // full key name, e.g. "HKEY_LOCAL_MACHINE\Software\..."
    std::vector<ParsedValue> values;

    // Case-insensitive lookup of a value name.
    const ParsedValue* find(std::string_view value_name) const;
    // Replaces the value of that name (keeping the spelling already there) or
    // appends it.
    void set(std::string_view value_name, const StoredValue& value);

    bool operator==(const ParsedSection&) const = default;
};

struct ParsedStore {
    std::vector<ParsedSection> sections;

    // Case-insensitive lookup of a key name.
    const ParsedSection* find(std::string_view section_name) const;
    ParsedSection& find_or_add(std::string_view section_name);

    bool operator==(const ParsedStore&) const = default;
};

// Parses the text of a store file. Nothing when the header line is missing.
// Lines that cannot be read are skipped; for a key or value name that occurs
// more than once the first spelling and position and the last content stand.
// Total on any input.
std::optional<ParsedStore> parse_store_text(std::string_view text);

// The file text of a store. Values the file cannot hold (see
// is_representable) and sections whose name cannot be written are left out.
// For every text t whose parse gives p: parse_store_text(render_store_text(p)) == p.
std::string render_store_text(const ParsedStore& store);

// Whether a value can be held by the file: a string must not contain a line
// feed; an expandable string must be valid UTF-8 without a zero character.
bool is_representable(const StoredValue& value);

class FileSettingsStore final : public SettingsStore {
  public:
    explicit FileSettingsStore(std::string path);

    // The key exists when the file is a regular file this user can open for
    // reading and writing, carries the header and holds the key's section.
    // With create, a missing file is created (mode 0664) and a missing
    // section is added by the first save. A key must not outlive its store;
    // values written to a key that is dropped without close() are not stored.
    std::unique_ptr<SettingsKey> open_key(std::string_view path, bool create) override;

    const std::string& path() const { return path_; }

    // Told, once per text, why the file is not used or not saved: "<path>
    // is not a settings file: it is left as it is, and the defaults are
    // used", "<path>.lock is a symbolic link: ...". Without it the store
    // stays silent, as a store of the settings fails.
    void set_report(std::function<void(const std::string&)> report) {
        report_ = std::move(report);
    }

    // Test hook: when set, writing the temporary file of a save fails after
    // part of the text, as on a full disk.
    void set_fail_write_for_test(bool fail) { fail_write_ = fail; }

  private:
    friend class FileSettingsKey;
    bool save(const std::string& section, const std::vector<ParsedValue>& written) const;
    void report(const std::string& text) const;
    std::string not_used(const std::string& what) const;

    std::string path_;
    bool fail_write_ = false;
    std::function<void(const std::string&)> report_;
    mutable std::set<std::string> reported_;
};

}  // namespace torvik::app

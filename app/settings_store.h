// SPDX-License-Identifier: MIT
// A per-machine store of typed values under key paths, with the semantics of
// a registry key opened with full access: 32-bit integers and strings stay
// distinguishable, and a key that cannot be opened for reading and writing
// cannot be opened at all.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace torvik::app {

enum class ValueType { Dword, String, ExpandString, Other };

struct StoredValue {
    ValueType type = ValueType::Other;
    uint32_t dword = 0;  // for Dword
    std::string data;    // for String and ExpandString: the bytes without a terminator
};

class SettingsKey {
  public:
    virtual ~SettingsKey() = default;
    // The value's type and content, or nothing when it does not exist.
    virtual std::optional<StoredValue> query(std::string_view name) const = 0;
    // Sets a value; kept until close().
    virtual bool write(std::string_view name, const StoredValue& value) = 0;
    // Closes the key. A key opened for writing stores what was written here,
    // all or nothing; false when that failed (the old content stays intact).
    virtual bool close() = 0;
};

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // Opens the key at path ("\\Software\\KELDO\\ReaderConfig") with read and
    // write access. With create false a missing key gives nothing; with create
    // true it is created with the keys above it. Nothing when the store cannot
    // be opened for reading and writing.
    virtual std::unique_ptr<SettingsKey> open_key(std::string_view path, bool create) = 0;
};

}  // namespace torvik::app

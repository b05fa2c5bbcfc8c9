// SPDX-License-Identifier: MIT
// A settings store held in memory, for tests: key paths map to named values.
// Writes take effect at once, like registry writes; names compare without
// regard to ASCII case, like registry names. Switches make opening or
// writing fail, and counters record how the store was used.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/settings_store.h"

namespace torvik::doubles {

using app::SettingsKey;
using app::SettingsStore;
using app::StoredValue;
using app::ValueType;

class MemorySettingsStore final : public SettingsStore {
  public:
    // Orders names without regard to ASCII case.
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const {
            return std::lexicographical_compare(
                a.begin(), a.end(), b.begin(), b.end(),
                [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
        }
    };
    using Values = std::map<std::string, StoredValue, NameLess>;

    // Key path -> values. Tests fill and inspect it directly.
    std::map<std::string, Values, NameLess> keys;

    // When set, open_key gives nothing, as for a store this user cannot write.
    bool fail_open = false;
    // Number of writes that still succeed; negative: all of them.
    int writes_allowed = -1;

    int opens = 0;   // open_key calls, successful or not
    int writes = 0;  // successful writes
    int closes = 0;

    std::unique_ptr<SettingsKey> open_key(std::string_view path, bool create) override {
        ++opens;
        if (fail_open) return nullptr;
        auto it = keys.find(path);
        if (it == keys.end()) {
            if (!create) return nullptr;
            it = keys.emplace(std::string(path), Values{}).first;
        }
        return std::make_unique<Key>(*this, it->second);
    }

    // The value under path and name, or nothing.
    std::optional<StoredValue> get(std::string_view path, std::string_view name) const {
        const auto key = keys.find(path);
        if (key == keys.end()) return std::nullopt;
        const auto value = key->second.find(name);
        if (value == key->second.end()) return std::nullopt;
        return value->second;
    }

    void put(std::string_view path, std::string_view name, const StoredValue& value) {
        keys[std::string(path)][std::string(name)] = value;
    }

    static StoredValue dword(uint32_t number) {
        StoredValue value;
        value.type = ValueType::Dword;
        value.dword = number;
        return value;
    }
    static StoredValue text(std::string data, ValueType type = ValueType::String) {
        StoredValue value;
        value.type = type;
        value.data = std::move(data);
        return value;
    }

  private:
    class Key final : public SettingsKey {
      public:
        Key(MemorySettingsStore& store, Values& values) : store_(store), values_(values) {}

        std::optional<StoredValue> query(std::string_view name) const override {
            const auto it = values_.find(name);
            if (it == values_.end()) return std::nullopt;
            return it->second;
        }

        bool write(std::string_view name, const StoredValue& value) override {
            if (store_.writes_allowed == 0) return false;
            if (store_.writes_allowed > 0) --store_.writes_allowed;
            // An existing value keeps the spelling of its name.
            const auto it = values_.find(name);
            if (it != values_.end()) {
                it->second = value;
            } else {
                values_.emplace(std::string(name), value);
            }
            ++store_.writes;
            return true;
        }

        bool close() override {
            ++store_.closes;
            return true;
        }

      private:
        MemorySettingsStore& store_;
        Values& values_;
    };
};

}  // namespace torvik::doubles

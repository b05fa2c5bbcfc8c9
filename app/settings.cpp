// SPDX-License-Identifier: MIT
// Loading and saving the persistent settings: the link settings of the last
// searching scan and the language name, under one per-machine key.
#include "app/settings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace torvik::app {
namespace {

constexpr const char* kValueCommNo = "ScanCommNo";
constexpr const char* kValueBaudRate = "ScanBaudRate";
constexpr const char* kValueBaudRateNo = "ScanBaudRateNo";
constexpr const char* kValueLanguage = "LanguageFlag";
// Beside the four values of the registry key: the high-contrast look of
// the window (1) or its usual look (0, or missing), kept with the language.
constexpr const char* kValueHighContrast = "HighContrast";

// An integer reads only from a 32-bit integer value. The stored 32 bits are
// taken as a signed number, as the port and index fields are plain ints.
std::optional<int> as_integer(const StoredValue& value) {
    if (value.type != ValueType::Dword) return std::nullopt;
    return static_cast<int>(static_cast<int32_t>(value.dword));
}

// A string reads from a string or an expandable-string value, the latter
// left unexpanded; the text ends at the first zero character.
std::optional<std::string> as_string(const StoredValue& value) {
    if (value.type != ValueType::String && value.type != ValueType::ExpandString) {
        return std::nullopt;
    }
    const auto zero = value.data.find('\0');
    return zero == std::string::npos ? value.data : value.data.substr(0, zero);
}

int language_index_of(const std::string& name) {
    int index = 0;
    if (name == kLanguageNames[1]) index = 1;
    if (name == kLanguageNames[2]) index = 2;
    return index;
}

// Reads the four values in their fixed order into the state. Returns at the
// first value of the wrong type; what was read before stays in the state.
void read_values(const SettingsKey& key, AppState& state) {
    if (const auto stored = key.query(kValueCommNo)) {
        const auto port = as_integer(*stored);
        if (!port) return;
        state.link.port = *port;
    } else {
        state.link.port = 0;
    }

    if (const auto stored = key.query(kValueBaudRate)) {
        auto settings = as_string(*stored);
        if (!settings) return;
        state.link.settings = std::move(*settings);
    } else {
        state.link.settings = kDefaultSettings;
    }

    if (const auto stored = key.query(kValueBaudRateNo)) {
        const auto index = as_integer(*stored);
        if (!index) return;
        state.link.index = *index;
    } else {
        state.link.index = kDefaultSettingsIndex;
    }

    if (const auto stored = key.query(kValueLanguage)) {
        auto name = as_string(*stored);
        if (!name) return;
        state.language_name = std::move(*name);
        state.language = language_index_of(state.language_name);
    } else {
        state.language_name = kLanguageNames[0];
        state.language = 0;
    }

    if (const auto stored = key.query(kValueHighContrast)) {
        const auto on = as_integer(*stored);
        if (!on) return;
        state.high_contrast = *on != 0;
    } else {
        state.high_contrast = false;
    }
}

StoredValue dword_value(int number) {
    StoredValue value;
    value.type = ValueType::Dword;
    value.dword = static_cast<uint32_t>(number);
    return value;
}

StoredValue string_value(const std::string& text) {
    StoredValue value;
    value.type = ValueType::String;
    value.data = text;
    return value;
}

}  // namespace

void LoadSettings(SettingsStore& store, AppState& state) {
    auto key = store.open_key(kSettingsKeyPath, /*create=*/false);
    if (!key) return;
    read_values(*key, state);
    key->close();
}

void SaveLinkSettings(SettingsStore& store, const LinkSettings& link) {
    auto key = store.open_key(kSettingsKeyPath, /*create=*/true);
    if (!key) return;
    // A failed write ends the writer; what was written before it is still
    // handed to close(), which stores it.
    if (key->write(kValueCommNo, dword_value(link.port)) &&
        key->write(kValueBaudRateNo, dword_value(link.index))) {
        key->write(kValueBaudRate, string_value(link.settings));
    }
    key->close();
}

void SaveLanguage(SettingsStore& store, const std::string& language_name) {
    auto key = store.open_key(kSettingsKeyPath, /*create=*/true);
    if (!key) return;
    key->write(kValueLanguage, string_value(language_name));
    key->close();
}

void SaveLanguage(SettingsStore& store, const std::string& language_name, bool high_contrast) {
    auto key = store.open_key(kSettingsKeyPath, /*create=*/true);
    if (!key) return;
    if (key->write(kValueLanguage, string_value(language_name))) {
        key->write(kValueHighContrast, dword_value(high_contrast ? 1 : 0));
    }
    key->close();
}

}  // namespace torvik::app

// SPDX-License-Identifier: MIT
// Loading and saving the link settings and the language in the per-machine
// store. Every error is silent: a failed load leaves defaults in force, a
// failed save leaves the running program's values untouched.
#pragma once
#include "app/app_state.h"
#include "app/settings_store.h"

namespace torvik::app {

inline constexpr const char* kSettingsKeyPath = "\\Software\\KELDO\\ReaderConfig";

// Fills port, settings string, settings index, language name and language
// index from the store, and the high-contrast look; stops at the first
// error, keeping what was read.
void LoadSettings(SettingsStore& store, AppState& state);
// Writes ScanCommNo, ScanBaudRateNo and ScanBaudRate.
void SaveLinkSettings(SettingsStore& store, const LinkSettings& link);
// Writes LanguageFlag.
void SaveLanguage(SettingsStore& store, const std::string& language_name);
// Writes LanguageFlag and HighContrast (the window's look) in one save.
void SaveLanguage(SettingsStore& store, const std::string& language_name, bool high_contrast);

}  // namespace torvik::app

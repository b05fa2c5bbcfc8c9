// SPDX-License-Identifier: MIT
// Application state shared by every operation, owned by the window model.
#pragma once
#include <array>
#include <string>

namespace torvik::app {

// The fourteen settings strings; a settings index and a selection index of
// cmbBaudRate are the same number.
inline constexpr std::array<const char*, 14> kSettingsList = {
    "4800,n,8,1",   "4800,e,8,1",   "9600,n,8,1",   "9600,e,8,1",  "19200,n,8,1",
    "19200,e,8,1",  "38400,n,8,1",  "38400,e,8,1",  "57600,n,8,1", "57600,e,8,1",
    "115200,n,8,1", "115200,e,8,1", "230400,n,8,1", "230400,e,8,1"};

inline constexpr const char* kDefaultSettings = "19200,e,8,1";
inline constexpr int kDefaultSettingsIndex = 5;

// The items of the output-mode and card-type lists; an item index is what
// travels to the reader, the item text is shown (in every language alike).
inline constexpr std::array<const char*, 2> kModeItems = {"Wiegand", "RS485"};
inline constexpr std::array<const char*, 3> kWiegandItems = {"Wiegand 26", "Wiegand 34",
                                                             "Wiegand 42"};
inline constexpr std::array<const char*, 3> kRs485Items = {"RS485 24", "RS485 32", "RS485 40"};
inline constexpr std::array<const char*, 3> kCardTypeItems = {"EM/TEMIC Card", "KELDO Card",
                                                              "Security Card"};
// Text of an item, empty for an index outside the list (no selection).
template <size_t N>
const char* ItemText(const std::array<const char*, N>& items, int index) {
    return index >= 0 && static_cast<size_t>(index) < N ? items[static_cast<size_t>(index)] : "";
}

// The raw command test takes at most this many characters.
inline constexpr int kRawCommandMaxLength = 40;

// Port, settings string and settings index under which the reader answers.
struct LinkSettings {
    int port = 0;  // 0: none known
    std::string settings = kDefaultSettings;
    int index = kDefaultSettingsIndex;
};

struct AppState {
    LinkSettings link;
    int language = 0;  // 0 English, 1 Simplified, 2 Traditional
    std::string language_name = "English";
    // The window's high-contrast look, kept with the language.
    bool high_contrast = false;
    bool reader_found = false;
    bool reading = false;
    // The stand-alone controls are shown (after the stand-alone mode
    // command succeeded, until a factory default succeeds).
    bool stand_alone = false;
};

// Names stored for the three languages, by language index.
inline constexpr std::array<const char*, 3> kLanguageNames = {"English", "ChineseGB",
                                                              "ChineseBIG5"};

}  // namespace torvik::app

// SPDX-License-Identifier: MIT
// The message catalogue: 62 rows, each in English, Simplified Chinese and
// Traditional Chinese, held as UTF-8.
#pragma once
#include <string>

namespace torvik::app {

constexpr int kCatalogueRows = 62;
constexpr int kLanguages = 3;

// Text of a row in a language column (0 English, 1 Simplified, 2 Traditional).
// Out-of-range arguments give an empty text.
const std::string& catalogue_text(int row, int language);

}  // namespace torvik::app

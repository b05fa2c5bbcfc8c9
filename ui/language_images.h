// SPDX-License-Identifier: MIT
// The images of the two Chinese language buttons, drawn beforehand.
#pragma once
#include <QIcon>

namespace torvik::ui {

// The 34 by 16 image of 簡体 (Simplified) or 繁體 (Traditional) in red, with
// a version at twice the size for dense screens. They were drawn with
// LanguageImage (Noto Sans CJK SC / TC, bold, 15 px) and are kept as their
// coverage, so that showing the window loads no CJK face and decodes no
// image file.
QIcon LanguageIcon(bool traditional);

}  // namespace torvik::ui

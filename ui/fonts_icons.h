// SPDX-License-Identifier: MIT
// The fonts the layout is drawn with, per language, and the images the
// window shows: the application icon and the images of the buttons.
#pragma once
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

#include "ui/layout_table.h"

namespace torvik::ui {

// The face that stands in for the layout's sans-serif fonts, by name, never
// by a substitute fontconfig picks: Liberation Sans (fonts-liberation2,
// metric-compatible with the faces the layout was measured with), loaded
// from its files when fontconfig does not list it, else the toolkit's
// sans-serif face. Resolved once.
QString LatinFamily();

// Font families for a language: the Latin stand-in for the layout's fonts
// first, then the CJK face whose glyph forms match the language (Simplified
// for 0 and 1, Traditional for 2), so Chinese text falls back to it.
QStringList FontFamilies(int language);

// Gives a font the families of a language, keeping its size and weight.
void SetLanguageFamilies(QFont& font, int language);

// A font of the layout at a pixel size.
QFont LayoutFont(int pixel_size, bool bold, int language = 0);

// The images drawn at start-up.
QIcon AppIcon();
QIcon MagnifierIcon();
// The close image of btnExit.
QIcon CloseIcon();
// 34 by 16 image of two red Chinese characters in the given CJK face.
QPixmap LanguageImage(const QString& text, const QString& cjk_family);
// The 34 by 16 image of 簡体 (Simplified) or 繁體 (Traditional) in red, with
// a version at twice the size for dense screens. They were drawn with
// LanguageImage (Noto Sans CJK SC / TC, bold, 15 px) and are kept as their
// coverage, so that showing the window loads no CJK face and decodes no
// image file.
QIcon LanguageIcon(bool traditional, const QColor& colour = Qt::red);

// A button's image and the size it is drawn at; a null icon for none.
struct ButtonImage {
    QIcon icon;
    QSize size;
};
ButtonImage ButtonImageOf(Icon icon, Scheme scheme = Scheme::Usual);

}  // namespace torvik::ui

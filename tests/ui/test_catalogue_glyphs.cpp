// SPDX-License-Identifier: MIT
// Every character of the two Chinese columns has a glyph in the face the
// window falls back to for that language.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QRawFont>
#include <QString>

#include "app/catalogue.h"
#include "ui/fonts_icons.h"

namespace {

TEST(CatalogueGlyphs, ChineseColumnsRenderInTheirLanguagesFace) {
    for (int language : {1, 2}) {
        const QStringList families = torvik::ui::FontFamilies(language);
        ASSERT_FALSE(families.isEmpty());
        QFont cjk(families.last());
        cjk.setPixelSize(16);
        const QRawFont raw = QRawFont::fromFont(cjk);
        ASSERT_TRUE(raw.isValid()) << families.last().toStdString();
        for (int row = 0; row < torvik::app::kCatalogueRows; ++row) {
            const QString text = QString::fromStdString(torvik::app::catalogue_text(row, language));
            for (const char32_t ch : text.toUcs4()) {
                if (ch < 0x80) continue;  // Latin text is drawn by the layout font
                EXPECT_TRUE(raw.supportsCharacter(ch)) << "row " << row << " language " << language
                                                       << " U+" << std::hex << uint32_t(ch);
            }
        }
    }
}

}  // namespace

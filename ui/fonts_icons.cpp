// SPDX-License-Identifier: MIT
#include "ui/fonts_icons.h"

#include <QFontDatabase>
#include <QPainter>

namespace torvik::ui {

QString LatinFamily() {
    static const QString family = [] {
        const QString wanted = QStringLiteral("Liberation Sans");
        if (QFontDatabase::families().contains(wanted)) return wanted;
        // Not known to fontconfig: the files of fonts-liberation2 directly.
        const char* const kFiles[] = {
            "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
            "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf",
        };
        QString loaded;
        for (const char* file : kFiles) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            const QStringList names = QFontDatabase::applicationFontFamilies(id);
            if (loaded.isEmpty() && !names.isEmpty()) loaded = names.first();
        }
        if (!loaded.isEmpty()) return loaded;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QStringList FontFamilies(int language) {
    // The CJK face comes last so only characters the Latin face lacks are
    // taken from it.
    return {LatinFamily(), language == 2 ? QStringLiteral("Noto Sans CJK TC")
                                         : QStringLiteral("Noto Sans CJK SC")};
}

namespace {

// Qt keeps one fallback chain per installed primary family and font
// attributes, without regard to the fallback families asked for: the first
// language to lay out text would fix the CJK face for all the others. A
// style strategy of its own per CJK face (no visible effect with scalable
// fonts) keeps the chains of Simplified and Traditional apart.
QFont::StyleStrategy strategy_for(int language) {
    return language == 2 ? QFont::PreferOutline : QFont::PreferDefault;
}

}  // namespace

void SetLanguageFamilies(QFont& font, int language) {
    font.setFamilies(FontFamilies(language));
    font.setStyleStrategy(strategy_for(language));
}

QFont LayoutFont(int pixel_size, bool bold, int language) {
    QFont f;
    SetLanguageFamilies(f, language);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixel_size);
    f.setBold(bold);
    return f;
}

namespace {

// A transparent image of `size` pixels at a device pixel ratio, painted
// antialiased by `draw`.
template <class Draw>
QPixmap painted(QSize size, int ratio, Draw draw) {
    QPixmap pm(size * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return pm;
}

}  // namespace

QIcon AppIcon() {
    // A wall reader with a card held in front of it.
    return QIcon(painted(QSize(64, 64), 1, [](QPainter& p) {
        p.setPen(QPen(QColor(40, 40, 48), 2));
        p.setBrush(QColor(70, 74, 88));
        p.drawRoundedRect(QRectF(14, 4, 30, 54), 6, 6);
        p.setBrush(QColor(20, 20, 24));
        p.drawRoundedRect(QRectF(19, 10, 20, 12), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 200, 60));
        p.drawEllipse(QPointF(29, 50), 3, 3);
        p.setPen(QPen(QColor(20, 60, 120), 2));
        p.setBrush(QColor(120, 180, 240));
        p.drawRoundedRect(QRectF(30, 26, 30, 20), 3, 3);
        p.setPen(QPen(QColor(255, 255, 255), 2));
        p.drawLine(QPointF(35, 32), QPointF(52, 32));
        p.drawLine(QPointF(35, 38), QPointF(46, 38));
    }));
}

QIcon MagnifierIcon() {
    return QIcon(painted(QSize(16, 16), 1, [](QPainter& p) {
        p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10.5, 10.5), QPointF(14.5, 14.5));
        p.setPen(QPen(QColor(40, 40, 40), 1.6));
        p.setBrush(QColor(200, 230, 255));
        p.drawEllipse(QPointF(6.5, 6.5), 4.8, 4.8);
    }));
}

QIcon CloseIcon() {
    // A dark cross, drawn rather than taken from the style's image files.
    QIcon icon;
    for (int scale : {1, 2}) {
        icon.addPixmap(painted(QSize(16, 16), scale, [](QPainter& p) {
            p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
        }));
    }
    return icon;
}

QPixmap LanguageImage(const QString& text, const QString& cjk_family) {
    QPixmap pm(34, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f;
    f.setFamilies({cjk_family});
    f.setPixelSize(15);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::red);
    p.drawText(pm.rect(), Qt::AlignCenter, text);
    p.end();
    return pm;
}

ButtonImage ButtonImageOf(Icon icon, Scheme scheme) {
    switch (icon) {
        case Icon::Magnifier:
            return {MagnifierIcon(), QSize(16, 16)};
        case Icon::Close:
            return {CloseIcon(), QSize(16, 16)};
        case Icon::Simplified:
            return {LanguageIcon(false, LanguageImageColour(scheme)), QSize(34, 16)};
        case Icon::Traditional:
            return {LanguageIcon(true, LanguageImageColour(scheme)), QSize(34, 16)};
        case Icon::None:
            break;
    }
    return {};
}

}  // namespace torvik::ui

// SPDX-License-Identifier: MIT
#include "ui/text_fit.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocumentFragment>
#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>

#include "app/catalogue.h"
#include "ui/widgets.h"

namespace torvik::ui {

QString DisplayText(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ModelText(const QString& text) {
    return text.toStdString();
}

QValidator::State Latin1Validator::validate(QString& input, int&) const {
    for (const QChar ch : input) {
        if (ch.unicode() > 0xFF) return Invalid;
    }
    return Acceptable;
}

QString PlainCaption(const QString& caption) {
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 >= caption.size()) break;
            ++i;
        }
        out += caption[i];
    }
    return out;
}

QString MnemonicRichText(const QString& caption) {
    QString out;
    const auto escaped = [](QChar ch) -> QString {
        if (ch == u'<') return QStringLiteral("&lt;");
        if (ch == u'>') return QStringLiteral("&gt;");
        if (ch == u'&') return QStringLiteral("&amp;");
        if (ch == u'"') return QStringLiteral("&quot;");
        return QString(ch);
    };
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar ch = caption[i];
        if (ch != u'&') {
            out += escaped(ch);
            continue;
        }
        if (i + 1 >= caption.size()) break;  // a trailing marker marks nothing
        const QChar next = caption[++i];
        if (next == u'&') {
            out += QStringLiteral("&amp;");
        } else {
            out += QStringLiteral("<u>") + escaped(next) + QStringLiteral("</u>");
        }
    }
    // pre keeps runs of blanks (the maker line has three) on one line.
    return QStringLiteral("<span style=\"white-space:pre\">") + out + QStringLiteral("</span>");
}

void FitText(QWidget* w, int layout_px) {
    // Whether the text fits at a font: on one line, except on large buttons,
    // which wrap their caption within their height.
    std::function<bool(const QFont&)> fits;
    if (auto* cb = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(cb);
        opt.editable = false;
        opt.frame = true;
        const int room =
            cb->style()
                ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb)
                .width() -
            4;
        fits = [cb, room](const QFont& f) {
            const QFontMetrics m(f);
            for (int i = 0; i < cb->count(); ++i) {
                if (m.horizontalAdvance(cb->itemText(i)) > room) return false;
            }
            return true;
        };
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        if (b->text().isEmpty()) return;
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.features = QStyleOptionButton::None;
        const QRect contents = b->style()
                                   ->subElementRect(QStyle::SE_PushButtonContents, &opt, b)
                                   .adjusted(2, 0, -2, 0);
        const QString text = PlainCaption(b->text());
        if (qobject_cast<LargeButton*>(b)) {
            fits = [contents, text](const QFont& f) {
                const QFontMetrics m(f);
                for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
                    if (m.horizontalAdvance(word) > contents.width()) return false;
                }
                return m.boundingRect(contents, Qt::AlignCenter | Qt::TextWordWrap, text)
                           .height() <= contents.height();
            };
        } else {
            const int icon = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
            const int room = contents.width() - icon;
            fits = [room, text](const QFont& f) {
                return QFontMetrics(f).horizontalAdvance(text) <= room;
            };
        }
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        const int room = l->contentsRect().width();
        const QString plain = l->textFormat() == Qt::PlainText
                                  ? l->text()
                                  : QTextDocumentFragment::fromHtml(l->text()).toPlainText();
        fits = [room, plain](const QFont& f) {
            return QFontMetrics(f).horizontalAdvance(plain) <= room;
        };
    } else {
        return;
    }
    QFont f = w->font();
    int px = layout_px;
    for (; px > kLegibleFloorPx; --px) {
        f.setPixelSize(px);
        if (fits(f)) break;
    }
    if (w->font().pixelSize() != px) {
        f.setPixelSize(px);
        w->setFont(f);
    }
}

QPoint WindowPlacement(const QRect& available, const QSize& frame) {
    const auto axis = [](int start, int length, int size) {
        return size >= length ? start : start + (length - size) / 2;
    };
    return {axis(available.x(), available.width(), frame.width()),
            axis(available.y(), available.height(), frame.height())};
}

double FitScale(const QRect& available, const QMargins& frame, const QSize& client) {
    const double width = available.width() - frame.left() - frame.right();
    const double height = available.height() - frame.top() - frame.bottom();
    const double scale = std::min({1.0, width / client.width(), height / client.height()});
    return scale > 0 ? scale : 1.0;
}

QRect ScaledPlace(int x, int y, int width, int height, double scale) {
    const auto at = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
    return QRect(QPoint(at(x), at(y)), QPoint(at(x + width) - 1, at(y + height) - 1));
}

}  // namespace torvik::ui

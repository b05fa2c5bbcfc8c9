// SPDX-License-Identifier: MIT
#include "ui/text_fit.h"

#include <algorithm>
#include <string_view>

#include "app/catalogue.h"

namespace torvik::ui {

namespace {

// Length of the longest catalogue text (any row, any language) that `text`
// starts with, in bytes; 0 when there is none.
size_t catalogue_prefix(std::string_view text) {
    size_t longest = 0;
    for (int language = 0; language < app::kLanguages; ++language) {
        for (int row = 0; row < app::kCatalogueRows; ++row) {
            const std::string& entry = app::catalogue_text(row, language);
            if (entry.size() > longest && text.starts_with(entry)) longest = entry.size();
        }
    }
    return longest;
}

}  // namespace

QString DisplayText(const std::string& text) {
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const size_t prefix = catalogue_prefix(text);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(prefix)) +
           QString::fromLatin1(text.data() + prefix, static_cast<qsizetype>(text.size() - prefix));
}

std::string WireBytes(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString EditText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
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

QPoint WindowPlacement(const QRect& available, const QSize& frame) {
    const auto axis = [](int start, int length, int size) {
        return size >= length ? start : start + (length - size) / 2;
    };
    return {axis(available.x(), available.width(), frame.width()),
            axis(available.y(), available.height(), frame.height())};
}

}  // namespace torvik::ui

// SPDX-License-Identifier: MIT
// Text between the window model and the widgets: how the model's texts are
// shown and typed (every conversion between the model's text and Qt's is
// here), how a caption's mnemonic markers are drawn, and the font size at
// which a text fits its control. Also where the window is placed on the
// screen.
#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QValidator>
#include <string>

class QWidget;

namespace torvik::ui {

// A model text as the window shows it. Catalogue texts are held as UTF-8;
// everything else (reader fields, typed text) is bytes, one character each,
// shown as the Latin-1 character of its code. A text that starts with a
// catalogue text of any language shows that part as the catalogue has it
// and the rest byte by byte, so "S/N : " in Chinese followed by a serial
// number with a byte 0xE9 shows the Chinese caption and "é".
QString DisplayText(const std::string& text);

// Typed text as the bytes that go on the wire: one Latin-1 byte per
// character (edits accept nothing else, see Latin1Validator).
std::string WireBytes(const QString& text);
// Edit text as bytes, one per character.
QString EditText(const std::string& bytes);
// A text of the quiet channel (hints, the scan account and its menu entry),
// which the model holds as UTF-8 in every language.
QString QuietText(const std::string& utf8);

// Refuses, as they are typed or pasted, characters that have no one-byte
// Latin-1 code.
class Latin1Validator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// The caption with its "&" mnemonic markers taken out ("&&" is one "&").
QString PlainCaption(const QString& caption);

// A caption with "&" mnemonic markers as rich text for a label: the marker
// is dropped and the character after it underlined, "&&" is a plain "&",
// everything else is escaped and blanks are kept as typed.
QString MnemonicRichText(const QString& caption);

// The smallest pixel size a text is shrunk to so that it fits its control.
inline constexpr int kLegibleFloorPx = 10;

// Shrinks the font of a widget until its text fits (down to
// kLegibleFloorPx); the layout's size when it fits at that. Lists fit their
// longest item, buttons their caption beside the image (large buttons may
// wrap it within their height), labels their text on one line.
void FitText(QWidget* widget, int layout_px);

// Where the window's frame goes: centred within the available area of the
// screen; when it is larger than the area in a direction, its top-left corner
// (title bar included) at the area's top-left in that direction.
QPoint WindowPlacement(const QRect& available, const QSize& frame);

}  // namespace torvik::ui

// SPDX-License-Identifier: MIT
// Text between the window model and the widgets: how the model's texts are
// shown and typed (every conversion between the model's text and Qt's is
// here), how a caption's mnemonic markers are drawn, and the font size at
// which a text fits its control. Also where the window is placed on the
// screen.
#pragma once
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QValidator>
#include <string>

class QWidget;

namespace torvik::ui {

// Text between the model and the widgets. Every model text is UTF-8
// (reader bytes became characters U+0000..U+00FF in the core), so a text is
// shown as it is held and typed text is held as it is typed.
QString DisplayText(const std::string& utf8);
std::string ModelText(const QString& text);

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

// The scale the layout is drawn at: 1 when the client area with the
// window's frame fits the available area, else the largest scale at which
// it does.
double FitScale(const QRect& available, const QMargins& frame, const QSize& client);

// A place of the layout at a scale: its edges are scaled and rounded, so
// controls that touch or keep apart at 1 still do.
QRect ScaledPlace(int x, int y, int width, int height, double scale);

}  // namespace torvik::ui

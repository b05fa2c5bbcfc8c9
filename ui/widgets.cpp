// SPDX-License-Identifier: MIT
#include "ui/widgets.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <algorithm>

namespace torvik::ui {

Panel::Panel(Look look, QWidget* parent) : QLabel(parent), status_line_(look == Look::Status) {
    setTextFormat(Qt::RichText);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    setFrameShape(QFrame::NoFrame);
    if (status_line_) {
        // Border, its one-pixel width, the bevel; on the right the link
        // indicator sits over the panel.
        // One line, never a hidden second one: a long text gets a smaller
        // font instead (FitText).
        setContentsMargins(4, 3, 40, 3);
        setWordWrap(false);
    } else {
        setContentsMargins(2, 1, 2, 1);
    }
}

void Panel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(QColor(0, 0, 0));
    p.drawRect(r);
    if (status_line_) {
        // Lowered bevel inside the border width.
        const QRect b = r.adjusted(2, 2, -2, -2);
        p.setPen(palette().color(QPalette::Window).darker(200));
        p.drawLine(b.topLeft(), b.topRight());
        p.drawLine(b.topLeft(), b.bottomLeft());
        p.setPen(palette().color(QPalette::Window).lighter(160));
        p.drawLine(b.bottomLeft(), b.bottomRight());
        p.drawLine(b.topRight(), b.bottomRight());
    }
}

void ScrollBar::keyPressEvent(QKeyEvent* event) {
    SliderAction action = SliderNoAction;
    switch (event->key()) {
        case Qt::Key_Right:
        case Qt::Key_Down:
            action = SliderSingleStepAdd;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            action = SliderSingleStepSub;
            break;
        case Qt::Key_PageDown:
            action = SliderPageStepAdd;
            break;
        case Qt::Key_PageUp:
            action = SliderPageStepSub;
            break;
        case Qt::Key_Home:
            action = SliderToMinimum;
            break;
        case Qt::Key_End:
            action = SliderToMaximum;
            break;
        default:
            QScrollBar::keyPressEvent(event);
            return;
    }
    triggerAction(action);
    event->accept();
}

void ListBox::showPopup() {
    QPalette popup = palette();
    popup.setColor(QPalette::Highlight, popup.color(QPalette::Base).darker(160));
    popup.setColor(QPalette::HighlightedText, Qt::white);
    view()->setPalette(popup);
    view()->setFont(font());
    QComboBox::showPopup();
}

ShapeWidget::ShapeWidget(Shape shape, QWidget* parent) : QWidget(parent), shape_(shape) {}

void ShapeWidget::set_color(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(color_);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (shape_ == Shape::Ellipse) {
        p.drawEllipse(r);
    } else {
        const qreal radius = std::min(r.width(), r.height()) / 4;
        p.drawRoundedRect(r, radius, radius);
    }
}

FocusFrame::FocusFrame(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("focusFrame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void FocusFrame::set_color(const QColor& color) {
    color_ = color;
    update();
}

void FocusFrame::follow(QWidget* target) {
    target_ = target;
    if (target == nullptr || !target->isVisible()) {
        hide();
        return;
    }
    const QRect r(target->mapTo(parentWidget(), QPoint(0, 0)), target->size());
    setGeometry(r.adjusted(-kWidth, -kWidth, kWidth, kWidth));
    raise();
    show();
    update();
}

void FocusFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Qt::NoPen);
    p.setBrush(color_);
    const QRect outer = rect();
    const QRect inner = outer.adjusted(kWidth, kWidth, -kWidth, -kWidth);
    p.drawRect(QRect(outer.left(), outer.top(), outer.width(), kWidth));
    p.drawRect(QRect(outer.left(), inner.bottom() + 1, outer.width(), kWidth));
    p.drawRect(QRect(outer.left(), inner.top(), kWidth, inner.height()));
    p.drawRect(QRect(inner.right() + 1, inner.top(), kWidth, inner.height()));
}

void LargeButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const QString caption = opt.text;
    opt.text.clear();
    p.drawControl(QStyle::CE_PushButton, opt);
    QRect r =
        style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this).adjusted(2, 0, -2, 0);
    if (isDown()) {
        r.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &opt, this),
                    style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &opt, this));
    }
    int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &opt, this))
        flags |= Qt::TextHideMnemonic;
    p.drawItemText(r, flags, opt.palette, isEnabled(), caption, QPalette::ButtonText);
}

void GroupBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionGroupBox opt;
    initStyleOption(&opt);
    // Where the style puts the frame: below the title line, or a few pixels
    // down without a title.
    const QRect box =
        style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxFrame, this);
    constexpr int kTopGap = 3;
    const int top = title().isEmpty()
                        ? kTopGap
                        : std::max(style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight),
                                   opt.fontMetrics.height()) +
                              kTopGap;
    // Shades of the style's frame: a faint grey line, a fainter line inside
    // it and a barely darker inside; the corners rounded off by lighter and
    // darker pixels.
    const QRect f = box.adjusted(1, top + 1, 0, 0);  // the frame line
    if (f.width() > 6 && f.height() > 6) {
        p.fillRect(f.adjusted(2, 2, -2, -2), QColor(0, 0, 0, 3));
        p.setPen(QColor(0, 0, 0, 7));
        p.drawRect(f.adjusted(1, 1, -2, -2));
        const QColor line(117, 117, 117, 50);
        p.fillRect(QRect(f.left() + 3, f.top(), f.width() - 6, 1), line);
        p.fillRect(QRect(f.left() + 3, f.bottom(), f.width() - 6, 1), line);
        p.fillRect(QRect(f.left(), f.top() + 3, 1, f.height() - 6), line);
        p.fillRect(QRect(f.right(), f.top() + 3, 1, f.height() - 6), line);
        // Each corner, from the corner point along both edges and inwards.
        struct Dot {
            int along, across;  // steps from the corner along an edge, and inwards
            QColor color;
        };
        const Dot dots[] = {{0, 0, QColor(39, 39, 39, 13)},
                            {1, 0, QColor(96, 96, 96, 54)},
                            {2, 0, QColor(108, 108, 108, 52)},
                            {1, 1, QColor(92, 92, 92, 20)}};
        const QPoint corners[] = {f.topLeft(), f.topRight(), f.bottomLeft(), f.bottomRight()};
        for (const QPoint corner : corners) {
            const int dx = corner.x() == f.left() ? 1 : -1;
            const int dy = corner.y() == f.top() ? 1 : -1;
            for (const Dot& d : dots) {
                p.fillRect(QRect(corner + QPoint(d.along * dx, d.across * dy), QSize(1, 1)),
                           d.color);
                if (d.along != d.across) {
                    p.fillRect(QRect(corner + QPoint(d.across * dx, d.along * dy), QSize(1, 1)),
                               d.color);
                }
            }
        }
    }
    // The title, by the style.
    opt.subControls &= ~QStyle::SC_GroupBoxFrame;
    p.drawComplexControl(QStyle::CC_GroupBox, opt);
}

}  // namespace torvik::ui

// SPDX-License-Identifier: MIT
// The widget classes of the window's controls where Qt's own do not draw or
// behave as the layout wants: panels, scroll bars, drop-down lists, shapes,
// the group box and large buttons.
#pragma once
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include "ui/layout_table.h"

namespace torvik::ui {

// A panel: a label with the border of its visual style; the status line
// adds a lowered bevel and keeps room for the link indicator on its right.
class Panel : public QLabel {
    Q_OBJECT
  public:
    Panel(Look look, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool status_line_;
};

// A horizontal scroll bar that the keyboard moves the usual way: Right and
// Down raise the position by the small step, Left and Up lower it, Page Down
// and Page Up by the large step, Home and End go to the ends.
class ScrollBar : public QScrollBar {
    Q_OBJECT
  public:
    explicit ScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A drop-down list whose popup is made only when it is first opened (and
// then takes the list's font and the value style's selection colours), so
// that showing the window builds no popups.
class ListBox : public QComboBox {
    Q_OBJECT
  public:
    explicit ListBox(QWidget* parent) : QComboBox(parent) {}
    void showPopup() override;
};

// A filled shape with a black outline: the link indicator and the card flash.
class ShapeWidget : public QWidget {
    Q_OBJECT
  public:
    ShapeWidget(Shape shape, QWidget* parent);
    void set_color(const QColor& color);
    QColor color() const { return color_; }
    // While the busy blinker runs (told to screen readers).
    void set_busy(bool busy) { busy_ = busy; }
    bool busy() const { return busy_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Shape shape_;
    QColor color_ = Qt::white;
    bool busy_ = false;
};

// The frame around the control that has the keyboard focus: drawn over the
// window, just outside the control, in the look's focus colour; it never
// takes a click.
class FocusFrame : public QWidget {
    Q_OBJECT
  public:
    explicit FocusFrame(QWidget* window);
    void set_color(const QColor& color);
    // Goes around `target` (a control of this window), or hides for nullptr.
    void follow(QWidget* target);
    QWidget* target() const { return target_; }
    QColor color() const { return color_; }
    static constexpr int kWidth = 2;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* target_ = nullptr;
    QColor color_;
};

// A group box whose frame the tool draws itself, as the style draws it but
// without loading the style's frame image from its file (a PNG decoder set
// up before the first paint).
class GroupBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit GroupBox(QWidget* parent) : QGroupBox(parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A large button: its caption wraps onto a second line when one is too
// short for it (the layout leaves room above the text for an image).
class LargeButton : public QPushButton {
    Q_OBJECT
  public:
    explicit LargeButton(QWidget* parent) : QPushButton(parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace torvik::ui

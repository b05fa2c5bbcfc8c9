// SPDX-License-Identifier: MIT
// The main window frmModule rendered with Qt Widgets: one widget per model
// control, named like the control, at its place in the window layout. The
// window mirrors every property change of the model and forwards user input
// (presses, list choices, scroll positions, typed text, timer ticks) to it;
// no reader logic lives here.
#pragma once
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>
#include <unordered_map>

#include "app/window_model.h"

class QMenu;
class QTimer;

namespace torvik::ui {

// The application's name as the desktop shows it.
inline constexpr const char* kApplicationTitle = "KELDO TORVIK Reader Config";

// Client area of the window at 96 dpi.
inline constexpr int kClientWidth = 621;
inline constexpr int kClientHeight = 579;

// A caption with "&" mnemonic markers as rich text for a label: the marker
// is dropped and the character after it underlined, "&&" is a plain "&",
// everything else is escaped and blanks are kept as typed.
QString MnemonicRichText(const QString& caption);

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

// The smallest pixel size a text is shrunk to so that it fits its control.
inline constexpr int kLegibleFloorPx = 10;

// A font of the layout at a pixel size.
QFont LayoutFont(int pixel_size, bool bold, int language = 0);

// The images drawn at start-up.
QIcon AppIcon();
QIcon MagnifierIcon();
// The close image of btnExit.
QIcon CloseIcon();
// 34 by 16 image of two red Chinese characters in the given CJK face.
QPixmap LanguageImage(const QString& text, const QString& cjk_family);

// A panel: a label with the border and colours of its visual style.
class Panel : public QLabel {
    Q_OBJECT
  public:
    enum class Style { Value, Status, Maker };
    Panel(Style style, QWidget* parent);
    Style style() const { return style_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Style style_;
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

// The link indicator (ellipse) and the card flash (rounded rectangle).
class ShapeWidget : public QWidget {
    Q_OBJECT
  public:
    enum class Shape { Ellipse, RoundRect };
    ShapeWidget(Shape shape, QWidget* parent);
    void set_color(const QColor& color);
    QColor color() const { return color_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Shape shape_;
    QColor color_ = Qt::white;
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

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(app::TfrmModule& form, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The widget of a control by its name; nullptr for the window itself,
    // the timers and unknown names.
    QWidget* widget(const std::string& name) const;
    template <class T>
    T* widget_as(const std::string& name) const {
        return qobject_cast<T*>(widget(name));
    }
    // The Qt timer that runs a model timer.
    QTimer* timer(const std::string& name) const;

    // Gives every widget the font families of the current language, keeping
    // each widget's pixel size and weight. Runs by itself whenever a caption
    // changes after a language switch.
    void refresh_language_fonts();
    int font_language() const { return font_language_; }

    // True while the model's window is disabled, and after it is enabled
    // again until the input that arrived meanwhile has been taken out of the
    // queue: mouse and keyboard input to this window is swallowed.
    bool input_blocked() const { return input_blocked_; }

    // Shrinks the font of a control's widget until its text fits (down to
    // kLegibleFloorPx); the layout's size when it fits at that.
    void fit_text(QWidget* w);

  protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The status panel's menu with the entry that copies the scan account
    // (pnMsg's tooltip) to the clipboard, opened at a point of the screen.
    QMenu* open_scan_account_menu(const QPoint& global_pos);
    QWidget* create_widget(app::Control& c);
    void style_widget(app::Control& c, QWidget* w);
    void connect_input(app::Control& c, QWidget* w);
    void mirror(app::Control& c, app::Prop prop);
    void mirror_all(app::Control& c);
    void set_input_blocked(bool blocked);
    void release_input();
    void place_on_screen();
    // Edit text as the model holds it (masked edits: the digits only).
    std::string edit_text(app::Control& c) const;

    app::TfrmModule& form_;
    std::unordered_map<const app::Control*, QWidget*> widgets_;
    std::unordered_map<std::string, QWidget*> by_name_;
    std::unordered_map<const app::Control*, QTimer*> timers_;
    std::unordered_map<std::string, QTimer*> timers_by_name_;
    int font_language_ = -1;
    bool shown_once_ = false;
    bool close_allowed_ = false;
    bool input_blocked_ = false;
    bool release_pending_ = false;
    bool releasing_ = false;
    std::unordered_map<const QWidget*, int> base_px_;  // the layout's pixel size
    bool placed_with_frame_ = false;
};

}  // namespace torvik::ui

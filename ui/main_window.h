// The main window frmModule rendered with Qt Widgets: one widget per model
// control, named like the control, at its place in the window layout. The
// window mirrors every property change of the model and forwards user input
// (presses, list choices, scroll positions, typed text, timer ticks) to it;
// no reader logic lives here.
#pragma once
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>
#include <unordered_map>

#include "app/window_model.h"

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

// Font families for a language: the Latin stand-ins for the layout's fonts
// first, then the CJK face whose glyph forms match the language (Simplified
// for 0 and 1, Traditional for 2), so Chinese text falls back to it.
QStringList FontFamilies(int language);

// A font of the layout at a pixel size.
QFont LayoutFont(int pixel_size, bool bold, int language = 0);

// The images drawn at start-up.
QIcon AppIcon();
QIcon MagnifierIcon();
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

    // True while the model's window is disabled: mouse and keyboard input
    // to this window is swallowed.
    bool input_blocked() const { return input_blocked_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* create_widget(app::Control& c);
    void style_widget(app::Control& c, QWidget* w);
    void connect_input(app::Control& c, QWidget* w);
    void mirror(app::Control& c, app::Prop prop);
    void mirror_all(app::Control& c);
    void set_input_blocked(bool blocked);
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
};

}  // namespace torvik::ui

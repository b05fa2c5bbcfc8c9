// SPDX-License-Identifier: MIT
// The main window frmModule rendered with Qt Widgets: one widget per model
// control, named like the control, made from the control's row of the
// layout table. The window mirrors every property change of the model and
// forwards user input (presses, list choices, scroll positions, typed text,
// timer ticks) to it; no reader logic lives here.
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <unordered_map>

#include "app/window_model.h"
#include "ui/input_gate.h"
#include "ui/layout_table.h"

class QMenu;
class QTimer;

namespace torvik::ui {

class FocusFrame;

// The application's name as the desktop shows it.
inline constexpr const char* kApplicationTitle = "KELDO TORVIK Reader Config";

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

    // Draws the whole layout at the largest scale (at most 1) at which the
    // window with its frame fits the available area, and places it there.
    void fit_within(const QRect& available, const QMargins& frame);
    double layout_scale() const { return scale_; }

    // Draws the window in a look (the usual one at first).
    void set_scheme(Scheme scheme);
    Scheme scheme() const { return scheme_; }

    // True while the model's window is disabled, and after it is enabled
    // again until the input that arrived meanwhile has been taken out of the
    // queue: mouse and keyboard input to this window is swallowed.
    bool input_blocked() const { return gate_.blocked(); }

  protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // A control's widget and the layout row it was made from.
    struct Bound {
        QWidget* widget;
        const LayoutRow* row;
    };

    // The scan account's menu (copies the hint of the control that carries
    // it to the clipboard), opened at a point of the screen.
    QMenu* open_scan_account_menu(const QPoint& global_pos);
    QWidget* create_widget(app::Control& c, const LayoutRow& row);
    void style_widget(const LayoutRow& row, QWidget* w);
    void connect_input(app::Control& c, QWidget* w);
    void mirror(app::Control& c, app::Prop prop);
    void mirror_all(app::Control& c);
    void fit_text(QWidget* w);
    void place_on_screen();
    // Accessible names in the language in force: from the window's own
    // table, from a control's caption label, and the lamps' states.
    void name_controls();
    void show_lamp_states();
    // Tells screen readers the status line's text again (an operation that
    // ended with the text it already showed, such as a refusal).
    void announce_status();
    // Edit text as the model holds it (masked edits: the digits only).
    std::string edit_text(app::Control& c) const;

    app::TfrmModule& form_;
    std::unordered_map<const app::Control*, Bound> widgets_;
    std::unordered_map<std::string, QWidget*> by_name_;
    std::unordered_map<const app::Control*, QTimer*> timers_;
    std::unordered_map<std::string, QTimer*> timers_by_name_;
    std::unordered_map<const QWidget*, int> base_px_;  // the layout's pixel size
    QPushButton* default_button_ = nullptr;
    app::Control* scan_account_ = nullptr;  // the control whose hint is the scan account
    QWidget* scan_account_widget_ = nullptr;
    QWidget* status_widget_ = nullptr;  // the status line, announced after every press
    unsigned status_changes_ = 0;
    FocusFrame* focus_frame_ = nullptr;
    // Cut in the destructor: QWidget's own destructor closes the window,
    // which moves the focus while this class is already gone.
    QMetaObject::Connection focus_follow_;
    // Caption labels seen only by screen readers, for lists without a
    // caption of their own.
    std::unordered_map<const QWidget*, QLabel*> hidden_captions_;
    InputGate gate_{this};
    int font_language_ = -1;
    bool shown_once_ = false;
    bool close_allowed_ = false;
    bool placed_with_frame_ = false;
    double scale_ = 1.0;
    Scheme scheme_ = Scheme::Usual;
    void set_layout_scale(double scale);
};

}  // namespace torvik::ui

// SPDX-License-Identifier: MIT
#include "ui/main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <limits>
#include <string_view>

#include "app/diagnostics.h"
#include "ui/accessibility.h"
#include "ui/fonts_icons.h"
#include "ui/text_fit.h"
#include "ui/widgets.h"
#include "ui/window_states.h"

namespace torvik::ui {

using app::Control;
using app::Kind;
using app::Prop;

namespace {

// A caption as the name of the control it labels: as shown, without the
// colon that ends it.
QString name_from_caption(const std::string& caption) {
    QString name = PlainCaption(DisplayText(caption)).trimmed();
    while (name.endsWith(u':') || name.endsWith(QChar(0xFF1A))) name.chop(1);
    return name.trimmed();
}

QColor to_qcolor(app::Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// Control names are ASCII.
QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

// The layout's edit mask ("!9999;1;_": optional digits, literals kept,
// blank shown as "_") in Qt's notation, where an optional digit is "0" and
// a required one "9".
QString qt_input_mask(const std::string& layout_mask) {
    std::string_view m = layout_mask;
    char blank = '_';
    if (const size_t last = m.rfind(';'); last != std::string_view::npos && last + 1 < m.size()) {
        blank = m[last + 1];
    }
    m = m.substr(0, m.find(';'));
    QString out;
    for (char ch : m) {
        switch (ch) {
            case '!':
                break;
            case '9':
                out += QLatin1Char('0');
                break;
            case '0':
                out += QLatin1Char('9');
                break;
            default:
                out += QLatin1Char('\\');
                out += QLatin1Char(ch);
        }
    }
    return out + QLatin1Char(';') + QLatin1Char(blank);
}

}  // namespace

MainWindow::MainWindow(app::TfrmModule& form, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
      form_(form) {
    setObjectName(QStringLiteral("frmModule"));
    setFixedSize(kClientWidth, kClientHeight);
    // The application's icon, where the program has set one, is the
    // window's too.
    if (QApplication::windowIcon().isNull()) setWindowIcon(AppIcon());
    QPalette pal = palette();
    SetWindowColours(pal);
    setPalette(pal);
    InstallAccessibleFactory();
    SetAccess(this, Access::Window);
    // Every widget gets the families of the language in force from the
    // start, so the first captions need no second pass over the fonts.
    font_language_ = form_.state.language;
    setFont(LayoutFont(kWindowFontPx, true, font_language_));

    for (Control* c : form_.controls()) {
        if (c->kind() == Kind::Timer) {
            auto* t = new QTimer(this);
            t->setObjectName(qstr(c->name()));
            connect(t, &QTimer::timeout, this, [this, c] { form_.tick(*c); });
            timers_[c] = t;
            timers_by_name_[c->name()] = t;
            continue;
        }
        // The window itself has no row: it is this widget.
        const LayoutRow* row = LayoutRowOf(c->name());
        if (row == nullptr) continue;
        QWidget* w = create_widget(*c, *row);
        widgets_[c] = {w, row};
        by_name_[c->name()] = w;
        style_widget(*row, w);
        connect_input(*c, w);
        if (row->access != Access::Own) SetAccess(w, row->access);
        if (row->access == Access::StatusLine) status_widget_ = w;
        if (Has(row->behaviour, Behaviour::NoKeyboardFocus)) w->setFocusPolicy(Qt::NoFocus);
        if (Has(row->behaviour, Behaviour::DefaultButton)) {
            // Drawn as such; Enter presses it (see keyPressEvent).
            default_button_ = qobject_cast<QPushButton*>(w);
            if (default_button_) default_button_->setDefault(true);
        }
        if (Has(row->behaviour, Behaviour::ScanAccountMenu)) {
            scan_account_ = c;
            scan_account_widget_ = w;
        }
    }

    // A caption label points at the control it names (screen readers read
    // it as the control's label).
    for (const auto& [control, bound] : widgets_) {
        if (!bound.row->label.empty()) {
            if (auto* label = qobject_cast<QLabel*>(widget(std::string(bound.row->label))))
                label->setBuddy(bound.widget);
        } else if (control->kind() == Kind::List && bound.row->spoken != Spoken::None) {
            auto* caption = new QLabel(bound.widget->parentWidget());
            caption->setObjectName(qstr(control->name() + "Caption"));
            caption->hide();
            caption->setBuddy(bound.widget);
            hidden_captions_[bound.widget] = caption;
        }
    }

    // The keyboard focus is always seen: a frame goes around the control
    // that has it.
    focus_frame_ = new FocusFrame(this);
    focus_frame_->set_color(FocusColour());
    focus_follow_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        focus_frame_->follow(now != nullptr && now != this && now->window() == this ? now
                                                                                     : nullptr);
    });

    // Tab order follows the order of the controls.
    QWidget* previous = nullptr;
    for (Control* c : form_.controls()) {
        auto it = widgets_.find(c);
        if (it == widgets_.end() || !(it->second.widget->focusPolicy() & Qt::TabFocus)) continue;
        if (previous) QWidget::setTabOrder(previous, it->second.widget);
        previous = it->second.widget;
    }

    // The scan account in its panel's tooltip can be copied from a context
    // menu of the panel; the context-menu key and Shift+F10 open it from
    // wherever the focus is (see contextMenuEvent).
    if (QWidget* panel = scan_account_widget_) {
        panel->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(panel, &QWidget::customContextMenuRequested, this, [this, panel](const QPoint& at) {
            open_scan_account_menu(panel->mapToGlobal(at));
        });
    }

    form_.observer = [this](Control& c, Prop prop) { mirror(c, prop); };
    form_.close_window = [this] {
        close_allowed_ = true;
        close();
    };
    for (Control* c : form_.controls()) mirror_all(*c);
    if (font_language_ != form_.state.language) refresh_language_fonts();
    name_controls();
}

MainWindow::~MainWindow() {
    disconnect(focus_follow_);
    form_.observer = nullptr;
    form_.close_window = nullptr;
}

QWidget* MainWindow::widget(const std::string& name) const {
    auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
}

QTimer* MainWindow::timer(const std::string& name) const {
    auto it = timers_by_name_.find(name);
    return it == timers_by_name_.end() ? nullptr : it->second;
}

QWidget* MainWindow::create_widget(Control& c, const LayoutRow& row) {
    QWidget* parent = row.parent.empty() ? nullptr : widget(std::string(row.parent));
    if (parent == nullptr) parent = this;
    QWidget* w = nullptr;
    switch (c.kind()) {
        case Kind::Panel:
            w = new Panel(row.look, parent);
            break;
        case Kind::Label: {
            auto* l = new QLabel(parent);
            l->setTextFormat(Qt::RichText);
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            w = l;
            break;
        }
        case Kind::Button:
        case Kind::ImageButton: {
            auto* b = new QPushButton(parent);
            b->setAutoDefault(false);
            w = b;
            break;
        }
        case Kind::LargeButton:
            w = new LargeButton(parent);
            break;
        case Kind::List: {
            auto* cb = new ListBox(parent);
            cb->setEditable(false);
            for (const std::string& item : c.items()) cb->addItem(DisplayText(item));
            w = cb;
            break;
        }
        case Kind::ScrollBar: {
            auto* sb = new ScrollBar(parent);
            sb->setRange(c.min(), c.max());
            sb->setSingleStep(1);
            sb->setPageStep(c.large_step());
            sb->setFocusPolicy(Qt::StrongFocus);
            w = sb;
            break;
        }
        case Kind::CheckBox:
            w = new QCheckBox(parent);
            break;
        case Kind::Shape:
            w = new ShapeWidget(row.shape, parent);
            break;
        case Kind::Edit:
        case Kind::MaskedEdit: {
            auto* e = new QLineEdit(parent);
            if (c.kind() == Kind::MaskedEdit && !c.edit_mask.empty()) {
                e->setInputMask(qt_input_mask(c.edit_mask));
            } else {
                // Without a limit in the model the box takes any length
                // (Qt's own default would cut it at 32767 characters).
                e->setMaxLength(c.max_length > 0 ? c.max_length : std::numeric_limits<int>::max());
                // One byte on the wire per character typed.
                e->setValidator(new Latin1Validator(e));
            }
            e->setReadOnly(c.read_only);
            w = e;
            break;
        }
        case Kind::GroupBox: {
            auto* g = new GroupBox(parent);
            g->setFlat(false);
            w = g;
            break;
        }
        case Kind::Window:
        case Kind::Timer:
            break;
    }
    w->setObjectName(qstr(c.name()));
    w->setGeometry(row.place.x, row.place.y, row.place.width, row.place.height);
    return w;
}

void MainWindow::style_widget(const LayoutRow& row, QWidget* w) {
    const LookFont font = FontOf(row.look);
    // The window's own font (16 px bold) is inherited; setting it again
    // would only send a font change through the widget (a list box would
    // build its popup for it).
    if (font.pixel_size != kWindowFontPx || !font.bold)
        w->setFont(LayoutFont(font.pixel_size, font.bold, font_language_));
    base_px_[w] = font.pixel_size;
    QPalette pal = w->palette();
    if (SetLookColours(row.look, pal)) w->setPalette(pal);
    if (auto* button = qobject_cast<QPushButton*>(w); button && row.icon != Icon::None) {
        const ButtonImage image = ButtonImageOf(row.icon);
        button->setIcon(image.icon);
        button->setIconSize(image.size);
    }
}

void MainWindow::connect_input(Control& c, QWidget* w) {
    Control* ctl = &c;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        connect(b, &QPushButton::clicked, this, [this, ctl] {
            const unsigned before = status_changes_;
            form_.press(*ctl);
            // What the operation ended with is heard even when the text
            // stayed the same (a refusal, a second success).
            if (status_changes_ == before) announce_status();
        });
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        connect(cb, &QComboBox::currentIndexChanged, this, [this, ctl, cb](int index) {
            form_.user_set_index(*ctl, index);
            if (ctl->index() != cb->currentIndex()) mirror(*ctl, Prop::Index);
        });
    } else if (auto* sb = qobject_cast<QScrollBar*>(w)) {
        connect(sb, &QScrollBar::valueChanged, this, [this, ctl, sb](int value) {
            form_.user_set_position(*ctl, value);
            if (ctl->position() != sb->value()) mirror(*ctl, Prop::Position);
        });
    } else if (auto* ch = qobject_cast<QCheckBox*>(w)) {
        connect(ch, &QCheckBox::toggled, this, [this, ctl, ch](bool on) {
            form_.user_set_checked(*ctl, on);
            if (ctl->checked() != ch->isChecked()) mirror(*ctl, Prop::Checked);
        });
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        connect(e, &QLineEdit::textEdited, this, [this, ctl] {
            form_.user_set_text(*ctl, edit_text(*ctl));
            if (edit_text(*ctl) != ctl->text()) mirror(*ctl, Prop::Caption);
        });
    }
}

std::string MainWindow::edit_text(Control& c) const {
    const auto it = widgets_.find(&c);
    auto* e = it == widgets_.end() ? nullptr : qobject_cast<QLineEdit*>(it->second.widget);
    if (!e) return {};
    const QString text = e->text();
    if (c.kind() != Kind::MaskedEdit) return ModelText(text);
    // The model holds the digits only, never the mask's blanks.
    std::string digits;
    for (QChar ch : text) {
        if (ch >= u'0' && ch <= u'9') digits.push_back(static_cast<char>(ch.unicode()));
    }
    return digits;
}

void MainWindow::mirror_all(Control& c) {
    if (c.kind() == Kind::Timer) {
        mirror(c, Prop::Enabled);
        return;
    }
    for (Prop p :
         {Prop::Caption, Prop::Enabled, Prop::Index, Prop::Position, Prop::Checked, Prop::Color})
        mirror(c, p);
    if (!c.visible()) mirror(c, Prop::Visible);
}

void MainWindow::mirror(Control& c, Prop prop) {
    if (c.kind() == Kind::Window) {
        if (prop == Prop::Caption) setWindowTitle(DisplayText(c.caption()));
        if (prop == Prop::Enabled) gate_.set_blocked(!c.enabled());
        return;
    }
    if (c.kind() == Kind::Timer) {
        QTimer* t = timers_.at(&c);
        if (prop != Prop::Enabled) return;
        // The model reports only changes, so a running timer keeps its phase.
        if (c.enabled()) {
            if (!t->isActive()) t->start(c.interval_ms);
        } else {
            t->stop();
        }
        // The busy blinker's run is the link indicator's busy state.
        if (&c == &form_.tmrBusy) show_lamp_states();
        return;
    }
    auto it = widgets_.find(&c);
    if (it == widgets_.end()) return;
    QWidget* w = it->second.widget;
    const LayoutRow& row = *it->second.row;
    const QSignalBlocker blocker(w);
    switch (prop) {
        case Prop::Caption:
            if (auto* l = qobject_cast<QLabel*>(w)) {
                const QString caption = DisplayText(c.caption());
                // Rich text only where a mnemonic is to be underlined: plain
                // labels are much cheaper to lay out and paint.
                if (caption.contains(u'&')) {
                    l->setTextFormat(Qt::RichText);
                    l->setText(MnemonicRichText(caption));
                } else {
                    l->setTextFormat(Qt::PlainText);
                    l->setText(caption);
                }
                // A text that may have to shrink: the tooltip holds the
                // whole of it.
                if (Has(row.behaviour, Behaviour::WholeTextTooltip)) {
                    const QString hint = DisplayText(c.hint());
                    l->setToolTip(hint.isEmpty() ? PlainCaption(caption)
                                                 : PlainCaption(caption) + u'\n' + hint);
                }
            } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
                if (edit_text(c) != c.text()) {
                    const int cursor = e->cursorPosition();
                    e->setText(DisplayText(c.text()));
                    e->setCursorPosition(std::min(cursor, static_cast<int>(e->text().size())));
                }
            } else if (auto* b = qobject_cast<QPushButton*>(w);
                       b && c.kind() != Kind::ImageButton) {
                b->setText(DisplayText(c.caption()));
            }
            if (w == status_widget_) ++status_changes_;
            if (form_.state.language != font_language_) {
                refresh_language_fonts();
            } else {
                fit_text(w);
            }
            // A caption label's text is the name of the control it labels.
            if (c.kind() == Kind::Label) name_controls();
            break;
        case Prop::Enabled:
            w->setEnabled(c.enabled());
            break;
        case Prop::Visible:
            w->setVisible(c.visible());
            if (focus_frame_ != nullptr && focus_frame_->target() == w) focus_frame_->follow(w);
            break;
        case Prop::Index:
            if (auto* cb = qobject_cast<QComboBox*>(w)) cb->setCurrentIndex(c.index());
            break;
        case Prop::Position:
            if (auto* sb = qobject_cast<QScrollBar*>(w)) sb->setValue(c.position());
            break;
        case Prop::Checked:
            if (auto* ch = qobject_cast<QCheckBox*>(w)) ch->setChecked(c.checked());
            break;
        case Prop::Color:
            if (auto* s = qobject_cast<ShapeWidget*>(w)) s->set_color(to_qcolor(c.color()));
            show_lamp_states();
            break;
        case Prop::Hint:
            if (Has(row.behaviour, Behaviour::WholeTextTooltip)) {
                mirror(c, Prop::Caption);
            } else {
                w->setToolTip(DisplayText(c.hint()));
            }
            break;
    }
}

void MainWindow::refresh_language_fonts() {
    font_language_ = form_.state.language;
    const auto apply = [this](QWidget* w) {
        QFont f = w->font();
        SetLanguageFamilies(f, font_language_);
        w->setFont(f);
    };
    apply(this);
    for (auto& [control, bound] : widgets_) {
        apply(bound.widget);
        fit_text(bound.widget);
    }
    name_controls();
}

void MainWindow::name_controls() {
    const int language = form_.state.language;
    for (const auto& [control, bound] : widgets_) {
        const LayoutRow& row = *bound.row;
        QString name;
        if (row.access == Access::LinkState || row.access == Access::LampState) {
            continue;  // named with their state
        } else if (row.spoken != Spoken::None) {
            name = DisplayText(std::string(SpokenText(row.spoken, language)));
        } else if (!row.label.empty()) {
            if (const Control* label = form_.find(std::string(row.label)))
                name = name_from_caption(label->caption());
        }
        if (!name.isEmpty() && bound.widget->accessibleName() != name)
            bound.widget->setAccessibleName(name);  // tells screen readers
        if (const auto caption = hidden_captions_.find(bound.widget);
            caption != hidden_captions_.end() && caption->second->text() != name) {
            caption->second->setText(name);
        }
    }
    show_lamp_states();
}

void MainWindow::show_lamp_states() {
    const int language = form_.state.language;
    for (const auto& [control, bound] : widgets_) {
        auto* lamp = qobject_cast<ShapeWidget*>(bound.widget);
        if (lamp == nullptr) continue;
        Spoken state = Spoken::None;
        bool busy = false;
        if (bound.row->access == Access::LinkState) {
            busy = form_.tmrBusy.enabled();
            state = busy                                 ? Spoken::Busy
                    : control->color() == app::kYellow ? Spoken::ReaderFound
                                                       : Spoken::Failed;
        } else if (bound.row->access == Access::LampState) {
            state = control->color() == app::kWhite ? Spoken::LampOff : Spoken::LampLit;
        } else {
            continue;
        }
        if (lamp->busy() != busy) {
            lamp->set_busy(busy);
            QAccessible::State changed;
            changed.busy = true;
            QAccessibleStateChangeEvent event(lamp, changed);
            QAccessible::updateAccessibility(&event);
        }
        const QString name = DisplayText(NameWithState(bound.row->spoken, state, language));
        if (lamp->accessibleName() != name) lamp->setAccessibleName(name);
    }
}

void MainWindow::announce_status() {
    if (status_widget_ == nullptr) return;
    QAccessibleEvent event(status_widget_, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void MainWindow::fit_text(QWidget* w) {
    const auto base = base_px_.find(w);
    if (base != base_px_.end()) FitText(w, static_cast<int>(std::lround(base->second * scale_)));
}

void MainWindow::set_layout_scale(double scale) {
    if (scale == scale_) return;
    scale_ = scale;
    const auto px = [scale](int layout_px) {
        return std::max(1, static_cast<int>(std::lround(layout_px * scale)));
    };
    setFixedSize(px(kClientWidth), px(kClientHeight));
    QFont window_font = font();
    window_font.setPixelSize(px(kWindowFontPx));
    setFont(window_font);
    for (auto& [control, bound] : widgets_) {
        const Place& p = bound.row->place;
        bound.widget->setGeometry(ScaledPlace(p.x, p.y, p.width, p.height, scale));
        const int base = base_px_[bound.widget];
        if (bound.widget->testAttribute(Qt::WA_SetFont)) {
            QFont f = bound.widget->font();
            f.setPixelSize(px(base));
            bound.widget->setFont(f);
        }
        if (auto* button = qobject_cast<QPushButton*>(bound.widget);
            button && bound.row->icon != Icon::None) {
            button->setIconSize(ButtonImageOf(bound.row->icon).size * scale);
        }
        fit_text(bound.widget);
    }
    if (focus_frame_ != nullptr) focus_frame_->follow(focus_frame_->target());
}

void MainWindow::set_scheme(Scheme scheme) {
    if (scheme == scheme_) return;
    scheme_ = scheme;
    QPalette window_colours = QApplication::palette();
    SetWindowColours(window_colours, scheme);
    setPalette(window_colours);
    for (auto& [control, bound] : widgets_) {
        QPalette own = window_colours;
        // A look without colours of its own inherits the window's again.
        bound.widget->setPalette(SetLookColours(bound.row->look, own, scheme) ? own : QPalette());
        if (auto* button = qobject_cast<QPushButton*>(bound.widget);
            button && bound.row->icon != Icon::None) {
            button->setIcon(ButtonImageOf(bound.row->icon, scheme).icon);
        }
    }
    focus_frame_->set_color(FocusColour(scheme));
}

void MainWindow::fit_within(const QRect& available, const QMargins& frame) {
    set_layout_scale(FitScale(available, frame, QSize(kClientWidth, kClientHeight)));
    move(WindowPlacement(available, size().grownBy(frame)));
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_once_) return;
    shown_once_ = true;
    // Neither maximized nor full-screen, whoever asks.
    if (QWindow* handle = windowHandle()) new FixedSizeStates(handle);
    place_on_screen();
    form_.dispatch([this] { form_.FormShow(); });
    if (font_language_ != form_.state.language) refresh_language_fonts();
    if (default_button_) default_button_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::place_on_screen() {
    QScreen* s = screen();
    if (!s) return;
    // The title bar counts: a window taller than the screen keeps its title
    // bar (and so its move handle) at the top of the available area.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    placed_with_frame_ = !frame.isNull();
    // At a large desktop scale the layout may not fit: it is drawn smaller.
    fit_within(s->availableGeometry(), frame);
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The window manager tells the frame's size only once the window is
    // mapped; place the window once more with it.
    if (shown_once_ && !placed_with_frame_ && windowHandle() &&
        !windowHandle()->frameMargins().isNull()) {
        place_on_screen();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The title bar offers no working close command: only btnExit closes.
    if (close_allowed_) {
        event->accept();
    } else {
        event->ignore();
    }
}

QMenu* MainWindow::open_scan_account_menu(const QPoint& global_pos) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mnuScanAccount"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QFont f = menu->font();
    f.setFamilies(FontFamilies(form_.state.language));
    menu->setFont(f);
    QAction* copy = menu->addAction(DisplayText(app::CopyScanAccountCaption(form_.state.language)));
    // Before the first scan there is no account to copy.
    copy->setEnabled(!scan_account_->hint().empty());
    connect(copy, &QAction::triggered, this, [this] {
        const QString account = DisplayText(scan_account_->hint());
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(account, QClipboard::Clipboard);
        // X11 pastes the selection with the middle button, in a terminal too.
        if (clipboard->supportsSelection()) clipboard->setText(account, QClipboard::Selection);
    });
    menu->popup(global_pos);
    return menu;
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // The context-menu key (and Shift+F10) on a control without a menu of
    // its own: the scan account's menu, below its panel. A right click
    // beside the controls opens nothing.
    QWidget* panel = scan_account_widget_;
    if (event->reason() != QContextMenuEvent::Keyboard || panel == nullptr || !panel->isVisible()) {
        event->ignore();
        return;
    }
    open_scan_account_menu(panel->mapToGlobal(QPoint(0, panel->height())));
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F10 &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier) {
        // Shift+F10 does what the context-menu key does: the focused control
        // gets the menu request, an edit shows its own menu, and the others
        // pass it to the window.
        QWidget* target = focusWidget() ? focusWidget() : this;
        const QPoint local = target->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, local, target->mapToGlobal(local),
                                  Qt::NoModifier);
        QCoreApplication::sendEvent(target, &request);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter presses the focused button, or the default button.
        auto* target = qobject_cast<QPushButton*>(focusWidget());
        if (!target) target = default_button_;
        if (target && target->isEnabled()) target->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace torvik::ui

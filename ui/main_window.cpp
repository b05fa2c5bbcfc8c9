// SPDX-License-Identifier: MIT
#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QWindow>
#include <array>
#include <limits>
#include <string_view>

#include "app/diagnostics.h"
#include "ui/language_images.h"
#include "ui/text_fit.h"

namespace torvik::ui {

using app::Control;
using app::Kind;
using app::Prop;

namespace {

// ---- window layout: place of every control relative to its parent ----

struct Place {
    std::string_view name;
    int x, y, w, h;
};

constexpr std::array kPlaces = {
    Place{"gbDefault", 360, 4, 257, 477},
    Place{"pnMsg", 8, 4, 345, 40},
    Place{"shComm", 310, 8, 23, 20},
    Place{"pnSerial", 8, 48, 169, 28},
    Place{"pnVersion", 184, 48, 169, 28},
    Place{"btnScan", 8, 78, 345, 35},
    Place{"lblID", 8, 125, 49, 22},
    Place{"pnID", 64, 122, 33, 25},
    Place{"sbID", 104, 123, 249, 23},
    Place{"btnID", 8, 150, 345, 33},
    Place{"lblBaudRate", 8, 197, 145, 22},
    Place{"cmbBaudRate", 160, 192, 171, 28},
    Place{"chkLock", 336, 196, 17, 17},
    Place{"btnBaudRate", 8, 222, 345, 33},
    Place{"cmbMode", 8, 264, 99, 28},
    Place{"cmbWiegand", 112, 264, 123, 28},
    Place{"cmbRS485", 240, 264, 115, 28},
    Place{"btnMode", 8, 294, 345, 33},
    Place{"cmbCardType", 8, 336, 169, 28},
    Place{"btnCardType", 184, 334, 169, 33},
    Place{"pnFacility", 8, 378, 65, 25},
    Place{"sbFacility", 80, 379, 97, 23},
    Place{"btnFacility", 184, 374, 169, 33},
    Place{"lblFingerNo", 8, 421, 81, 22},
    Place{"pnFingerNo", 96, 418, 81, 25},
    Place{"sbFingerNo", 184, 419, 169, 23},
    Place{"btnAdd", 8, 446, 169, 33},
    Place{"btnDel", 184, 446, 169, 33},
    Place{"shCard", 10, 491, 29, 20},
    Place{"pnDI", 46, 488, 25, 28},
    Place{"pnCardID", 72, 488, 283, 28},
    Place{"btnReadCard", 8, 520, 305, 33},
    Place{"btnEncode", 320, 520, 33, 33},
    Place{"btnFactory", 12, 24, 229, 65},
    Place{"btnStand", 12, 96, 229, 65},
    Place{"btnDoor", 16, 170, 153, 31},
    Place{"edDoor", 176, 171, 65, 28},
    Place{"btnAlarm", 16, 208, 153, 33},
    Place{"edAlarm", 176, 211, 65, 28},
    Place{"btnSetCard", 16, 248, 225, 33},
    Place{"btnDuress", 16, 288, 225, 33},
    Place{"btnClrCard", 16, 328, 225, 33},
    Place{"btnStandDefault", 16, 368, 225, 57},
    Place{"btnEng", 360, 488, 81, 24},
    Place{"btnGB", 448, 488, 81, 24},
    Place{"btnBIG5", 536, 488, 81, 24},
    Place{"btnExit", 360, 520, 257, 33},
    Place{"pnKELDO", 2, 557, 615, 21},
    // Service controls, beyond the right edge of the client area.
    Place{"lblCard", 672, 21, 81, 22},
    Place{"pnCard", 760, 18, 81, 25},
    Place{"sbCard", 847, 19, 90, 23},
    Place{"lblCardID", 672, 69, 129, 22},
    Place{"edCard", 816, 64, 121, 28},
    Place{"btnAddCard", 671, 102, 130, 33},
    Place{"btnGetCard", 816, 102, 129, 33},
    Place{"edCRRev", 672, 168, 273, 28},
    Place{"edCRCmd", 672, 208, 185, 28},
    Place{"btnCRCmd", 864, 206, 81, 33},
    Place{"btnGetTemplate", 672, 286, 273, 33},
    Place{"btnPutTemplate", 671, 326, 273, 33},
    Place{"edF1", 672, 368, 273, 21},
    Place{"edF2", 672, 392, 273, 21},
    Place{"edF3", 672, 416, 273, 21},
};

const Place* place_of(std::string_view name) {
    for (const Place& p : kPlaces) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

// ---- visual styles ----

enum class Look {
    Default,
    Value,
    Status,
    FieldLabel,
    Large,
    Maker,
    LanguageText,
    LanguageImage,
    SmallEdit
};

Look look_of(const Control& c) {
    const std::string& n = c.name();
    if (n == "pnMsg") return Look::Status;
    if (n == "pnKELDO") return Look::Maker;
    if (n == "btnEng") return Look::LanguageText;
    if (n == "edF1" || n == "edF2" || n == "edF3") return Look::SmallEdit;
    switch (c.kind()) {
        case Kind::Panel:
        case Kind::List:
            return Look::Value;
        case Kind::Label:
            return Look::FieldLabel;
        case Kind::LargeButton:
            return Look::Large;
        case Kind::ImageButton:
            return Look::LanguageImage;
        default:
            return Look::Default;
    }
}

// The window's font, which most controls inherit.
constexpr int kWindowFontPx = 16;

struct FontLook {
    int pixel_size;
    bool bold;
};

FontLook font_of(Look look) {
    switch (look) {
        case Look::FieldLabel:
        case Look::LanguageText:
            return {13, false};
        case Look::Large:
            return {19, true};
        case Look::Maker:
        case Look::SmallEdit:
            return {11, false};
        default:
            return {16, true};
    }
}

QColor highlight_color() {
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

// Qt has no role for the title bar of the active window; a darker shade of
// the selection colour stands for it, so it follows the desktop theme.
QColor active_caption_color() {
    return highlight_color().darker(150);
}

constexpr QColor kMakerPurple{128, 0, 128};

QColor to_qcolor(app::Rgb c) {
    return QColor(c.r, c.g, c.b);
}

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

// ---- captions, fonts, images ----

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

QString LatinFamily() {
    static const QString family = [] {
        const QString wanted = QStringLiteral("Liberation Sans");
        if (QFontDatabase::families().contains(wanted)) return wanted;
        // Not known to fontconfig: the files of fonts-liberation2 directly.
        const char* const kFiles[] = {
            "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
            "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf",
        };
        QString loaded;
        for (const char* file : kFiles) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            const QStringList names = QFontDatabase::applicationFontFamilies(id);
            if (loaded.isEmpty() && !names.isEmpty()) loaded = names.first();
        }
        if (!loaded.isEmpty()) return loaded;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QStringList FontFamilies(int language) {
    // The CJK face comes last so only characters the Latin face lacks are
    // taken from it.
    return {LatinFamily(), language == 2 ? QStringLiteral("Noto Sans CJK TC")
                                         : QStringLiteral("Noto Sans CJK SC")};
}

namespace {

// Qt keeps one fallback chain per installed primary family and font
// attributes, without regard to the fallback families asked for: the first
// language to lay out text would fix the CJK face for all the others. A
// style strategy of its own per CJK face (no visible effect with scalable
// fonts) keeps the chains of Simplified and Traditional apart.
QFont::StyleStrategy strategy_for(int language) {
    return language == 2 ? QFont::PreferOutline : QFont::PreferDefault;
}

void set_language_families(QFont& f, int language) {
    f.setFamilies(FontFamilies(language));
    f.setStyleStrategy(strategy_for(language));
}

}  // namespace

QFont LayoutFont(int pixel_size, bool bold, int language) {
    QFont f;
    set_language_families(f, language);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixel_size);
    f.setBold(bold);
    return f;
}

QIcon AppIcon() {
    // A wall reader with a card held in front of it.
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 48), 2));
    p.setBrush(QColor(70, 74, 88));
    p.drawRoundedRect(QRectF(14, 4, 30, 54), 6, 6);
    p.setBrush(QColor(20, 20, 24));
    p.drawRoundedRect(QRectF(19, 10, 20, 12), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 200, 60));
    p.drawEllipse(QPointF(29, 50), 3, 3);
    p.setPen(QPen(QColor(20, 60, 120), 2));
    p.setBrush(QColor(120, 180, 240));
    p.drawRoundedRect(QRectF(30, 26, 30, 20), 3, 3);
    p.setPen(QPen(QColor(255, 255, 255), 2));
    p.drawLine(QPointF(35, 32), QPointF(52, 32));
    p.drawLine(QPointF(35, 38), QPointF(46, 38));
    p.end();
    return QIcon(pm);
}

QIcon MagnifierIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14.5, 14.5));
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(QPointF(6.5, 6.5), 4.8, 4.8);
    p.end();
    return QIcon(pm);
}

QIcon CloseIcon() {
    // A dark cross, drawn rather than taken from the style's image files.
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pm(16 * scale, 16 * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap LanguageImage(const QString& text, const QString& cjk_family) {
    QPixmap pm(34, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f;
    f.setFamilies({cjk_family});
    f.setPixelSize(15);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::red);
    p.drawText(pm.rect(), Qt::AlignCenter, text);
    p.end();
    return pm;
}

// ---- custom widgets ----

Panel::Panel(Style style, QWidget* parent) : QLabel(parent), style_(style) {
    setTextFormat(Qt::RichText);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    setFrameShape(QFrame::NoFrame);
    if (style == Style::Status) {
        // Border, its one-pixel width, the bevel; on the right the link
        // indicator sits over the panel.
        // One line, never a hidden second one: a long text gets a smaller
        // font instead (MainWindow::fit_text).
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
    if (style_ == Style::Status) {
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

ShapeWidget::ShapeWidget(Shape shape, QWidget* parent) : QWidget(parent), shape_(shape) {}

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

// ---- the window ----

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
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    // Every widget gets the families of the language in force from the
    // start, so the first captions need no second pass over the fonts.
    font_language_ = form_.state.language;
    setFont(LayoutFont(kWindowFontPx, true, font_language_));

    for (Control* c : form_.controls()) {
        if (c->kind() == Kind::Window) continue;
        if (c->kind() == Kind::Timer) {
            auto* t = new QTimer(this);
            t->setObjectName(qstr(c->name()));
            connect(t, &QTimer::timeout, this, [this, c] { form_.tick(*c); });
            timers_[c] = t;
            timers_by_name_[c->name()] = t;
            continue;
        }
        QWidget* w = create_widget(*c);
        widgets_[c] = w;
        by_name_[c->name()] = w;
        style_widget(*c, w);
        connect_input(*c, w);
    }

    // Tab order follows the order of the controls; btnScan is the first
    // control that takes the focus.
    QWidget* previous = nullptr;
    for (Control* c : form_.controls()) {
        auto it = widgets_.find(c);
        if (it == widgets_.end() || !(it->second->focusPolicy() & Qt::TabFocus)) continue;
        if (previous) QWidget::setTabOrder(previous, it->second);
        previous = it->second;
    }

    // The scan account in pnMsg's tooltip can be copied from a context menu
    // of the panel; the context-menu key and Shift+F10 open it from
    // wherever the focus is (see contextMenuEvent).
    if (QWidget* msg = widget("pnMsg")) {
        msg->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(msg, &QWidget::customContextMenuRequested, this,
                [this, msg](const QPoint& at) { open_scan_account_menu(msg->mapToGlobal(at)); });
    }

    form_.observer = [this](Control& c, Prop prop) { mirror(c, prop); };
    form_.close_window = [this] {
        close_allowed_ = true;
        close();
    };
    for (Control* c : form_.controls()) mirror_all(*c);
    if (font_language_ != form_.state.language) refresh_language_fonts();
}

MainWindow::~MainWindow() {
    form_.observer = nullptr;
    form_.close_window = nullptr;
    if (input_blocked_) qApp->removeEventFilter(this);
}

QWidget* MainWindow::widget(const std::string& name) const {
    auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
}

QTimer* MainWindow::timer(const std::string& name) const {
    auto it = timers_by_name_.find(name);
    return it == timers_by_name_.end() ? nullptr : it->second;
}

QWidget* MainWindow::create_widget(Control& c) {
    QWidget* parent = this;
    if (c.parent() != nullptr) {
        if (auto it = widgets_.find(c.parent()); it != widgets_.end()) parent = it->second;
    }
    QWidget* w = nullptr;
    switch (c.kind()) {
        case Kind::Panel: {
            const Look look = look_of(c);
            w = new Panel(look == Look::Status  ? Panel::Style::Status
                          : look == Look::Maker ? Panel::Style::Maker
                                                : Panel::Style::Value,
                          parent);
            break;
        }
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
            w = new ShapeWidget(
                c.name() == "shComm" ? ShapeWidget::Shape::Ellipse : ShapeWidget::Shape::RoundRect,
                parent);
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
    if (const Place* p = place_of(c.name())) w->setGeometry(p->x, p->y, p->w, p->h);
    return w;
}

void MainWindow::style_widget(Control& c, QWidget* w) {
    const Look look = look_of(c);
    const FontLook font = font_of(look);
    // The window's own font (16 px bold) is inherited; setting it again
    // would only send a font change through the widget (a list box would
    // build its popup for it).
    if (font.pixel_size != kWindowFontPx || !font.bold)
        w->setFont(LayoutFont(font.pixel_size, font.bold, font_language_));
    base_px_[w] = font.pixel_size;
    QPalette pal = w->palette();
    bool own_palette = true;
    switch (look) {
        case Look::Value: {
            const QColor bg = highlight_color();
            for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
                pal.setColor(role, bg);
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                pal.setColor(role, Qt::yellow);
            break;
        }
        case Look::Status:
            pal.setColor(QPalette::Window, active_caption_color());
            pal.setColor(QPalette::WindowText, Qt::white);
            break;
        case Look::Maker:
            pal.setColor(QPalette::Window, kMakerPurple);
            pal.setColor(QPalette::WindowText, Qt::white);
            break;
        case Look::LanguageText:
            pal.setColor(QPalette::ButtonText, Qt::red);
            break;
        default:
            // The window's colours, inherited.
            own_palette = false;
            break;
    }
    if (own_palette) w->setPalette(pal);

    auto* button = qobject_cast<QPushButton*>(w);
    if (c.name() == "btnScan") {
        button->setIcon(MagnifierIcon());
        button->setIconSize(QSize(16, 16));
        // The default button: drawn as such, and Enter presses it.
        button->setDefault(true);
    } else if (c.name() == "btnExit") {
        button->setIcon(CloseIcon());
        button->setIconSize(QSize(16, 16));
    } else if (c.name() == "btnGB" || c.name() == "btnBIG5") {
        button->setIcon(LanguageIcon(c.name() == "btnBIG5"));
        button->setIconSize(QSize(34, 16));
    }
}

void MainWindow::connect_input(Control& c, QWidget* w) {
    Control* ctl = &c;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        connect(b, &QPushButton::clicked, this, [this, ctl] { form_.press(*ctl); });
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
    auto* e = qobject_cast<QLineEdit*>(widget(c.name()));
    if (!e) return {};
    const QString text = e->text();
    if (c.kind() != Kind::MaskedEdit) return WireBytes(text);
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
        if (prop == Prop::Enabled) set_input_blocked(!c.enabled());
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
        return;
    }
    auto it = widgets_.find(&c);
    if (it == widgets_.end()) return;
    QWidget* w = it->second;
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
                // The card ID panel may have to shrink its text: its tooltip
                // holds the whole of it.
                if (c.name() == "pnCardID") {
                    const QString hint = DisplayText(c.hint());
                    l->setToolTip(hint.isEmpty() ? PlainCaption(caption)
                                                 : PlainCaption(caption) + u'\n' + hint);
                }
            } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
                if (edit_text(c) != c.text()) {
                    const int cursor = e->cursorPosition();
                    e->setText(EditText(c.text()));
                    e->setCursorPosition(std::min(cursor, static_cast<int>(e->text().size())));
                }
            } else if (auto* b = qobject_cast<QPushButton*>(w);
                       b && c.kind() != Kind::ImageButton) {
                b->setText(DisplayText(c.caption()));
            }
            if (form_.state.language != font_language_) {
                refresh_language_fonts();
            } else {
                fit_text(w);
            }
            break;
        case Prop::Enabled:
            w->setEnabled(c.enabled());
            break;
        case Prop::Visible:
            w->setVisible(c.visible());
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
            break;
        case Prop::Hint:
            if (c.name() == "pnCardID") {
                mirror(c, Prop::Caption);
            } else {
                // The quiet channel's texts are UTF-8 in every language.
                w->setToolTip(QString::fromStdString(c.hint()));
            }
            break;
    }
}

void MainWindow::refresh_language_fonts() {
    font_language_ = form_.state.language;
    const auto apply = [this](QWidget* w) {
        QFont f = w->font();
        set_language_families(f, font_language_);
        w->setFont(f);
    };
    apply(this);
    for (auto& [control, w] : widgets_) {
        apply(w);
        fit_text(w);
    }
}

void MainWindow::fit_text(QWidget* w) {
    const auto base = base_px_.find(w);
    if (base == base_px_.end()) return;
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
    int px = base->second;
    for (; px > kLegibleFloorPx; --px) {
        f.setPixelSize(px);
        if (fits(f)) break;
    }
    if (w->font().pixelSize() != px) {
        f.setPixelSize(px);
        w->setFont(f);
    }
}

void MainWindow::set_input_blocked(bool blocked) {
    if (blocked) {
        release_pending_ = false;
        if (input_blocked_) return;
        input_blocked_ = true;
        qApp->installEventFilter(this);
        return;
    }
    if (!input_blocked_ || release_pending_) return;
    // Clicks and keys given during the operation's sleeps and beeps still
    // wait in the event queue. The window takes input again only once they
    // have been taken out of it and dropped: a later pass of the event loop,
    // outside the model's handler, so no tick lands in the middle of it.
    release_pending_ = true;
    QTimer::singleShot(0, this, [this] { release_input(); });
}

void MainWindow::release_input() {
    if (!release_pending_ || releasing_) return;
    releasing_ = true;
    // Everything queued up to now, input dropped by the filter; bounded, so
    // a stream of events cannot keep the window blocked.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    releasing_ = false;
    if (!release_pending_) return;  // disabled again meanwhile
    release_pending_ = false;
    input_blocked_ = false;
    qApp->removeEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!input_blocked_ || !watched->isWidgetType()) return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            // Input to this window only; message boxes and other windows
            // work as usual, and painting and timers are never held up.
            return static_cast<QWidget*>(watched)->window() == this;
        default:
            return false;
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_once_) return;
    shown_once_ = true;
    place_on_screen();
    form_.dispatch([this] { form_.FormShow(); });
    if (font_language_ != form_.state.language) refresh_language_fonts();
    if (QWidget* scan = widget("btnScan")) scan->setFocus(Qt::OtherFocusReason);
}

void MainWindow::place_on_screen() {
    QScreen* s = screen();
    if (!s) return;
    // The title bar counts: a window taller than the screen keeps its title
    // bar (and so its move handle) at the top of the available area.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    placed_with_frame_ = !frame.isNull();
    move(WindowPlacement(s->availableGeometry(), size().grownBy(frame)));
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
    QAction* copy =
        menu->addAction(QString::fromStdString(app::CopyScanAccountCaption(form_.state.language)));
    // Before the first scan there is no account to copy.
    copy->setEnabled(!form_.pnMsg.hint().empty());
    connect(copy, &QAction::triggered, this, [this] {
        const QString account = QString::fromStdString(form_.pnMsg.hint());
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
    // its own: the scan account's menu, below the status panel. A right
    // click beside the controls opens nothing.
    QWidget* msg = widget("pnMsg");
    if (event->reason() != QContextMenuEvent::Keyboard || msg == nullptr || !msg->isVisible()) {
        event->ignore();
        return;
    }
    open_scan_account_menu(msg->mapToGlobal(QPoint(0, msg->height())));
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
        // Enter presses the focused button, or btnScan, the default button.
        auto* target = qobject_cast<QPushButton*>(focusWidget());
        if (!target) target = widget_as<QPushButton>("btnScan");
        if (target && target->isEnabled()) target->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace torvik::ui

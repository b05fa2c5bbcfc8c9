// SPDX-License-Identifier: MIT
// The start-up baseline: the smallest Qt Widgets program with a window of
// the tool's client size. Prints the monotonic clock in microseconds right
// after the window's first paint and quits, as torvik-config does with its
// hidden --exit-after-first-paint option. With --text the window holds one
// line of text, so the font database is set up before the first paint as in
// any window with text. With --layout it holds the tool's controls as plain
// Qt widgets: the same kinds, places, fonts, colours and start texts, the
// Fusion style, and none of the tool's own code; what the tool takes beyond
// it is the tool's, what this takes beyond the empty window is Qt's.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>

namespace {

class FirstPaintExit : public QObject {
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, [] {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf(
                    "first-paint-us %lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen_ = false;
};

enum class K { Label, Panel, Button, List, Scroll, Check, Edit, Group, Shape };

struct Item {
    K kind;
    int x, y, w, h;
    int px;
    bool bold;
    const char* text;  // caption, edit text, or list items separated by '|'
    bool in_group;
    bool hidden;
};

// The tool's window at start, in English.
constexpr Item kLayout[] = {
    {K::Group, 360, 4, 257, 477, 16, true, "", false, false},
    {K::Panel, 8, 4, 345, 40, 16, true, "Start Scan Reader", false, false},
    {K::Shape, 310, 8, 23, 20, 16, true, "", false, false},
    {K::Panel, 8, 48, 169, 28, 16, true, "S/N : ________", false, false},
    {K::Panel, 184, 48, 169, 28, 16, true, "VER : __.__-__", false, false},
    {K::Button, 8, 78, 345, 35, 16, true, "&Scan Reader", false, false},
    {K::Label, 8, 125, 49, 22, 13, false, "ID :", false, false},
    {K::Panel, 64, 122, 33, 25, 16, true, "01", false, false},
    {K::Scroll, 104, 123, 249, 23, 16, true, "", false, false},
    {K::Button, 8, 150, 345, 33, 16, true, "Set &ID", false, false},
    {K::Label, 8, 197, 145, 22, 13, false, "Baud Rate :", false, false},
    {K::List, 160, 192, 171, 28, 16, true,
     "4800,n,8,1|4800,e,8,1|9600,n,8,1|9600,e,8,1|19200,n,8,1|19200,e,8,1|38400,n,8,1|"
     "38400,e,8,1|57600,n,8,1|57600,e,8,1|115200,n,8,1|115200,e,8,1|230400,n,8,1|230400,e,8,1",
     false, false},
    {K::Check, 336, 196, 17, 17, 16, true, "", false, false},
    {K::Button, 8, 222, 345, 33, 16, true, "Set &Baud Rate", false, false},
    {K::List, 8, 264, 99, 28, 16, true, "Wiegand|RS485", false, false},
    {K::List, 112, 264, 123, 28, 16, true, "Wiegand 26|Wiegand 34|Wiegand 42", false, false},
    {K::List, 240, 264, 115, 28, 16, true, "RS485 24|RS485 32|RS485 40", false, false},
    {K::Button, 8, 294, 345, 33, 16, true, "Set Wiegand/RS485 &Mode", false, false},
    {K::List, 8, 336, 169, 28, 16, true, "EM/TEMIC Card|KELDO Card|Security Card", false, false},
    {K::Button, 184, 334, 169, 33, 16, true, "Set Card &Type", false, false},
    {K::Panel, 8, 378, 65, 25, 16, true, "00000", false, false},
    {K::Scroll, 80, 379, 97, 23, 16, true, "", false, false},
    {K::Button, 184, 374, 169, 33, 16, true, "Set Facility Code ", false, false},
    {K::Label, 8, 421, 81, 22, 13, false, "Finger No :", false, false},
    {K::Panel, 96, 418, 81, 25, 16, true, "000001", false, false},
    {K::Scroll, 184, 419, 169, 23, 16, true, "", false, false},
    {K::Button, 8, 446, 169, 33, 16, true, "Add FingerPrint", false, false},
    {K::Button, 184, 446, 169, 33, 16, true, "Del FingerPrint", false, false},
    {K::Shape, 10, 491, 29, 20, 16, true, "", false, false},
    {K::Panel, 46, 488, 25, 28, 16, true, "0", false, false},
    {K::Panel, 72, 488, 283, 28, 16, true, "FingerPrint or &Card ID", false, false},
    {K::Button, 8, 520, 305, 33, 16, true, "Read &ID (Change to RS485 Mode)", false, false},
    {K::Button, 320, 520, 33, 33, 16, true, "ID", false, false},
    {K::Button, 12, 24, 229, 65, 19, true, "Factory Default", true, false},
    {K::Button, 12, 96, 229, 65, 19, true, "Stand Alone Mode", true, false},
    {K::Button, 16, 170, 153, 31, 16, true, "Door Time", true, true},
    {K::Edit, 176, 171, 65, 28, 16, true, "0005", true, true},
    {K::Button, 16, 208, 153, 33, 16, true, "Alarm Time", true, true},
    {K::Edit, 176, 211, 65, 28, 16, true, "0030", true, true},
    {K::Button, 16, 248, 225, 33, 16, true, "Set Card", true, true},
    {K::Button, 16, 288, 225, 33, 16, true, "Duress Card", true, true},
    {K::Button, 16, 328, 225, 33, 16, true, "Clr Card", true, true},
    {K::Button, 16, 368, 225, 57, 19, true, "Stand Alone Default", true, true},
    {K::Button, 360, 488, 81, 24, 13, false, "English", false, false},
    {K::Button, 448, 488, 81, 24, 16, true, "", false, false},
    {K::Button, 536, 488, 81, 24, 16, true, "", false, false},
    {K::Button, 360, 520, 257, 33, 16, true, "&Exit", false, false},
    {K::Panel, 2, 557, 615, 21, 11, false, "KELDO   TORVIK Reader Config", false, false},
    {K::Label, 672, 21, 81, 22, 13, false, "Card No :", false, false},
    {K::Panel, 760, 18, 81, 25, 16, true, "000001", false, false},
    {K::Scroll, 847, 19, 90, 23, 16, true, "", false, false},
    {K::Label, 672, 69, 129, 22, 13, false, "Card ID :", false, false},
    {K::Edit, 816, 64, 121, 28, 16, true, "0000000000", false, false},
    {K::Button, 671, 102, 130, 33, 16, true, "Add Card ID", false, false},
    {K::Button, 816, 102, 129, 33, 16, true, "Get Card ID", false, false},
    {K::Edit, 672, 168, 273, 28, 16, true, "", false, false},
    {K::Edit, 672, 208, 185, 28, 16, true, "AB", false, false},
    {K::Button, 864, 206, 81, 33, 16, true, "CR Test", false, false},
    {K::Button, 672, 286, 273, 33, 16, true, "Read Template", false, false},
    {K::Button, 671, 326, 273, 33, 16, true, "Write Template", false, false},
    {K::Edit, 672, 368, 273, 21, 11, false, "*", false, false},
    {K::Edit, 672, 392, 273, 21, 11, false, "*", false, false},
    {K::Edit, 672, 416, 273, 21, 11, false, "*", false, false},
};

void build_layout(QWidget& window) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const auto font = [](int px, bool bold) {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(px);
        f.setBold(bold);
        return f;
    };
    window.setFont(font(16, true));
    QWidget* group = nullptr;
    for (const Item& item : kLayout) {
        const QString text = QString::fromLatin1(item.text);
        QWidget* parent = item.in_group ? group : &window;
        QWidget* w = nullptr;
        switch (item.kind) {
            case K::Label:
            case K::Panel: {
                auto* l = new QLabel(text, parent);
                l->setAlignment(item.kind == K::Panel ? Qt::AlignCenter
                                                      : Qt::AlignRight | Qt::AlignVCenter);
                if (item.kind == K::Panel) {
                    l->setAutoFillBackground(true);
                    QPalette pal = l->palette();
                    pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
                    pal.setColor(QPalette::WindowText, Qt::yellow);
                    l->setPalette(pal);
                }
                w = l;
                break;
            }
            case K::Button:
                w = new QPushButton(text, parent);
                break;
            case K::List: {
                auto* c = new QComboBox(parent);
                c->addItems(text.split(u'|'));
                w = c;
                break;
            }
            case K::Scroll:
                w = new QScrollBar(Qt::Horizontal, parent);
                break;
            case K::Check:
                w = new QCheckBox(parent);
                break;
            case K::Edit:
                w = new QLineEdit(text == QStringLiteral("*") ? QString(255, u'0') : text, parent);
                break;
            case K::Group:
                group = new QGroupBox(parent);
                w = group;
                break;
            case K::Shape:
                w = new QWidget(parent);
                break;
        }
        w->setGeometry(item.x, item.y, item.w, item.h);
        if (item.px != 16 || !item.bold) w->setFont(font(item.px, item.bold));
        if (item.hidden) w->hide();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(621, 579);
    window.setWindowTitle(QStringLiteral("minimal"));
    FirstPaintExit first_paint;
    window.installEventFilter(&first_paint);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QStringLiteral("--text")) {
        auto* label = new QLabel(QStringLiteral("Start Scan Reader!"), &window);
        label->setGeometry(8, 4, 345, 40);
    } else if (mode == QStringLiteral("--layout")) {
        build_layout(window);
    }
    window.show();
    return QApplication::exec();
}

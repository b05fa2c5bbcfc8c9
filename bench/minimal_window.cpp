// SPDX-License-Identifier: MIT
// The start-up baseline: the smallest Qt Widgets program with a window of
// the tool's client size. Prints the monotonic clock in microseconds right
// after the window's first paint and quits, as torvik-config does with its
// hidden --exit-after-first-paint option. With --text the window holds one
// line of text, so the font database is set up before the first paint as in
// any window with text.
#include <QApplication>
#include <QEvent>
#include <QLabel>
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(621, 579);
    window.setWindowTitle(QStringLiteral("minimal"));
    FirstPaintExit first_paint;
    window.installEventFilter(&first_paint);
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--text")) {
        auto* label = new QLabel(QStringLiteral("Start Scan Reader!"), &window);
        label->setGeometry(8, 4, 345, 40);
    }
    window.show();
    return QApplication::exec();
}

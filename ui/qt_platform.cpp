// SPDX-License-Identifier: MIT
#include "ui/qt_platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>

namespace torvik::ui {

void QtEventPump::process_pending() {
    QCoreApplication::processEvents();
}

QtBusyCursor::~QtBusyCursor() {
    if (busy_ && QGuiApplication::instance()) QGuiApplication::restoreOverrideCursor();
}

void QtBusyCursor::set_busy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

void QtErrorBox::show_error(const std::string& text) {
    // The hourglass would hide that the box waits for the user.
    const bool had_cursor = QGuiApplication::overrideCursor() != nullptr;
    if (had_cursor) QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    QMessageBox::critical(QApplication::activeWindow(), QGuiApplication::applicationDisplayName(),
                          QString::fromStdString(text));
    if (had_cursor) QGuiApplication::restoreOverrideCursor();
}

}  // namespace torvik::ui

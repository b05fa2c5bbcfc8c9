// SPDX-License-Identifier: MIT
#include "ui/input_gate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace torvik::ui {

InputGate::InputGate(QWidget* window) : window_(window) {}

InputGate::~InputGate() {
    if (blocked_) QCoreApplication::instance()->removeEventFilter(this);
}

void InputGate::set_blocked(bool blocked) {
    if (blocked) {
        release_pending_ = false;
        if (blocked_) return;
        blocked_ = true;
        QCoreApplication::instance()->installEventFilter(this);
        return;
    }
    if (!blocked_ || release_pending_) return;
    // Clicks and keys given during the operation's sleeps and beeps still
    // wait in the event queue. The window takes input again only once they
    // have been taken out of it and dropped: a later pass of the event loop,
    // outside the model's handler, so no tick lands in the middle of it.
    release_pending_ = true;
    QTimer::singleShot(0, this, [this] { release(); });
}

void InputGate::release() {
    if (!release_pending_ || releasing_) return;
    releasing_ = true;
    // Everything queued up to now, input dropped by the filter; bounded, so
    // a stream of events cannot keep the window blocked.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    releasing_ = false;
    if (!release_pending_) return;  // disabled again meanwhile
    release_pending_ = false;
    blocked_ = false;
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputGate::eventFilter(QObject* watched, QEvent* event) {
    if (!blocked_ || !watched->isWidgetType()) return false;
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
            return static_cast<QWidget*>(watched)->window() == window_;
        default:
            return false;
    }
}

}  // namespace torvik::ui

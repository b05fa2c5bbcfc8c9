// SPDX-License-Identifier: MIT
// What screen readers see of the window's own kinds of control: the main
// window as a frame, the status line as a status bar named by its text, and
// the two lamps as images named with their state (the link indicator busy
// while its blinker runs). Every other control keeps Qt's interface
// for its kind, with the name the window gives it.
#pragma once
#include "ui/layout_table.h"

class QWidget;

namespace torvik::ui {

// Installs the interfaces (once per process).
void InstallAccessibleFactory();

// Marks a widget with what it is to a screen reader; Access::Own leaves it
// to Qt.
void SetAccess(QWidget* widget, Access access);
Access AccessOf(const QWidget* widget);

}  // namespace torvik::ui

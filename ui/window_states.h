// SPDX-License-Identifier: MIT
// The window has one size: it is never maximized or made full-screen. On
// Wayland a window cannot refuse such a state once the compositor has
// configured it (its surface must then match the configured size exactly,
// and a fixed-size window ends with a protocol error), and Qt's own title
// bar offers a maximize button whatever the window's flags say. So a request
// for either state, from that button or from anywhere in the program, is
// withdrawn the moment it is made, before the compositor has answered.
#pragma once
#include <QObject>

class QWindow;

namespace torvik::ui {

class FixedSizeStates final : public QObject {
    Q_OBJECT
  public:
    // Watches the states asked of `window` for as long as it lives.
    explicit FixedSizeStates(QWindow* window);

  private:
    void withdraw(Qt::WindowStates asked);

    QWindow* window_;
};

// Sends the Wayland compositor the opposite of a maximize or full-screen
// request that is still on its way (both go out together, so the compositor
// never configures the state). False on other platforms, where taking the
// state back through Qt is enough.
bool WithdrawWaylandRequest(QWindow* window, Qt::WindowStates asked);

}  // namespace torvik::ui

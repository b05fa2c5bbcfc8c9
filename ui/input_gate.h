// SPDX-License-Identifier: MIT
// The gate that keeps a busy window from taking input: while the model's
// window is disabled, and after it is enabled again until the input that
// arrived meanwhile has been taken out of the queue, mouse and keyboard
// input to the window is swallowed. The window is never greyed out, and
// painting, timers and other windows (message boxes) go on as usual.
#pragma once
#include <QObject>

class QWidget;

namespace torvik::ui {

class InputGate final : public QObject {
    Q_OBJECT
  public:
    // Guards the input of `window` and its children.
    explicit InputGate(QWidget* window);
    ~InputGate() override;
    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

    // Closes the gate at once; opens it on a later pass of the event loop,
    // once the input queued up to then has been dropped.
    void set_blocked(bool blocked);
    bool blocked() const { return blocked_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void release();

    QWidget* window_;
    bool blocked_ = false;
    bool release_pending_ = false;
    bool releasing_ = false;
};

}  // namespace torvik::ui

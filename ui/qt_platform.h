// SPDX-License-Identifier: MIT
// The window-system side of the platform needs: processing pending window
// events, the application-wide busy cursor and the error box.
#pragma once
#include "app/platform.h"
#include "link/event_pump.h"

namespace torvik::ui {

// Handles the window events waiting right now (timer ticks, repaints, the
// stop press of a live reading) and returns.
class QtEventPump final : public link::EventPump {
  public:
    void process_pending() override;
};

// The hourglass over the whole application. Balanced: asking for the state
// already in force changes nothing, so the override-cursor stack never grows.
class QtBusyCursor final : public app::BusyCursor {
  public:
    ~QtBusyCursor() override;
    void set_busy(bool busy) override;
    bool busy() const { return busy_; }

  private:
    bool busy_ = false;
};

// A critical message box titled with the application's name.
class QtErrorBox final : public app::ErrorBox {
  public:
    void show_error(const std::string& text) override;
};

}  // namespace torvik::ui

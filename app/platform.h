// SPDX-License-Identifier: MIT
// Platform needs of the window model besides the serial link: sound, the
// busy cursor and the error box.
#pragma once
#include <string>

namespace torvik::app {

class Beeper {
  public:
    virtual ~Beeper() = default;
    // A tone of the given frequency; returns when it has ended.
    virtual void beep(unsigned frequency_hz, unsigned duration_ms) = 0;
};

class BusyCursor {
  public:
    virtual ~BusyCursor() = default;
    // Hourglass over the whole application (true) or the normal cursor.
    virtual void set_busy(bool busy) = 0;
};

class ErrorBox {
  public:
    virtual ~ErrorBox() = default;
    // Shows the text of an error that escaped an event handler.
    virtual void show_error(const std::string& text) = 0;
};

}  // namespace torvik::app

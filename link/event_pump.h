// SPDX-License-Identifier: MIT
// "Process pending window events": the frame exchanges and the explicit
// waiting loops call this so that timers tick and the window repaints.
#pragma once

namespace torvik::link {

class EventPump {
  public:
    virtual ~EventPump() = default;
    // Handles every window event waiting at this moment, then returns.
    virtual void process_pending() = 0;
};

}  // namespace torvik::link

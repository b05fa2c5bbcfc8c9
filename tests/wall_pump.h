// SPDX-License-Identifier: MIT
// Window events for tests on the real clock: actions that run at the first
// event processing after their time (a user's press, a pulled adapter).
#pragma once
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "link/event_pump.h"

namespace torvik::test {

class WallPump final : public link::EventPump {
  public:
    void process_pending() override {
        const auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < due_.size();) {
            if (due_[i].first <= now) {
                auto action = std::move(due_[i].second);
                due_.erase(due_.begin() + static_cast<std::ptrdiff_t>(i));
                action();
            } else {
                ++i;
            }
        }
    }
    void after_ms(int ms, std::function<void()> action) {
        due_.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                          std::move(action));
    }

  private:
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::function<void()>>> due_;
};

}  // namespace torvik::test

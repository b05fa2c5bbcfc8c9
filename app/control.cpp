// SPDX-License-Identifier: MIT
#include "app/control.h"

#include <algorithm>

namespace torvik::app {

void Control::notify(Prop prop) {
    if (observer_ && *observer_) (*observer_)(*this, prop);
}

void Control::set_caption(std::string text) {
    if (text == caption_) return;
    caption_ = std::move(text);
    notify(Prop::Caption);
}

void Control::set_enabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    notify(Prop::Enabled);
}

void Control::set_visible(bool on) {
    if (on == visible_) return;
    visible_ = on;
    notify(Prop::Visible);
}

bool Control::usable() const {
    for (const Control* c = this; c != nullptr; c = c->parent_) {
        if (!c->enabled_ || !c->visible_) return false;
    }
    return true;
}

void Control::set_index(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
    if (index == index_) return;
    index_ = index;
    notify(Prop::Index);
}

std::string Control::selected_text() const {
    return index_ >= 0 && index_ < static_cast<int>(items_.size())
               ? items_[static_cast<size_t>(index_)]
               : std::string();
}

void Control::set_position(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    notify(Prop::Position);
    if (on_event) on_event();
}

void Control::set_range(int min, int max, int large_step) {
    min_ = min;
    max_ = max;
    large_step_ = large_step;
    position_ = std::clamp(position_, min_, max_);
}

void Control::set_checked(bool on) {
    if (on == checked_) return;
    checked_ = on;
    notify(Prop::Checked);
}

void Control::set_hint(std::string text) {
    if (text == hint_) return;
    hint_ = std::move(text);
    notify(Prop::Hint);
}

void Control::set_color(Rgb color) {
    if (color == color_) return;
    color_ = color;
    notify(Prop::Color);
}

}  // namespace torvik::app

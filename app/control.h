// SPDX-License-Identifier: MIT
// A control of the window model: the properties the logic reads and writes
// (caption or text, enabled, visible, list selection, scroll position, check
// state, fill colour, timer state) and the one event it raises. A binding to
// a windowing toolkit mirrors these properties and forwards user input.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvik::app {

enum class Kind {
    Window,
    Panel,
    Label,
    Button,
    ImageButton,
    LargeButton,
    List,
    ScrollBar,
    CheckBox,
    Shape,
    Edit,
    MaskedEdit,
    GroupBox,
    Timer
};

// The property that changed, for the binding.
enum class Prop { Caption, Enabled, Visible, Index, Position, Checked, Color, Hint };

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

class Control;
using Observer = std::function<void(Control&, Prop)>;

class Control {
  public:
    Control(const Observer* observer, std::string name, Kind kind, Control* parent = nullptr)
        : observer_(observer), name_(std::move(name)), kind_(kind), parent_(parent) {}
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    Kind kind() const { return kind_; }
    Control* parent() const { return parent_; }

    // Caption of a window, panel, label or button; text of an edit.
    const std::string& caption() const { return caption_; }
    void set_caption(std::string text);
    const std::string& text() const { return caption_; }
    void set_text(std::string text) { set_caption(std::move(text)); }

    // For a timer, enabled means running.
    bool enabled() const { return enabled_; }
    void set_enabled(bool on);
    bool visible() const { return visible_; }
    void set_visible(bool on);
    // Enabled and visible along the chain of parents.
    bool usable() const;

    // Drop-down lists: writing an index outside the items leaves no selection (-1).
    const std::vector<std::string>& items() const { return items_; }
    void set_items(std::vector<std::string> items) { items_ = std::move(items); }
    int index() const { return index_; }
    void set_index(int index);
    // Text of the selected item, empty without a selection.
    std::string selected_text() const;

    // Scroll bars: a new position is limited to the range; a change raises
    // the change event, setting the position it already has raises nothing.
    int position() const { return position_; }
    void set_position(int position);
    void set_range(int min, int max, int large_step);
    int min() const { return min_; }
    int max() const { return max_; }
    int large_step() const { return large_step_; }

    bool checked() const { return checked_; }
    void set_checked(bool on);

    Rgb color() const { return color_; }
    void set_color(Rgb color);

    // A quiet second channel for the technician (a tooltip): never part of
    // what the operations show in their captions.
    const std::string& hint() const { return hint_; }
    void set_hint(std::string text);

    // Edits.
    int max_length = 0;  // 0: no limit
    bool read_only = false;
    std::string edit_mask;

    // Timers.
    int interval_ms = 0;

    // Pressed, position changed or timer tick.
    std::function<void()> on_event;

  private:
    void notify(Prop prop);

    const Observer* observer_;
    std::string name_;
    Kind kind_;
    Control* parent_;
    std::string caption_;
    bool enabled_ = true;
    bool visible_ = true;
    std::vector<std::string> items_;
    int index_ = -1;
    int position_ = 0, min_ = 0, max_ = 100, large_step_ = 10;
    bool checked_ = false;
    Rgb color_ = kWhite;
    std::string hint_;
};

}  // namespace torvik::app

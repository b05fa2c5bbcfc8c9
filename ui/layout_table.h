// SPDX-License-Identifier: MIT
// The window layout: one row per control with its place in its parent, its
// visual style, the shape or image it draws, what the window does for it
// beyond mirroring the model (the default button, a tooltip with its whole
// text, the scan account's menu, keyboard focus), and what a screen reader
// is told about it (its role where the kind does not say it, its name where
// the caption does not). The binding renders the window from these
// rows and reads nothing else about a control's looks from its name.
#pragma once
#include <QPalette>
#include <span>
#include <string_view>

#include "ui/spoken.h"

namespace torvik::ui {

// Client area of the window at 96 dpi.
inline constexpr int kClientWidth = 621;
inline constexpr int kClientHeight = 579;

// The visual styles of the layout.
enum class Look {
    Default,        // the window's font and colours
    Value,          // a value shown: yellow on the selection colour
    Status,         // the status line: white on the active caption colour, bevelled
    FieldLabel,     // a caption beside a value: small, regular, right-aligned
    Large,          // a large button: large bold caption that may wrap
    Maker,          // the maker line: small white text on purple
    LanguageText,   // the language button with a caption: small red text
    LanguageImage,  // a language button drawn as an image
    SmallEdit,      // an edit with a small font
};

// The outline a shape control is drawn with.
enum class Shape { None, Ellipse, RoundRect };

// The image drawn on a button.
enum class Icon { None, Magnifier, Close, Simplified, Traditional };

// What the window does for a control beyond mirroring it; flags.
enum class Behaviour : unsigned {
    None = 0,
    // Drawn as the default button, pressed by Enter where the focus is on no
    // other button, and given the focus when the window is first shown.
    DefaultButton = 1u << 0,
    // Its text may be shrunk to fit: the tooltip holds the whole of it,
    // followed by the control's hint.
    WholeTextTooltip = 1u << 1,
    // Carries the scan account as its hint: its context menu (and the
    // context-menu key anywhere in the window) offers to copy it.
    ScanAccountMenu = 1u << 2,
    // Placed beyond the window's visible area: never reached by the mouse,
    // so it takes no keyboard focus either (typing there would change text
    // nobody sees).
    NoKeyboardFocus = 1u << 3,
};

// What a screen reader is told a control is, where its kind does not say.
enum class Access {
    Own,         // its kind's role: button, list, scroll bar, check box, edit, label
    Window,      // the main window, a frame with the window caption as its name
    StatusLine,  // a status bar named by its text; the text is announced again
                 // after every press, also when it did not change
    LinkState,   // an image named with the link's state in words, busy while
                 // the busy blinker runs
    LampState,   // an image named with the card lamp's state in words
};

constexpr Behaviour operator|(Behaviour a, Behaviour b) {
    return static_cast<Behaviour>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool Has(Behaviour set, Behaviour flag) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(flag)) != 0;
}

struct Place {
    int x, y, width, height;
};

struct LayoutRow {
    std::string_view name;    // the model control's name
    std::string_view parent;  // the control it stands in; empty for the window
    Place place;              // relative to the parent's client area
    Look look = Look::Default;
    Shape shape = Shape::None;
    Icon icon = Icon::None;
    Behaviour behaviour = Behaviour::None;
    Access access = Access::Own;
    // The accessible name from the window's own table; None: the caption,
    // or the caption of `label`. A list is named by a caption label (the
    // way lists are named on Linux, where a list's own name is its value):
    // `label`, or else one the window keeps hidden with this text.
    Spoken spoken = Spoken::None;
    std::string_view label = {};  // the caption label of the control, if any
};

// Every row, in no particular order.
std::span<const LayoutRow> LayoutTable();
// The row of a control; nullptr for a control without a place (the window
// itself, the timers).
const LayoutRow* LayoutRowOf(std::string_view name);

// The window's font, which most controls inherit.
inline constexpr int kWindowFontPx = 16;

// The font of a look.
struct LookFont {
    int pixel_size;
    bool bold;
};
LookFont FontOf(Look look);

// The window's two looks: the usual one, and one of high contrast, where
// every text reaches at least 4.5:1 against its background and the link
// indicator 3:1 against the status line.
enum class Scheme { Usual, HighContrast };

// The colours of the window itself in a look (the usual look: the
// application's palette with the button face as background).
void SetWindowColours(QPalette& palette, Scheme scheme = Scheme::Usual);

// Sets the colours of a look in a palette; false for a look that keeps the
// window's colours.
bool SetLookColours(Look look, QPalette& palette, Scheme scheme = Scheme::Usual);

// The colour of the frame around the control with the keyboard focus.
QColor FocusColour(Scheme scheme = Scheme::Usual);

// The colour of the characters on the language image buttons.
QColor LanguageImageColour(Scheme scheme = Scheme::Usual);

}  // namespace torvik::ui

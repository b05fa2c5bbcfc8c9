// SPDX-License-Identifier: MIT
// The contrast of every text colour pair of both looks, taken from the
// layout table: in the high-contrast look every text reaches 4.5:1 against
// its background and the link indicator's colours 3:1 against the status
// line; the usual look stays as laid out, its pairs below 4.5:1 being
// exactly the laid-out yellow values, red language captions and the red
// indicator.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "app/alsa_beeper.h"
#include "app/control.h"
#include "app/window_model.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/desktop_contrast.h"
#include "ui/layout_table.h"
#include "ui/qt_platform.h"

namespace {

using torvik::app::Kind;
using torvik::ui::Look;
using torvik::ui::Scheme;

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
           0.0722 * channel(c.blueF());
}
double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct Pair {
    QColor text, background;
};

// The colours a control's text is drawn in, as the window gives them.
bool text_pair(Kind kind, Look look, Scheme scheme, Pair& pair) {
    QPalette palette = QApplication::palette();
    torvik::ui::SetWindowColours(palette, scheme);
    torvik::ui::SetLookColours(look, palette, scheme);
    switch (kind) {
        case Kind::Panel:
        case Kind::Label:
        case Kind::CheckBox:
            pair = {palette.color(QPalette::WindowText), palette.color(QPalette::Window)};
            return true;
        case Kind::Button:
        case Kind::LargeButton:
        case Kind::List:
            pair = {palette.color(QPalette::ButtonText), palette.color(QPalette::Button)};
            return true;
        case Kind::ImageButton:
            pair = {torvik::ui::LanguageImageColour(scheme), palette.color(QPalette::Button)};
            return true;
        case Kind::Edit:
        case Kind::MaskedEdit:
            pair = {palette.color(QPalette::Text), palette.color(QPalette::Base)};
            return true;
        default:
            return false;  // no text: scroll bars, shapes, the group box
    }
}

TEST(Contrast, EveryTextPairOfBothLooksFromTheLayoutTable) {
    torvik::doubles::VirtualClock clock;
    torvik::doubles::FakeLine line{clock};
    torvik::ui::QtEventPump pump;
    torvik::app::SilentBeeper beeper{clock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    torvik::app::TfrmModule form{
        torvik::app::Services{line, clock, pump, beeper, cursor, errors, store}};

    // The usual look's pairs below 4.5:1, as laid out.
    const std::set<Look> usual_below = {Look::Value, Look::LanguageText, Look::LanguageImage};
    for (const Scheme scheme : {Scheme::Usual, Scheme::HighContrast}) {
        const char* look_name = scheme == Scheme::Usual ? "usual" : "high contrast";
        SCOPED_TRACE(look_name);
        for (const torvik::ui::LayoutRow& row : torvik::ui::LayoutTable()) {
            const torvik::app::Control* c = form.find(std::string(row.name));
            ASSERT_NE(c, nullptr);
            Pair pair;
            if (!text_pair(c->kind(), row.look, scheme, pair)) continue;
            const double ratio = contrast(pair.text, pair.background);
            std::printf("%-14s %-16s %-16s %5.2f:1\n", look_name, std::string(row.name).c_str(),
                        (pair.text.name() + " on " + pair.background.name()).toUtf8().constData(),
                        ratio);
            if (scheme == Scheme::HighContrast) {
                EXPECT_GE(ratio, 4.5) << row.name;
            } else {
                EXPECT_EQ(ratio < 4.5, usual_below.count(row.look) == 1) << row.name << " " << ratio;
            }
        }
        // The link indicator's colours against the status line.
        QPalette status = QApplication::palette();
        torvik::ui::SetWindowColours(status, scheme);
        torvik::ui::SetLookColours(Look::Status, status, scheme);
        for (const torvik::app::Rgb lamp : {torvik::app::kRed, torvik::app::kYellow}) {
            const double ratio =
                contrast(QColor(lamp.r, lamp.g, lamp.b), status.color(QPalette::Window));
            std::printf("%-14s shComm %3d,%3d,%3d on the status line %5.2f:1\n", look_name, lamp.r,
                        lamp.g, lamp.b, ratio);
            if (scheme == Scheme::HighContrast) {
                EXPECT_GE(ratio, 3.0);
            }
        }
        // Disabled texts (a live reading disables buttons) still read.
        QPalette window = QApplication::palette();
        torvik::ui::SetWindowColours(window, scheme);
        if (scheme == Scheme::HighContrast) {
            EXPECT_GE(contrast(window.color(QPalette::Disabled, QPalette::ButtonText),
                               window.color(QPalette::Disabled, QPalette::Button)),
                      4.5);
        }
    }
}

TEST(Contrast, TheLookFollowsTheCommandLineThenTheDesktopThenTheKeptChoice) {
    struct Case {
        std::optional<bool> command_line;
        bool desktop, stored, high;
    };
    const Case cases[] = {
        {std::nullopt, false, false, false}, {std::nullopt, true, false, true},
        {std::nullopt, false, true, true},   {true, false, false, true},
        {false, true, true, false},          {false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(torvik::ui::ChooseHighContrast(c.command_line, c.desktop, c.stored), c.high)
            << c.command_line.value_or(-1) << c.desktop << c.stored;
    }
}

}  // namespace

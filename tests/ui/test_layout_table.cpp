// SPDX-License-Identifier: MIT
// The layout table against the window model: one row for every control
// that has a place and none for anything else, each in the model's parent
// of its control, within that parent (or, for the service controls, wholly
// beyond the window's right edge) and clear of its siblings, and every look,
// shape, image and behaviour on a control of a kind that can show it.
#include <gtest/gtest.h>

#include <QRect>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/window_model.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/layout_table.h"
#include "ui/qt_platform.h"

namespace {

using torvik::app::Control;
using torvik::app::Kind;
using torvik::ui::Behaviour;
using torvik::ui::Icon;
using torvik::ui::LayoutRow;
using torvik::ui::LayoutTable;
using torvik::ui::Look;
using torvik::ui::Shape;

struct Model {
    torvik::doubles::VirtualClock clock;
    torvik::doubles::FakeLine line{clock};
    torvik::ui::QtEventPump pump;
    torvik::app::SilentBeeper beeper{clock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    torvik::app::TfrmModule form{
        torvik::app::Services{line, clock, pump, beeper, cursor, errors, store}};
};

QRect rect_of(const LayoutRow& row) {
    return {row.place.x, row.place.y, row.place.width, row.place.height};
}

TEST(LayoutTable, OneRowForEveryPlacedControlInItsModelParent) {
    Model m;
    std::map<std::string, int> rows_named;
    for (const LayoutRow& row : LayoutTable()) ++rows_named[std::string(row.name)];
    for (const Control* c : m.form.controls()) {
        SCOPED_TRACE(c->name());
        // The window and its timers have no place.
        const bool placed = c->kind() != Kind::Window && c->kind() != Kind::Timer;
        EXPECT_EQ(rows_named[c->name()], placed ? 1 : 0);
        if (const LayoutRow* row = torvik::ui::LayoutRowOf(c->name())) {
            EXPECT_EQ(row->parent, c->parent() ? c->parent()->name() : std::string());
        }
    }
    for (const LayoutRow& row : LayoutTable()) {
        EXPECT_NE(m.form.find(std::string(row.name)), nullptr) << row.name << ": no such control";
    }
}

TEST(LayoutTable, PlacesLieInTheirParentClearOfTheirSiblings) {
    const QRect client(0, 0, torvik::ui::kClientWidth, torvik::ui::kClientHeight);
    std::map<std::string_view, std::vector<const LayoutRow*>> children;
    for (const LayoutRow& row : LayoutTable()) {
        SCOPED_TRACE(std::string(row.name));
        const QRect r = rect_of(row);
        EXPECT_GT(r.width(), 0);
        EXPECT_GT(r.height(), 0);
        if (row.parent.empty()) {
            // In the window, or a service control wholly beyond its right edge.
            EXPECT_TRUE(client.contains(r) || r.left() >= client.width()) << "straddles the edge";
        } else {
            const LayoutRow* parent = torvik::ui::LayoutRowOf(row.parent);
            ASSERT_NE(parent, nullptr);
            EXPECT_TRUE(QRect(QPoint(0, 0), rect_of(*parent).size()).contains(r))
                << "outside " << row.parent;
        }
        children[row.parent].push_back(&row);
    }
    for (const auto& [parent, rows] : children) {
        for (size_t i = 0; i < rows.size(); ++i) {
            for (size_t j = i + 1; j < rows.size(); ++j) {
                EXPECT_FALSE(rect_of(*rows[i]).intersects(rect_of(*rows[j])))
                    << rows[i]->name << " overlaps " << rows[j]->name;
            }
        }
    }
}

TEST(LayoutTable, LooksShapesImagesAndBehavioursSuitTheKindOfTheirControl) {
    Model m;
    // The looks the window can render on each kind of control.
    const std::map<Kind, std::set<Look>> looks = {
        {Kind::Panel, {Look::Value, Look::Status, Look::Maker}},
        {Kind::Label, {Look::FieldLabel}},
        {Kind::Button, {Look::Default, Look::LanguageText}},
        {Kind::ImageButton, {Look::LanguageImage}},
        {Kind::LargeButton, {Look::Large}},
        {Kind::List, {Look::Value}},
        {Kind::ScrollBar, {Look::Default}},
        {Kind::CheckBox, {Look::Default}},
        {Kind::Shape, {Look::Default}},
        {Kind::Edit, {Look::Default, Look::SmallEdit}},
        {Kind::MaskedEdit, {Look::Default}},
        {Kind::GroupBox, {Look::Default}},
    };
    // Each behaviour: the kinds it works on and how many controls have it.
    struct BehaviourRule {
        Behaviour behaviour;
        std::set<Kind> kinds;
        int exactly;  // -1: any number
    };
    const BehaviourRule rules[] = {
        {Behaviour::DefaultButton, {Kind::Button}, 1},
        {Behaviour::ScanAccountMenu, {Kind::Panel}, 1},
        {Behaviour::WholeTextTooltip, {Kind::Panel, Kind::Label}, -1},
    };
    std::map<Behaviour, int> count;
    for (const LayoutRow& row : LayoutTable()) {
        SCOPED_TRACE(std::string(row.name));
        const Control* c = m.form.find(std::string(row.name));
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(looks.count(c->kind()));
        EXPECT_TRUE(looks.at(c->kind()).count(row.look)) << "look " << static_cast<int>(row.look);
        // A shape control draws an outline; nothing else has one.
        EXPECT_EQ(row.shape != Shape::None, c->kind() == Kind::Shape);
        // Images go on buttons only; an image button shows nothing else.
        if (row.icon != Icon::None) {
            EXPECT_TRUE(c->kind() == Kind::Button || c->kind() == Kind::ImageButton);
        }
        if (c->kind() == Kind::ImageButton) {
            EXPECT_NE(row.icon, Icon::None);
        }
        for (const BehaviourRule& rule : rules) {
            if (!torvik::ui::Has(row.behaviour, rule.behaviour)) continue;
            ++count[rule.behaviour];
            EXPECT_TRUE(rule.kinds.count(c->kind())) << static_cast<int>(rule.behaviour);
        }
    }
    for (const BehaviourRule& rule : rules) {
        if (rule.exactly >= 0) {
            EXPECT_EQ(count[rule.behaviour], rule.exactly) << static_cast<int>(rule.behaviour);
        }
    }
}

TEST(LayoutTable, KeyboardFocusAndScreenReaderNamesSuitTheirControls) {
    Model m;
    std::map<torvik::ui::Access, int> count;
    for (const LayoutRow& row : LayoutTable()) {
        SCOPED_TRACE(std::string(row.name));
        const Control* c = m.form.find(std::string(row.name));
        ASSERT_NE(c, nullptr);
        ++count[row.access];
        // Exactly the controls beyond the right edge take no keyboard focus.
        const bool beyond = row.parent.empty() && row.place.x >= torvik::ui::kClientWidth;
        EXPECT_EQ(torvik::ui::Has(row.behaviour, Behaviour::NoKeyboardFocus), beyond);
        switch (row.access) {
            case torvik::ui::Access::StatusLine:
                EXPECT_EQ(c->kind(), Kind::Panel);
                break;
            case torvik::ui::Access::LinkState:
            case torvik::ui::Access::LampState:
                EXPECT_EQ(c->kind(), Kind::Shape);
                EXPECT_NE(row.spoken, torvik::ui::Spoken::None);
                break;
            case torvik::ui::Access::Window:
                ADD_FAILURE() << "the window has no row";
                break;
            case torvik::ui::Access::Own:
                // A lamp says its state, so it needs one of the lamp roles.
                EXPECT_NE(c->kind(), Kind::Shape);
                break;
        }
        // Controls that show no text of their own are named by the table or
        // by a caption label.
        switch (c->kind()) {
            case Kind::ImageButton:
            case Kind::List:
            case Kind::ScrollBar:
            case Kind::CheckBox:
            case Kind::Edit:
            case Kind::MaskedEdit:
                EXPECT_TRUE(row.spoken != torvik::ui::Spoken::None || !row.label.empty());
                break;
            default:
                break;
        }
        if (!row.label.empty()) {
            const Control* label = m.form.find(std::string(row.label));
            ASSERT_NE(label, nullptr) << row.label;
            EXPECT_EQ(label->kind(), Kind::Label);
            EXPECT_EQ(label->parent(), c->parent());
        }
    }
    EXPECT_EQ(count[torvik::ui::Access::StatusLine], 1);
    EXPECT_EQ(count[torvik::ui::Access::LinkState], 1);
}

TEST(SpokenTexts, EveryEntryIsWrittenInEachLanguageAndNamesAreDistinct) {
    for (int language = 0; language < 3; ++language) {
        SCOPED_TRACE(language);
        std::set<std::string_view> names;
        for (int i = 1; i < static_cast<int>(torvik::ui::Spoken::Count); ++i) {
            const auto entry = static_cast<torvik::ui::Spoken>(i);
            const std::string_view text = torvik::ui::SpokenText(entry, language);
            EXPECT_FALSE(text.empty()) << i;
            // Chinese entries are written in Chinese, not left in English.
            if (language > 0) {
                EXPECT_TRUE(std::any_of(text.begin(), text.end(),
                                        [](char ch) { return (ch & 0x80) != 0; }))
                    << text;
            }
        }
        // Two controls never share a name from the table.
        for (const LayoutRow& row : LayoutTable()) {
            if (row.spoken == torvik::ui::Spoken::None) continue;
            EXPECT_TRUE(names.insert(torvik::ui::SpokenText(row.spoken, language)).second)
                << row.name;
        }
    }
    EXPECT_TRUE(torvik::ui::SpokenText(torvik::ui::Spoken::Count, 0).empty());
    EXPECT_TRUE(torvik::ui::SpokenText(torvik::ui::Spoken::ReaderId, 3).empty());
}

}  // namespace

// SPDX-License-Identifier: MIT
#include "ui/layout_table.h"

#include <QApplication>
#include <QColor>

namespace torvik::ui {

namespace {

constexpr std::string_view kWindow;

using A = Access;
using B = Behaviour;

// clang-format off
constexpr LayoutRow kRows[] = {
    // Status line and link indicator.
    {"pnMsg",           kWindow,     {8, 4, 345, 40},     Look::Status, Shape::None, Icon::None, B::ScanAccountMenu, A::StatusLine},
    {"shComm",          "pnMsg",     {310, 8, 23, 20},    Look::Default, Shape::Ellipse, Icon::None, B::None, A::LinkState, Spoken::LinkIndicator},
    // Reader identity and link.
    {"pnSerial",        kWindow,     {8, 48, 169, 28},    Look::Value},
    {"pnVersion",       kWindow,     {184, 48, 169, 28},  Look::Value},
    {"btnScan",         kWindow,     {8, 78, 345, 35},    Look::Default, Shape::None, Icon::Magnifier, B::DefaultButton},
    {"lblID",           kWindow,     {8, 125, 49, 22},    Look::FieldLabel},
    {"pnID",            kWindow,     {64, 122, 33, 25},   Look::Value},
    {"sbID",            kWindow,     {104, 123, 249, 23}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::ReaderId, "lblID"},
    {"btnID",           kWindow,     {8, 150, 345, 33}},
    {"lblBaudRate",     kWindow,     {8, 197, 145, 22},   Look::FieldLabel},
    {"cmbBaudRate",     kWindow,     {160, 192, 171, 28}, Look::Value, Shape::None, Icon::None, B::None, A::Own, Spoken::None, "lblBaudRate"},
    {"chkLock",         kWindow,     {336, 196, 17, 17}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::ScanLock},
    {"btnBaudRate",     kWindow,     {8, 222, 345, 33}},
    // Output mode, card type, facility code, fingerprint.
    {"cmbMode",         kWindow,     {8, 264, 99, 28},    Look::Value, Shape::None, Icon::None, B::None, A::Own, Spoken::OutputInterface},
    {"cmbWiegand",      kWindow,     {112, 264, 123, 28}, Look::Value, Shape::None, Icon::None, B::None, A::Own, Spoken::WiegandFormat},
    {"cmbRS485",        kWindow,     {240, 264, 115, 28}, Look::Value, Shape::None, Icon::None, B::None, A::Own, Spoken::Rs485Format},
    {"btnMode",         kWindow,     {8, 294, 345, 33}},
    {"cmbCardType",     kWindow,     {8, 336, 169, 28},   Look::Value, Shape::None, Icon::None, B::None, A::Own, Spoken::CardType},
    {"btnCardType",     kWindow,     {184, 334, 169, 33}},
    {"pnFacility",      kWindow,     {8, 378, 65, 25},    Look::Value},
    {"sbFacility",      kWindow,     {80, 379, 97, 23}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::FacilityCode},
    {"btnFacility",     kWindow,     {184, 374, 169, 33}},
    {"lblFingerNo",     kWindow,     {8, 421, 81, 22},    Look::FieldLabel},
    {"pnFingerNo",      kWindow,     {96, 418, 81, 25},   Look::Value},
    {"sbFingerNo",      kWindow,     {184, 419, 169, 23}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::None, "lblFingerNo"},
    {"btnAdd",          kWindow,     {8, 446, 169, 33}},
    {"btnDel",          kWindow,     {184, 446, 169, 33}},
    // Live reading.
    {"shCard",          kWindow,     {10, 491, 29, 20},   Look::Default, Shape::RoundRect, Icon::None, B::None, A::LampState, Spoken::CardLamp},
    {"pnDI",            kWindow,     {46, 488, 25, 28},   Look::Value},
    {"pnCardID",        kWindow,     {72, 488, 283, 28},  Look::Value, Shape::None, Icon::None, B::WholeTextTooltip},
    {"btnReadCard",     kWindow,     {8, 520, 305, 33}},
    {"btnEncode",       kWindow,     {320, 520, 33, 33}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::EncodedReading},
    // The defaults group and the stand-alone controls.
    {"gbDefault",       kWindow,     {360, 4, 257, 477}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::Defaults},
    {"btnFactory",      "gbDefault", {12, 24, 229, 65},   Look::Large},
    {"btnStand",        "gbDefault", {12, 96, 229, 65},   Look::Large},
    {"btnDoor",         "gbDefault", {16, 170, 153, 31}},
    {"edDoor",          "gbDefault", {176, 171, 65, 28}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::DoorTime},
    {"btnAlarm",        "gbDefault", {16, 208, 153, 33}},
    {"edAlarm",         "gbDefault", {176, 211, 65, 28}, Look::Default, Shape::None, Icon::None, B::None, A::Own, Spoken::AlarmTime},
    {"btnSetCard",      "gbDefault", {16, 248, 225, 33}},
    {"btnDuress",       "gbDefault", {16, 288, 225, 33}},
    {"btnClrCard",      "gbDefault", {16, 328, 225, 33}},
    {"btnStandDefault", "gbDefault", {16, 368, 225, 57},  Look::Large},
    // Languages, exit, maker line.
    {"btnEng",          kWindow,     {360, 488, 81, 24},  Look::LanguageText},
    {"btnGB",           kWindow,     {448, 488, 81, 24},  Look::LanguageImage, Shape::None, Icon::Simplified, B::None, A::Own, Spoken::SimplifiedChinese},
    {"btnBIG5",         kWindow,     {536, 488, 81, 24},  Look::LanguageImage, Shape::None, Icon::Traditional, B::None, A::Own, Spoken::TraditionalChinese},
    {"btnExit",         kWindow,     {360, 520, 257, 33}, Look::Default, Shape::None, Icon::Close},
    {"pnKELDO",         kWindow,     {2, 557, 615, 21},   Look::Maker},
    // Service controls, beyond the right edge of the client area.
    {"lblCard",         kWindow,     {672, 21, 81, 22},   Look::FieldLabel, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"pnCard",          kWindow,     {760, 18, 81, 25},   Look::Value, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"sbCard",          kWindow,     {847, 19, 90, 23}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::CardSlot, "lblCard"},
    {"lblCardID",       kWindow,     {672, 69, 129, 22},  Look::FieldLabel, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"edCard",          kWindow,     {816, 64, 121, 28}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::CardId, "lblCardID"},
    {"btnAddCard",      kWindow,     {671, 102, 130, 33}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"btnGetCard",      kWindow,     {816, 102, 129, 33}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"edCRRev",         kWindow,     {672, 168, 273, 28}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::RawReply},
    {"edCRCmd",         kWindow,     {672, 208, 185, 28}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::RawCommand},
    {"btnCRCmd",        kWindow,     {864, 206, 81, 33}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"btnGetTemplate",  kWindow,     {672, 286, 273, 33}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"btnPutTemplate",  kWindow,     {671, 326, 273, 33}, Look::Default, Shape::None, Icon::None, B::NoKeyboardFocus},
    {"edF1",            kWindow,     {672, 368, 273, 21}, Look::SmallEdit, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::TemplatePart1},
    {"edF2",            kWindow,     {672, 392, 273, 21}, Look::SmallEdit, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::TemplatePart2},
    {"edF3",            kWindow,     {672, 416, 273, 21}, Look::SmallEdit, Shape::None, Icon::None, B::NoKeyboardFocus, A::Own, Spoken::TemplatePart3},
};
// clang-format on

QColor highlight_color() {
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

// Qt has no role for the title bar of the active window; a darker shade of
// the selection colour stands for it, so it follows the desktop theme.
QColor active_caption_color() {
    return highlight_color().darker(150);
}

constexpr QColor kMakerPurple{128, 0, 128};
// The high-contrast look's red (7.4:1 on white) and selection blue.
constexpr QColor kHighContrastRed{176, 0, 0};
constexpr QColor kHighContrastSelection{0, 0, 192};

}  // namespace

std::span<const LayoutRow> LayoutTable() {
    return kRows;
}

const LayoutRow* LayoutRowOf(std::string_view name) {
    for (const LayoutRow& row : kRows) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

LookFont FontOf(Look look) {
    switch (look) {
        case Look::FieldLabel:
        case Look::LanguageText:
            return {13, false};
        case Look::Large:
            return {19, true};
        case Look::Maker:
        case Look::SmallEdit:
            return {11, false};
        default:
            return {kWindowFontPx, true};
    }
}

void SetWindowColours(QPalette& palette, Scheme scheme) {
    if (scheme == Scheme::Usual) {
        palette.setColor(QPalette::Window, palette.color(QPalette::Button));
        return;
    }
    // Black on white, a dark blue selection; disabled text a grey that
    // still reads.
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase,
                      QPalette::ToolTipBase, QPalette::Light, QPalette::Midlight})
        palette.setColor(role, Qt::white);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                      QPalette::ToolTipText, QPalette::Shadow, QPalette::Dark})
        palette.setColor(role, Qt::black);
    palette.setColor(QPalette::Mid, QColor(89, 89, 89));
    palette.setColor(QPalette::Highlight, kHighContrastSelection);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(89, 89, 89));
}

bool SetLookColours(Look look, QPalette& palette, Scheme scheme) {
    if (scheme == Scheme::HighContrast) {
        switch (look) {
            case Look::Value:
                // Still yellow values, on black.
                for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
                    palette.setColor(role, Qt::black);
                for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                    palette.setColor(role, Qt::yellow);
                return true;
            case Look::Status:
                // Red and yellow indicator alike stand out on black.
                palette.setColor(QPalette::Window, Qt::black);
                palette.setColor(QPalette::WindowText, Qt::white);
                return true;
            case Look::Maker:
                palette.setColor(QPalette::Window, kMakerPurple);
                palette.setColor(QPalette::WindowText, Qt::white);
                return true;
            case Look::LanguageText:
                palette.setColor(QPalette::ButtonText, kHighContrastRed);
                return true;
            default:
                return false;
        }
    }
    switch (look) {
        case Look::Value: {
            const QColor bg = highlight_color();
            for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
                palette.setColor(role, bg);
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                palette.setColor(role, Qt::yellow);
            return true;
        }
        case Look::Status:
            palette.setColor(QPalette::Window, active_caption_color());
            palette.setColor(QPalette::WindowText, Qt::white);
            return true;
        case Look::Maker:
            palette.setColor(QPalette::Window, kMakerPurple);
            palette.setColor(QPalette::WindowText, Qt::white);
            return true;
        case Look::LanguageText:
            palette.setColor(QPalette::ButtonText, Qt::red);
            return true;
        default:
            // The window's colours, inherited.
            return false;
    }
}

QColor FocusColour(Scheme scheme) {
    if (scheme == Scheme::HighContrast) return kHighContrastSelection;
    // The selection colour, darkened to stand out against the button face
    // and against the value panels drawn in the selection colour itself.
    return highlight_color().darker(160);
}

QColor LanguageImageColour(Scheme scheme) {
    return scheme == Scheme::HighContrast ? kHighContrastRed : QColor(Qt::red);
}

}  // namespace torvik::ui

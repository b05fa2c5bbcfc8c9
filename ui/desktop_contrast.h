// SPDX-License-Identifier: MIT
// Whether the desktop asks for high contrast. Qt 6.4 does not say, so the
// desktop's settings portal is asked over the session bus: the contrast
// preference of the freedesktop appearance settings, GNOME's high-contrast
// switch, and the name of GNOME's high-contrast theme.
#pragma once
#include <optional>

namespace torvik::ui {

// False without a session bus or a portal that answers in time.
bool DesktopAsksHighContrast();

// The look in force: the command line's choice where given, else high
// contrast when the desktop asks for it or it was stored with the language.
bool ChooseHighContrast(std::optional<bool> command_line, bool desktop_asks, bool stored);

}  // namespace torvik::ui

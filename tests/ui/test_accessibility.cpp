// SPDX-License-Identifier: MIT
// What screen readers and keyboard users get from the window: names and
// roles in the language in force, the lamps' states in words, and a focus
// frame around whatever has the keyboard focus. Runs offscreen, where no
// screen reader listens: the events themselves are checked over AT-SPI
// (tests/accessibility/atspi_tree.py).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/window_model.h"
#include "ops/reader_operations.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"
#include "ui/widgets.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

struct Rig {
    Rig() {
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QWidget* w(const char* name) { return window->widget(name); }
    QString name_of(QObject* object) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->text(QAccessible::Name) : QString();
    }
    QAccessible::Role role_of(QObject* object) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
        return iface ? iface->role() : QAccessible::NoRole;
    }
    void press(const char* name) { qobject_cast<QPushButton*>(w(name))->click(); }

    torvik::doubles::VirtualClock clock;
    torvik::doubles::FakeLine line{clock};
    torvik::ui::QtEventPump pump;
    torvik::app::SilentBeeper beeper{clock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    TfrmModule form{torvik::app::Services{line, clock, pump, beeper, cursor, errors, store}};
    std::unique_ptr<MainWindow> window;
};

TEST(Accessibility, NamesAndRolesFollowTheLanguage) {
    const struct {
        const char* button;
        const char* title;
        const char* gb;          // btnGB's name
        const char* mode_list;   // the hidden caption of cmbMode
        const char* baud_list;   // lblBaudRate, the caption of cmbBaudRate
        const char* id_bar;      // sbID
        const char* finger_bar;  // sbFingerNo, named by its caption label
    } languages[] = {
        {"btnEng", "KELDO TORVIK Reader Config V4.01-01", "Simplified Chinese", "Output interface",
         "BaudRate", "Reader ID", "Finger No"},
        {"btnGB", "KELDO TORVIK 读卡机设定程式 V4.01-01", "简体中文", "输出接口", "通讯速度",
         "读卡机编号", "指纹编号"},
        {"btnBIG5", "KELDO TORVIK 讀卡機設定程式 V4.01-01", "簡體中文", "輸出介面", "通訊速度",
         "讀卡機編號", "指紋編號"},
    };
    Rig rig;
    for (const auto& l : languages) {
        SCOPED_TRACE(l.button);
        rig.press(l.button);
        EXPECT_EQ(rig.role_of(rig.window.get()), QAccessible::Window);
        EXPECT_EQ(rig.name_of(rig.window.get()).toStdString(), l.title);
        EXPECT_EQ(rig.role_of(rig.w("pnMsg")), QAccessible::StatusBar);
        EXPECT_EQ(rig.name_of(rig.w("pnMsg")).toStdString(), rig.form.pnMsg.caption());
        EXPECT_EQ(rig.name_of(rig.w("btnGB")).toStdString(), l.gb);
        EXPECT_EQ(rig.name_of(rig.w("sbID")).toStdString(), l.id_bar);
        EXPECT_EQ(rig.name_of(rig.w("sbFingerNo")).toStdString(), l.finger_bar);
        // Lists are labelled by a caption: their own, or one kept hidden.
        for (const auto& [list, caption] :
             {std::pair{"cmbMode", l.mode_list}, std::pair{"cmbBaudRate", l.baud_list}}) {
            const QLabel* label = nullptr;
            for (QLabel* candidate : rig.window->findChildren<QLabel*>())
                if (candidate->buddy() == rig.w(list)) label = candidate;
            ASSERT_NE(label, nullptr) << list;
            EXPECT_TRUE(label->text().startsWith(QString::fromUtf8(caption)))
                << list << ": " << label->text().toStdString();
        }
        for (const char* lamp : {"shComm", "shCard"})
            EXPECT_EQ(rig.role_of(rig.w(lamp)), QAccessible::Graphic) << lamp;
    }
}

TEST(Accessibility, TheLampsSayTheirStateInWords) {
    Rig rig;
    using torvik::app::kRed;
    using torvik::app::kWhite;
    using torvik::app::kYellow;
    struct Step {
        const char* what;
        std::function<void(TfrmModule&)> act;
        const char* link;  // shComm's name after the step
        const char* lamp;  // shCard's name
        bool busy;
    };
    const Step steps[] = {
        {"start", [](TfrmModule&) {}, "Link indicator: failed", "Card lamp: off", false},
        {"success", [](TfrmModule& f) { f.shComm.set_color(kYellow); },
         "Link indicator: reader found", "Card lamp: off", false},
        {"busy", [](TfrmModule& f) { f.tmrBusy.set_enabled(true); }, "Link indicator: busy",
         "Card lamp: off", true},
        {"blink while busy", [](TfrmModule& f) { f.shComm.set_color(kRed); },
         "Link indicator: busy", "Card lamp: off", true},
        {"busy ends red", [](TfrmModule& f) { f.tmrBusy.set_enabled(false); },
         "Link indicator: failed", "Card lamp: off", false},
        {"card read", [](TfrmModule& f) { f.SetLamp(true); }, "Link indicator: failed",
         "Card lamp: lit", false},
        {"lamp out", [](TfrmModule& f) { f.shCard.set_color(kWhite); }, "Link indicator: failed",
         "Card lamp: off", false},
        {"Traditional Chinese", [](TfrmModule& f) { f.SwitchLanguage(2); },
         "連線指示燈：失敗", "讀卡指示燈：熄滅", false},
        {"success in Chinese", [](TfrmModule& f) { f.shComm.set_color(kYellow); },
         "連線指示燈：已找到讀卡機", "讀卡指示燈：熄滅", false},
    };
    QWidget* link = rig.w("shComm");
    QWidget* lamp = rig.w("shCard");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act(rig.form);
        EXPECT_EQ(rig.name_of(link).toStdString(), s.link);
        EXPECT_EQ(rig.name_of(lamp).toStdString(), s.lamp);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(link)->state().busy, s.busy);
    }
    rig.form.tmrBusy.set_enabled(false);
}

TEST(FocusFrame, GoesAroundWhateverHasTheKeyboardFocus) {
    Rig rig;
    rig.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
    auto* frame = rig.window->findChild<torvik::ui::FocusFrame*>();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->color(), torvik::ui::FocusColour());
    // Set to be seen against the button face around every control.
    const QColor face = rig.window->palette().color(QPalette::Window);
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double a = luminance(frame->color()), b = luminance(face);
    EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 3.0);

    for (const char* name :
         {"btnScan", "sbID", "cmbBaudRate", "chkLock", "sbFingerNo", "btnFactory", "btnGB",
          "btnExit"}) {
        SCOPED_TRACE(name);
        QWidget* target = rig.w(name);
        target->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), target);
        EXPECT_TRUE(frame->isVisible());
        const QRect around(target->mapTo(rig.window.get(), QPoint()), target->size());
        const int k = torvik::ui::FocusFrame::kWidth;
        EXPECT_EQ(frame->geometry(), around.adjusted(-k, -k, k, k));
        // Drawn over its neighbours, never taking their clicks.
        EXPECT_TRUE(frame->testAttribute(Qt::WA_TransparentForMouseEvents));
        const QImage shot = rig.window->grab().toImage();
        EXPECT_EQ(shot.pixel(around.left() - 1, around.center().y()), frame->color().rgb());
        EXPECT_EQ(shot.pixel(around.center().x(), around.bottom() + 1), frame->color().rgb());
    }
    // A stand-alone control that has the focus and is hidden takes the frame along.
    rig.form.ShowStandAloneControls(true);
    rig.w("edDoor")->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->target(), rig.w("edDoor"));
    rig.form.ShowStandAloneControls(false);
    QCoreApplication::processEvents();
    EXPECT_NE(frame->target(), rig.w("edDoor"));
}

}  // namespace

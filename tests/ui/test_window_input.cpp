// SPDX-License-Identifier: MIT
// What the technician presses: input given while the window is busy is
// dropped (never replayed once it is enabled again), the scroll bars follow
// the keyboard, typed and received text is one byte per character, and the
// window is placed within the screen. The window runs offscreen over the
// simulated reader on a virtual clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/text.h"
#include "app/window_model.h"
#include "ops/reader_operations.h"
#include "sim/reader.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"
#include "ui/layout_table.h"
#include "ui/text_fit.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

// When the operation's input arrives: one of the waits of an operation.
enum class Wait { Sleep100, Exchange, OutcomeBeep, Closing500, AnswerPoll, PollBeep };

const char* const kWaitNames[] = {"100 ms sleep",   "exchange wait", "outcome beep",
                                  "closing 500 ms", "answer poll",   "poll beep"};

// The virtual clock with a look at every sleep.
class WatchedClock final : public torvik::link::Clock {
  public:
    explicit WatchedClock(torvik::doubles::VirtualClock& clock) : clock_(clock) {}
    uint32_t now_ms() override { return clock_.now_ms(); }
    void sleep_ms(uint32_t ms) override {
        if (on_sleep) on_sleep(ms);
        clock_.sleep_ms(ms);
    }
    std::function<void(uint32_t)> on_sleep;

  private:
    torvik::doubles::VirtualClock& clock_;
};

// Handles the Qt events waiting, after a look.
class WatchedPump final : public torvik::link::EventPump {
  public:
    void process_pending() override {
        if (before) before();
        QCoreApplication::processEvents();
    }
    std::function<void()> before;
};

class WatchedBeeper final : public torvik::app::Beeper {
  public:
    explicit WatchedBeeper(torvik::doubles::VirtualClock& clock) : clock_(clock) {}
    void beep(unsigned hz, unsigned ms) override {
        if (on_beep) on_beep(hz, ms);
        clock_.sleep_ms(ms);
    }
    std::function<void(unsigned, unsigned)> on_beep;

  private:
    torvik::doubles::VirtualClock& clock_;
};

// The window over the simulated reader on COM3, after a scan that found it.
struct Rig {
    Rig() {
        line.attach(3, reader);
        reader.silence_after_reset_ms = 1500;  // a few answer polls
        const char* key = "\\Software\\KELDO\\ReaderConfig";
        store.keys[key]["ScanCommNo"] = {torvik::app::ValueType::Dword, 3, {}};
        store.keys[key]["ScanBaudRate"] = {torvik::app::ValueType::String, 0, "19200,e,8,1"};
        store.keys[key]["ScanBaudRateNo"] = {torvik::app::ValueType::Dword, 5, {}};
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QTest::mouseClick(button("btnScan"), Qt::LeftButton);
        settle();
        EXPECT_TRUE(form.state.reader_found);
        line.frames.clear();
    }
    ~Rig() { EXPECT_TRUE(errors.shown.empty()) << errors.shown.front(); }

    QPushButton* button(const std::string& name) { return window->widget_as<QPushButton>(name); }
    // The event loop's passes after an operation: whatever is still queued.
    static void settle() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    // A double-click and an Enter on a button, queued as the window system
    // queues them, plus an Enter to the window (it would press btnScan).
    void queue_input(QPushButton* b) {
        const QPointF at = QRectF(b->rect()).center();
        const QPointF global = b->mapToGlobal(at);
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                          QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons held =
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QCoreApplication::postEvent(
                b, new QMouseEvent(type, at, global, Qt::LeftButton, held, Qt::NoModifier));
        }
        QCoreApplication::postEvent(b,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
        QCoreApplication::postEvent(
            b, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier));
        QCoreApplication::postEvent(
            window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        ++queued;
    }
    // Queues input to `b` at the first wait of the given kind while the
    // window is disabled.
    void arm(Wait wait, QPushButton* b) {
        const auto fire = [this, b] {
            if (queued == 0 && !form.window_enabled()) queue_input(b);
        };
        const auto after_reset = [this] {
            const auto p = line.payloads();
            return std::find(p.begin(), p.end(), "I00R6") != p.end();
        };
        clock.on_sleep = [=](uint32_t ms) {
            if ((wait == Wait::Sleep100 && ms == 100) || (wait == Wait::Closing500 && ms == 500))
                fire();
        };
        pump.before = [=] {
            if (wait == Wait::Exchange || (wait == Wait::AnswerPoll && after_reset())) fire();
        };
        beeper.on_beep = [=](unsigned, unsigned ms) {
            if ((wait == Wait::OutcomeBeep && ms == 300) || (wait == Wait::PollBeep && ms == 50))
                fire();
        };
    }

    torvik::doubles::VirtualClock vclock;
    WatchedClock clock{vclock};
    torvik::doubles::FakeLine line{vclock};
    torvik::sim::Reader reader;
    WatchedPump pump;
    WatchedBeeper beeper{vclock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    TfrmModule form{torvik::app::Services{line, clock, pump, beeper, cursor, errors, store}};
    std::unique_ptr<MainWindow> window;
    int queued = 0;
};

TEST(InputWhileBusy, APressDuringAnyWaitAddsNothingOnTheWire) {
    struct Case {
        const char* button;
        std::vector<Wait> waits;
    };
    const Case cases[] = {
        {"btnID", {Wait::Sleep100, Wait::Exchange, Wait::OutcomeBeep}},
        {"btnFacility", {Wait::Sleep100, Wait::Exchange, Wait::OutcomeBeep}},
        {"btnAdd", {Wait::Sleep100, Wait::Exchange, Wait::OutcomeBeep}},
        {"btnPutTemplate", {Wait::Sleep100, Wait::Exchange, Wait::Closing500, Wait::OutcomeBeep}},
        {"btnCRCmd", {Wait::Exchange, Wait::OutcomeBeep}},
        {"btnFactory",
         {Wait::Sleep100, Wait::Exchange, Wait::AnswerPoll, Wait::PollBeep, Wait::Closing500,
          Wait::OutcomeBeep}},
    };
    for (const Case& c : cases) {
        // What one press sends.
        std::vector<std::string> once;
        {
            Rig rig;
            if (std::string(c.button) == "btnPutTemplate") {
                for (auto* e : {&rig.form.edF1, &rig.form.edF2, &rig.form.edF3})
                    rig.form.user_set_text(*e, std::string(256, '0'));
            }
            QTest::mouseClick(rig.button(c.button), Qt::LeftButton);
            Rig::settle();
            once = rig.line.payloads();
            ASSERT_FALSE(once.empty()) << c.button;
        }
        for (Wait wait : c.waits) {
            SCOPED_TRACE(std::string(c.button) + ", " + kWaitNames[static_cast<int>(wait)]);
            Rig rig;
            if (std::string(c.button) == "btnPutTemplate") {
                for (auto* e : {&rig.form.edF1, &rig.form.edF2, &rig.form.edF3})
                    rig.form.user_set_text(*e, std::string(256, '0'));
            }
            rig.arm(wait, rig.button(c.button));
            QTest::mouseClick(rig.button(c.button), Qt::LeftButton);
            Rig::settle();
            EXPECT_EQ(rig.queued, 1);
            EXPECT_EQ(rig.line.payloads(), once);
            EXPECT_FALSE(rig.window->input_blocked());
        }
    }
}

TEST(InputWhileBusy, TheSameInputGivenToAnIdleWindowRunsTheOperation) {
    // The queued input is real: given while the window is idle, the first
    // click starts the operation (and the rest of it, arriving during that
    // operation, is dropped).
    Rig rig;
    rig.queue_input(rig.button("btnID"));
    Rig::settle();
    EXPECT_EQ(rig.line.payloads(), (std::vector<std::string>{"I00B", "I00C1234567801"}));
    EXPECT_EQ(rig.form.pnMsg.caption(), "Set ID Ok");
}

TEST(InputWhileBusy, TheLiveReadingsStopPressStillWorks) {
    for (const char* name : {"btnReadCard", "btnEncode"}) {
        SCOPED_TRACE(name);
        Rig rig;
        QPushButton* b = rig.button(name);
        int polls = 0;
        rig.pump.before = [&] {
            if (++polls == 3) QTest::mouseClick(b, Qt::LeftButton);
        };
        QTest::mouseClick(b, Qt::LeftButton);
        Rig::settle();
        EXPECT_FALSE(rig.form.state.reading);
        EXPECT_FALSE(rig.form.core.reading_loop);
        EXPECT_GE(polls, 3);
    }
}

// ---- scroll bars ----

struct ScrollRig {
    ScrollRig() {
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    torvik::doubles::VirtualClock vclock;
    torvik::doubles::FakeLine line{vclock};
    WatchedPump pump;
    WatchedBeeper beeper{vclock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    TfrmModule form{torvik::app::Services{line, vclock, pump, beeper, cursor, errors, store}};
    std::unique_ptr<MainWindow> window;
};

TEST(ScrollBars, KeysAndMouseMoveEveryBarTheUsualWay) {
    struct Bar {
        const char* name;
        int min, max, start;
    };
    const Bar bars[] = {{"sbID", 1, 99, 1},
                        {"sbFacility", 0, 65535, 0},
                        {"sbFingerNo", 0, 1000, 1},
                        {"sbCard", 1, 1000, 1}};
    struct Step {
        Qt::Key key;
        int from, expected_offset;  // from: offset above start; expected: offset after
    };
    const Step steps[] = {
        {Qt::Key_Right, 20, 21}, {Qt::Key_Down, 20, 21},     {Qt::Key_Left, 20, 19},
        {Qt::Key_Up, 20, 19},    {Qt::Key_PageDown, 20, 30}, {Qt::Key_PageUp, 20, 10},
    };
    for (const Bar& bar : bars) {
        SCOPED_TRACE(bar.name);
        ScrollRig rig;
        torvik::app::Control* c = rig.form.find(bar.name);
        auto* sb = rig.window->widget_as<QScrollBar>(bar.name);
        ASSERT_TRUE(c && sb);
        sb->setFocus();
        for (const Step& s : steps) {
            SCOPED_TRACE(QTest::toString(s.key));
            sb->setValue(bar.start + s.from);
            QTest::keyClick(sb, s.key);
            EXPECT_EQ(c->position(), bar.start + s.expected_offset);
        }
        QTest::keyClick(sb, Qt::Key_End);
        EXPECT_EQ(c->position(), bar.max);
        QTest::keyClick(sb, Qt::Key_Right);  // stays at the end
        EXPECT_EQ(c->position(), bar.max);
        QTest::keyClick(sb, Qt::Key_Home);
        EXPECT_EQ(c->position(), bar.min);
        QTest::keyClick(sb, Qt::Key_Left);
        EXPECT_EQ(c->position(), bar.min);

        // The mouse on the arrows: right arrow up one, left arrow down one.
        sb->setValue(bar.start + 20);
        const int mid = sb->height() / 2;
        QTest::mouseClick(sb, Qt::LeftButton, Qt::NoModifier, QPoint(sb->width() - 3, mid));
        EXPECT_EQ(c->position(), bar.start + 21);
        QTest::mouseClick(sb, Qt::LeftButton, Qt::NoModifier, QPoint(2, mid));
        EXPECT_EQ(c->position(), bar.start + 20);
    }
}

// ---- bytes on the wire ----

TEST(WireText, ReceivedBytesShowAsLatin1AndTypedTextGoesOutOneBytePerCharacter) {
    // The model holds characters; the window shows them as they are, in
    // any language, and gives typed text back as it was typed.
    struct Case {
        std::string model;
        QString shown;
    };
    const Case cases[] = {
        {torvik::app::TextOfBytes("S/N : 12\xE9\xFF"
                                  "5678"),
         QString::fromUtf8("S/N : 12éÿ5678")},
        {torvik::app::TextOfBytes("\xC3\xA9"), QString::fromUtf8("Ã©")},  // two bytes
        {std::string("序号 : ") + torvik::app::TextOfBytes("\xE9"), QString::fromUtf8("序号 : é")},
        {"", QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(torvik::ui::DisplayText(c.model), c.shown) << c.model;
        EXPECT_EQ(torvik::ui::ModelText(c.shown), c.model);
    }

    ScrollRig rig;
    auto* cmd = rig.window->widget_as<QLineEdit>("edCRCmd");
    ASSERT_NE(cmd, nullptr);
    cmd->setFocus();
    cmd->selectAll();
    for (const QChar ch : QString::fromUtf8("Ωé€A")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(cmd, &press);
    }
    EXPECT_EQ(cmd->text(), QString::fromUtf8("éA"));  // Ω and € have no byte
    EXPECT_EQ(torvik::app::BytesOfText(rig.form.edCRCmd.text()),
              "\xE9"
              "A");
    rig.form.edCRRev.set_text(torvik::app::TextOfBytes("OK\xF6"));
    EXPECT_EQ(rig.window->widget_as<QLineEdit>("edCRRev")->text(), QString::fromUtf8("OKö"));
}

// ---- placement ----

TEST(WindowPlacement, CentredWithinTheAreaOrTopLeftWhenTooLarge) {
    struct Case {
        const char* screen;
        QRect area;
        QSize frame;
        QPoint expected;
    };
    const QSize frame{621 + 2, 579 + 30};
    const Case cases[] = {
        {"1920x1080 at 100 %", {0, 0, 1920, 1040}, frame, {648, 215}},
        {"panel on top", {0, 32, 1920, 1048}, frame, {648, 251}},
        {"second screen", {1920, 0, 1280, 1024}, frame, {1920 + 328, 207}},
        {"1366x768 at 150 %", {0, 0, 911, 487}, frame, {144, 0}},
        {"1920x1080 at 200 %, panel on top", {0, 16, 960, 524}, frame, {168, 16}},
        {"narrower than the window", {100, 50, 600, 400}, frame, {100, 50}},
        {"exact fit", {0, 0, 623, 609}, frame, {0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(torvik::ui::WindowPlacement(c.area, c.frame), c.expected) << c.screen;
    }
}

TEST(WindowScale, TheWholeLayoutShrinksToTheLargestScaleThatFits) {
    // Available areas in Qt's device-independent pixels: the screen divided
    // by the desktop's scale, less a top bar of 27; a title bar of 37.
    struct Case {
        const char* screen;
        QRect available;
        bool shrinks;
    };
    const QMargins frame(1, 37, 1, 1);
    const Case cases[] = {
        {"1920x1080 at 200 %", {0, 27, 960, 513}, true},
        {"1280x1024 at 200 %", {0, 27, 640, 485}, true},
        {"1366x768 at 125 %", {0, 27, 1093, 587}, true},
        {"1366x768 at 150 %", {0, 27, 911, 485}, true},
        {"1920x1080 at 100 %", {0, 27, 1920, 1053}, false},
        {"1366x768 at 100 %", {0, 27, 1366, 741}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen);
        ScrollRig rig;
        MainWindow& window = *rig.window;
        const int font_before = window.widget("pnMsg")->font().pixelSize();
        window.fit_within(c.available, frame);
        const double scale = window.layout_scale();
        // The window with its frame lies within the area, tight in one
        // direction when it had to shrink.
        const QRect outer(window.pos(), window.size().grownBy(frame));
        EXPECT_TRUE(c.available.contains(outer)) << outer.x() << "," << outer.y() << " "
                                                 << outer.width() << "x" << outer.height();
        if (!c.shrinks) {
            EXPECT_EQ(scale, 1.0);
            EXPECT_EQ(window.size(), QSize(621, 579));
            continue;
        }
        EXPECT_LT(scale, 1.0);
        EXPECT_TRUE(outer.height() >= c.available.height() - 1 ||
                    outer.width() >= c.available.width() - 1);
        // Every control of the window is inside it (the service controls
        // stay beyond its edge), clear of its siblings, its text smaller.
        std::vector<QWidget*> placed;
        for (const torvik::ui::LayoutRow& row : torvik::ui::LayoutTable()) {
            QWidget* w = window.widget(std::string(row.name));
            ASSERT_NE(w, nullptr);
            const QRect r = w->geometry();
            if (!row.parent.empty()) {
                EXPECT_TRUE(w->parentWidget()->rect().contains(r)) << row.name;
            } else if (row.place.x < torvik::ui::kClientWidth) {
                EXPECT_TRUE(window.rect().contains(r)) << row.name;
            } else {
                EXPECT_GE(r.left(), window.width()) << row.name;
            }
            for (QWidget* other : placed) {
                if (other->parentWidget() == w->parentWidget()) {
                    EXPECT_FALSE(other->geometry().intersects(r))
                        << row.name << " overlaps " << other->objectName().toStdString();
                }
            }
            placed.push_back(w);
        }
        EXPECT_LT(window.widget("pnMsg")->font().pixelSize(), font_before);
        EXPECT_EQ(window.widget("btnExit")->geometry(),
                  torvik::ui::ScaledPlace(360, 520, 257, 33, scale));
    }
}

TEST(WindowScale, ScaledPlacesKeepTouchingEdgesTogether) {
    struct Case {
        int x, width, next_x;  // a place and the one that starts where it ends
        double scale;
    };
    const Case cases[] = {{8, 345, 353, 0.83}, {0, 621, 621, 0.5}, {104, 249, 353, 0.777},
                          {46, 26, 72, 0.91}};
    for (const Case& c : cases) {
        const QRect a = torvik::ui::ScaledPlace(c.x, 0, c.width, 10, c.scale);
        const QRect b = torvik::ui::ScaledPlace(c.next_x, 0, 10, 10, c.scale);
        EXPECT_EQ(a.right() + 1, b.left()) << c.x << " at " << c.scale;
    }
    EXPECT_EQ(torvik::ui::FitScale({0, 0, 1920, 1040}, {}, {621, 579}), 1.0);
    EXPECT_DOUBLE_EQ(torvik::ui::FitScale({0, 0, 960, 540}, {0, 30, 0, 0}, {621, 579}),
                     510.0 / 579.0);
}

}  // namespace

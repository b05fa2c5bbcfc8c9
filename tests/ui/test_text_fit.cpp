// SPDX-License-Identifier: MIT
// Every text the window shows fits its control with the faces the package
// depends on: captions, list items and status-line texts of all three
// languages, the status texts with their longest values. A text that cannot
// fit at the layout's size is shown whole at a smaller size of its own
// control (never below the legible floor), never clipped; those are listed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextDocumentFragment>
#include <memory>
#include <string>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/catalogue.h"
#include "app/window_model.h"
#include "ops/reader_operations.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"
#include "ui/text_fit.h"
#include "ui/widgets.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

struct FitRig {
    FitRig() {
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
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

// Room a widget gives its text, and the text, measured the way the style
// lays it out; false when the widget shows no text.
struct Measured {
    QString text;
    int width = 0;   // widest line, or widest word on a large button
    int room = 0;    // width available
    int height = 0;  // wrapped height (large buttons)
    int room_h = 0;  // height available (large buttons)
};

bool measure(QWidget* w, Measured& m) {
    const QFontMetrics fm(w->font());
    if (auto* cb = qobject_cast<QComboBox*>(w)) {
        // The list sizes itself to its longest item.
        m.text = cb->currentText();
        m.width = cb->sizeHint().width();
        m.room = cb->width();
        return true;
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        m.text = torvik::ui::PlainCaption(b->text());
        if (m.text.isEmpty()) return false;
        QStyleOptionButton opt;
        opt.initFrom(b);
        const QRect contents = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        m.room = contents.width() - (b->icon().isNull() ? 0 : b->iconSize().width() + 4);
        if (qobject_cast<torvik::ui::LargeButton*>(b)) {
            for (const QString& word : m.text.split(u' ', Qt::SkipEmptyParts))
                m.width = std::max(m.width, fm.horizontalAdvance(word));
            m.height =
                fm.boundingRect(contents, Qt::AlignCenter | Qt::TextWordWrap, m.text).height();
            m.room_h = contents.height();
        } else {
            m.width = fm.horizontalAdvance(m.text);
        }
        return true;
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        m.text = l->textFormat() == Qt::PlainText
                     ? l->text()
                     : QTextDocumentFragment::fromHtml(l->text()).toPlainText();
        if (m.text.isEmpty()) return false;
        m.width = fm.horizontalAdvance(m.text);
        m.room = l->contentsRect().width();
        return true;
    }
    return false;
}

// Status-line texts with the longest values they are composed with.
std::vector<std::string> status_texts(const TfrmModule& f) {
    std::vector<std::string> out;
    for (int row : {2,  17, 18, 20, 21, 23, 24, 33, 35, 37, 38, 40, 41, 43, 44,
                    45, 46, 47, 49, 50, 52, 53, 55, 56, 57, 58, 59, 60, 61}) {
        out.push_back(f.Text(row));
    }
    out.push_back(f.Text(28) + " ....");
    out.push_back(f.Text(33) + " : #16)");
    out.push_back(f.Text(34) + " : #16)");
    out.push_back(f.Text(36) + " = 99");
    out.push_back(f.Text(39) + " = 230400,e,8,1");
    for (const char* format :
         {"Wiegand 26", "Wiegand 34", "Wiegand 42", "RS485 24", "RS485 32", "RS485 40"}) {
        out.push_back(f.Text(42) + " = " + format);
    }
    return out;
}

TEST(TextFit, EveryTextOfEveryLanguageFitsItsControl) {
    FitRig rig;
    TfrmModule& f = rig.form;
    const auto check = [&](const std::string& control, const std::string& what) {
        QWidget* w = rig.window->widget(control);
        if (!w) return;  // the window itself and the timers
        Measured m;
        if (!measure(w, m)) return;
        const std::string where = control + " \"" + m.text.toStdString() + "\" (" + what + ")";
        EXPECT_LE(m.width, m.room) << where << " at " << w->font().pixelSize() << " px";
        EXPECT_LE(m.height, m.room_h) << where;
        EXPECT_GE(w->font().pixelSize(), torvik::ui::kLegibleFloorPx) << where;
        EXPECT_EQ(QFontInfo(w->font()).family().toStdString(), "Liberation Sans") << where;
    };
    const char* languages[] = {"btnEng", "btnGB", "btnBIG5"};
    for (int language = 0; language < 3; ++language) {
        SCOPED_TRACE(languages[language]);
        rig.window->widget_as<QPushButton>(languages[language])->click();
        ASSERT_EQ(f.state.language, language);
        // The readings a found reader leaves in the panels.
        f.pnSerial.set_caption(f.Text(29) + " : 12345678");
        f.pnVersion.set_caption(f.Text(31) + " : 04.01-01");
        for (torvik::app::Control* c : f.controls()) check(c->name(), "caption");
        for (const std::string& text : status_texts(f)) {
            f.pnMsg.set_caption(text);
            check("pnMsg", "status");
        }
        for (const std::string& text :
             {f.Text(25), f.Text(25) + " : 4294967295  FFFFFFFFFFFFFFFF(H)",
              f.Text(25) + " : 4294967295  FFFFFFFF(H)", std::string("KEY : 2580")}) {
            f.pnCardID.set_caption(text);
            check("pnCardID", "reading");
            EXPECT_EQ(rig.window->widget("pnCardID")->toolTip(),
                      torvik::ui::PlainCaption(torvik::ui::DisplayText(text)));
        }
        for (const char* list : {"cmbBaudRate", "cmbMode", "cmbWiegand", "cmbRS485", "cmbCardType"})
            check(list, "items");
        // The one text of the layout that needs a smaller size: the encoded
        // reading's identification (14 px instead of 16 px).
        f.pnCardID.set_caption(f.Text(25) + " : 0000000003  0000000000BC614E(H)");
        EXPECT_LT(rig.window->widget("pnCardID")->font().pixelSize(), 16);
    }
}

}  // namespace

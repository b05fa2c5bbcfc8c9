// SPDX-License-Identifier: MIT
// The Qt window over the window model: places, frame, styles, mirroring of
// model properties, forwarding of user input, the blocked input of a busy
// window and the beeper's fallback. Runs offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "app/alsa_beeper.h"
#include "app/catalogue.h"
#include "app/diagnostics.h"
#include "app/text.h"
#include "app/window_model.h"
#include "link/com_map.h"
#include "link/serial_device.h"
#include "ops/reader_operations.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/doubles/virtual_clock.h"
#include "tests/harness.h"
#include "ui/fonts_icons.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"
#include "ui/text_fit.h"
#include "ui/widgets.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "torvik_ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A machine without serial ports: every open fails at once.
class NoPorts final : public torvik::link::SerialDevice {
  public:
    bool open(int, const std::string&) override { return false; }
    void close() override {}
    void write(const uint8_t*, size_t) override {}
    bool read_byte(uint8_t&) override { return false; }
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { EXPECT_TRUE(errors.shown.empty()) << errors.shown.front(); }

    template <class T = QWidget>
    T* w(const std::string& name) {
        T* found = window->widget_as<T>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    torvik::doubles::VirtualClock clock;
    NoPorts serial;
    torvik::ui::QtEventPump pump;
    torvik::app::SilentBeeper beeper{clock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    TfrmModule form{torvik::app::Services{serial, clock, pump, beeper, cursor, errors, store}};
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, EveryControlStandsAtItsPlaceInItsParent) {
    struct Row {
        const char* name;
        int x, y, width, height;
        const char* parent;
    };
    const Row rows[] = {
        {"gbDefault", 360, 4, 257, 477, "frmModule"},
        {"pnMsg", 8, 4, 345, 40, "frmModule"},
        {"shComm", 310, 8, 23, 20, "pnMsg"},
        {"pnSerial", 8, 48, 169, 28, "frmModule"},
        {"pnVersion", 184, 48, 169, 28, "frmModule"},
        {"btnScan", 8, 78, 345, 35, "frmModule"},
        {"lblID", 8, 125, 49, 22, "frmModule"},
        {"pnID", 64, 122, 33, 25, "frmModule"},
        {"sbID", 104, 123, 249, 23, "frmModule"},
        {"btnID", 8, 150, 345, 33, "frmModule"},
        {"lblBaudRate", 8, 197, 145, 22, "frmModule"},
        {"cmbBaudRate", 160, 192, 171, 28, "frmModule"},
        {"chkLock", 336, 196, 17, 17, "frmModule"},
        {"btnBaudRate", 8, 222, 345, 33, "frmModule"},
        {"cmbMode", 8, 264, 99, 28, "frmModule"},
        {"cmbWiegand", 112, 264, 123, 28, "frmModule"},
        {"cmbRS485", 240, 264, 115, 28, "frmModule"},
        {"btnMode", 8, 294, 345, 33, "frmModule"},
        {"cmbCardType", 8, 336, 169, 28, "frmModule"},
        {"btnCardType", 184, 334, 169, 33, "frmModule"},
        {"pnFacility", 8, 378, 65, 25, "frmModule"},
        {"sbFacility", 80, 379, 97, 23, "frmModule"},
        {"btnFacility", 184, 374, 169, 33, "frmModule"},
        {"lblFingerNo", 8, 421, 81, 22, "frmModule"},
        {"pnFingerNo", 96, 418, 81, 25, "frmModule"},
        {"sbFingerNo", 184, 419, 169, 23, "frmModule"},
        {"btnAdd", 8, 446, 169, 33, "frmModule"},
        {"btnDel", 184, 446, 169, 33, "frmModule"},
        {"shCard", 10, 491, 29, 20, "frmModule"},
        {"pnDI", 46, 488, 25, 28, "frmModule"},
        {"pnCardID", 72, 488, 283, 28, "frmModule"},
        {"btnReadCard", 8, 520, 305, 33, "frmModule"},
        {"btnEncode", 320, 520, 33, 33, "frmModule"},
        {"btnFactory", 12, 24, 229, 65, "gbDefault"},
        {"btnStand", 12, 96, 229, 65, "gbDefault"},
        {"btnDoor", 16, 170, 153, 31, "gbDefault"},
        {"edDoor", 176, 171, 65, 28, "gbDefault"},
        {"btnAlarm", 16, 208, 153, 33, "gbDefault"},
        {"edAlarm", 176, 211, 65, 28, "gbDefault"},
        {"btnSetCard", 16, 248, 225, 33, "gbDefault"},
        {"btnDuress", 16, 288, 225, 33, "gbDefault"},
        {"btnClrCard", 16, 328, 225, 33, "gbDefault"},
        {"btnStandDefault", 16, 368, 225, 57, "gbDefault"},
        {"btnEng", 360, 488, 81, 24, "frmModule"},
        {"btnGB", 448, 488, 81, 24, "frmModule"},
        {"btnBIG5", 536, 488, 81, 24, "frmModule"},
        {"btnExit", 360, 520, 257, 33, "frmModule"},
        {"pnKELDO", 2, 557, 615, 21, "frmModule"},
        {"lblCard", 672, 21, 81, 22, "frmModule"},
        {"pnCard", 760, 18, 81, 25, "frmModule"},
        {"sbCard", 847, 19, 90, 23, "frmModule"},
        {"lblCardID", 672, 69, 129, 22, "frmModule"},
        {"edCard", 816, 64, 121, 28, "frmModule"},
        {"btnAddCard", 671, 102, 130, 33, "frmModule"},
        {"btnGetCard", 816, 102, 129, 33, "frmModule"},
        {"edCRRev", 672, 168, 273, 28, "frmModule"},
        {"edCRCmd", 672, 208, 185, 28, "frmModule"},
        {"btnCRCmd", 864, 206, 81, 33, "frmModule"},
        {"btnGetTemplate", 672, 286, 273, 33, "frmModule"},
        {"btnPutTemplate", 671, 326, 273, 33, "frmModule"},
        {"edF1", 672, 368, 273, 21, "frmModule"},
        {"edF2", 672, 392, 273, 21, "frmModule"},
        {"edF3", 672, 416, 273, 21, "frmModule"},
    };
    std::set<std::string> placed;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget* widget = w(r.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName().toStdString(), r.name);
        EXPECT_EQ(widget->geometry(), QRect(r.x, r.y, r.width, r.height));
        EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), r.parent);
        placed.insert(r.name);
    }
    // Every control of the model but the window and its timers has its place.
    for (const torvik::app::Control* c : form.controls()) {
        const bool placeless =
            c->kind() == torvik::app::Kind::Window || c->kind() == torvik::app::Kind::Timer;
        EXPECT_EQ(placed.count(c->name()) == 1, !placeless) << c->name();
    }
    EXPECT_TRUE(w<QGroupBox>("gbDefault")->title().isEmpty());
}

TEST_F(WindowTest, FixedFrameWithoutMaximiseOrCloseButton) {
    EXPECT_EQ(window->size(), QSize(621, 579));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_EQ(window->windowTitle().toStdString(), "KELDO TORVIK Reader Config V4.01-01");
}

TEST_F(WindowTest, TabOrderStartsAtScanAndStaysWithinTheVisibleWindow) {
    QWidget* first = window->nextInFocusChain();
    while (first != window.get() && !(first->focusPolicy() & Qt::TabFocus))
        first = first->nextInFocusChain();
    EXPECT_EQ(first->objectName(), "btnScan");
    EXPECT_EQ(window->focusWidget(), w("btnScan"));

    // The service controls beyond the window's edge are there, enabled and
    // visible to the model, but the keyboard no longer reaches them: they
    // were never reachable by the mouse either.
    const QRect client = window->rect();
    for (const char* name :
         {"pnCard", "sbCard", "edCard", "btnAddCard", "btnGetCard", "edCRRev", "edCRCmd",
          "btnCRCmd", "btnGetTemplate", "btnPutTemplate", "edF1", "edF2", "edF3"}) {
        SCOPED_TRACE(name);
        QWidget* widget = w(name);
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
        EXPECT_FALSE(client.intersects(widget->geometry()));
        EXPECT_TRUE(widget->isVisibleTo(window.get()));
        EXPECT_TRUE(widget->isEnabled());
    }
    // Tab walks from the last visible control back to the first, and a
    // whole round of Tab presses stays within the client area.
    w("btnExit")->setFocus();
    QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(window->focusWidget(), w("btnScan"));
    std::set<QString> reached;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        QWidget* now = window->focusWidget();
        reached.insert(now->objectName());
        EXPECT_TRUE(client.contains(QRect(now->mapTo(window.get(), QPoint()), now->size())))
            << now->objectName().toStdString();
    }
    for (const char* name : {"sbID", "cmbBaudRate", "chkLock", "cmbCardType", "btnGB", "btnExit"})
        EXPECT_TRUE(reached.count(name)) << name;
}

TEST_F(WindowTest, EachVisualStyleHasItsFontAndColours) {
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    struct Row {
        const char* name;
        int pixel_size;
        bool bold;
        QPalette::ColorRole text_role;
        QColor text;
        QColor background;  // invalid: not checked
    };
    const Row rows[] = {
        {"pnSerial", 16, true, QPalette::WindowText, Qt::yellow, highlight},
        {"cmbBaudRate", 16, true, QPalette::ButtonText, Qt::yellow, highlight},
        {"pnMsg", 16, true, QPalette::WindowText, Qt::white, QColor()},
        {"lblID", 13, false, QPalette::WindowText,
         QApplication::palette().color(QPalette::WindowText), QColor()},
        {"btnFactory", 19, true, QPalette::ButtonText,
         QApplication::palette().color(QPalette::ButtonText), QColor()},
        {"pnKELDO", 11, false, QPalette::WindowText, Qt::white, QColor(128, 0, 128)},
        {"btnEng", 13, false, QPalette::ButtonText, Qt::red, QColor()},
        {"edF1", 11, false, QPalette::Text, QApplication::palette().color(QPalette::Text),
         QColor()},
        {"btnScan", 16, true, QPalette::ButtonText,
         QApplication::palette().color(QPalette::ButtonText), QColor()},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget* widget = w(r.name);
        EXPECT_EQ(widget->font().pixelSize(), r.pixel_size);
        EXPECT_EQ(widget->font().bold(), r.bold);
        EXPECT_EQ(widget->palette().color(r.text_role), r.text);
        if (r.background.isValid()) {
            EXPECT_EQ(widget->palette().color(QPalette::Window), r.background);
        }
    }
    EXPECT_EQ(w<QLabel>("lblID")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    // The status line is darker than the selection colour it derives from.
    EXPECT_LT(w("pnMsg")->palette().color(QPalette::Window).value(), highlight.value());
    EXPECT_EQ(w<QPushButton>("btnGB")->iconSize(), QSize(34, 16));
    for (const char* name : {"btnGB", "btnBIG5"}) {
        const QImage image = w<QPushButton>(name)->icon().pixmap(QSize(34, 16)).toImage();
        ASSERT_FALSE(image.isNull()) << name;
        int red = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) red += qRed(image.pixel(x, y)) > 200 ? 1 : 0;
        EXPECT_GT(red, 40) << name;  // the two characters, drawn in red
    }
    EXPECT_FALSE(w<QPushButton>("btnExit")->icon().isNull());
    EXPECT_TRUE(w<QPushButton>("btnScan")->isDefault());
}

// The faces a text is actually drawn with in a font, fallbacks included.
std::set<std::string> faces_used(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    std::set<std::string> faces;
    for (const QGlyphRun& run : layout.glyphRuns())
        faces.insert(run.rawFont().familyName().toStdString());
    return faces;
}

TEST_F(WindowTest, LanguageSwitchPicksTheMatchingCjkFaceAndKeepsSizes) {
    struct Row {
        const char* button;
        const char* cjk_face;
        const char* title;
    };
    const Row rows[] = {
        {"btnGB", "Noto Sans CJK SC", "KELDO TORVIK 读卡机设定程式 V4.01-01"},
        {"btnBIG5", "Noto Sans CJK TC", "KELDO TORVIK 讀卡機設定程式 V4.01-01"},
        {"btnEng", "Noto Sans CJK SC", "KELDO TORVIK Reader Config V4.01-01"},
    };
    const std::vector<std::string> sample = {"pnMsg",      "btnScan", "lblID",
                                             "btnFactory", "pnKELDO", "cmbMode"};
    std::vector<int> sizes;
    for (const auto& name : sample) sizes.push_back(w(name)->font().pixelSize());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.button);
        w<QPushButton>(r.button)->click();
        EXPECT_EQ(window->windowTitle().toStdString(), r.title);
        for (size_t i = 0; i < sample.size(); ++i) {
            const QFont f = w(sample[i])->font();
            EXPECT_EQ(f.families().last().toStdString(), r.cjk_face) << sample[i];
            EXPECT_EQ(f.families().first().toStdString(), "Liberation Sans") << sample[i];
            EXPECT_EQ(f.pixelSize(), sizes[i]) << sample[i];
        }
        // Characters shared by both scripts ("version") take the glyph forms
        // of the language in force.
        EXPECT_EQ(faces_used(w("pnVersion")->font(), QStringLiteral("版本")),
                  std::set<std::string>{r.cjk_face});
    }
}

TEST_F(WindowTest, TitleBarCloseIsRefusedWhileExitCloses) {
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    w<QPushButton>("btnExit")->click();
    EXPECT_FALSE(window->isVisible());
}

TEST(MnemonicRichText, MarkersBecomeUnderlinesAndTextIsEscaped) {
    const struct {
        const char* caption;
        const char* inner;
    } rows[] = {
        {"Set &BaudRate Ok", "Set <u>B</u>audRate Ok"},
        {"A&&B", "A&amp;B"},
        {"&&&x", "&amp;<u>x</u>"},
        {"<b>&<", "&lt;b&gt;<u>&lt;</u>"},
        {"trailing&", "trailing"},
        {"a   b", "a   b"},
        {"增加指纹(&A)", "增加指纹(<u>A</u>)"},
    };
    for (const auto& r : rows) {
        const QString rich = torvik::ui::MnemonicRichText(QString::fromUtf8(r.caption));
        EXPECT_TRUE(rich.contains(QStringLiteral(">") + QString::fromUtf8(r.inner) +
                                  QStringLiteral("</span>")))
            << r.caption << " -> " << rich.toStdString();
    }
}

TEST_F(WindowTest, ModelChangesShowInTheWidgets) {
    form.pnMsg.set_caption("Set &BaudRate Ok");
    EXPECT_TRUE(w<QLabel>("pnMsg")->text().contains("Set <u>B</u>audRate Ok"));
    form.btnID.set_caption("Set &ID");
    EXPECT_EQ(w<QPushButton>("btnID")->text(), "Set &ID");
    form.shComm.set_color(torvik::app::kYellow);
    EXPECT_EQ(window->widget_as<torvik::ui::ShapeWidget>("shComm")->color(), QColor(255, 255, 0));
    form.cmbBaudRate.set_index(99);  // outside the list: no selection
    EXPECT_EQ(w<QComboBox>("cmbBaudRate")->currentIndex(), -1);
    form.btnDoor.set_visible(true);
    EXPECT_TRUE(w("btnDoor")->isVisible());
    form.gbDefault.set_enabled(false);
    EXPECT_FALSE(w("btnFactory")->isEnabled());
    form.edCRRev.set_text("reply");
    EXPECT_EQ(w<QLineEdit>("edCRRev")->text(), "reply");
    form.sbFacility.set_position(65535);
    EXPECT_EQ(w<QScrollBar>("sbFacility")->value(), 65535);
    EXPECT_TRUE(w<QLabel>("pnFacility")->text().contains("65535"));
}

TEST_F(WindowTest, ComposedStatusTextsShowAsTheCatalogueHasThem) {
    // Two catalogue rows around a literal, and a reader reply's bytes after
    // a catalogue row: each piece shows as its own characters in every
    // language.
    for (int language = 0; language < torvik::app::kLanguages; ++language) {
        form.SwitchLanguage(language);
        form.state.reader_found = true;
        form.state.link.port = 1;  // no port opens on this machine
        for (const char* button : {"btnReadCard", "btnEncode"}) {
            form.press(*form.find(button));
            const std::string expected = torvik::app::catalogue_text(26, language) + " : 1 " +
                                         torvik::app::catalogue_text(27, language);
            EXPECT_EQ(
                torvik::ui::PlainCaption(
                    QTextDocumentFragment::fromHtml(w<QLabel>("pnMsg")->text()).toPlainText()),
                QString::fromUtf8(expected))
                << button << ", language " << language;
        }
        form.pnSerial.set_caption(torvik::app::catalogue_text(29, language) + " : " +
                                  torvik::app::TextOfBytes("12\xE9\xFF"
                                                           "5678"));
        EXPECT_EQ(w<QLabel>("pnSerial")->text(),
                  QString::fromUtf8(torvik::app::catalogue_text(29, language) + " : 12éÿ5678"));
    }
}

TEST_F(WindowTest, UserInputReachesTheModel) {
    w<QScrollBar>("sbID")->setValue(7);
    EXPECT_EQ(form.sbID.position(), 7);
    EXPECT_EQ(w<QLabel>("pnID")->text(), "07");  // plain: no mnemonic to underline

    w<QComboBox>("cmbCardType")->setCurrentIndex(2);
    EXPECT_EQ(form.cmbCardType.index(), 2);

    w<QCheckBox>("chkLock")->click();
    EXPECT_FALSE(form.chkLock.checked());

    struct Row {
        const char* edit;
        QString typed;
        std::string model;
    };
    const Row rows[] = {
        {"edDoor", "12", "12"},    // mask blanks are not part of the value
        {"edAlarm", "9x8", "98"},  // the mask admits digits only
        {"edCRCmd", QString(45, 'Z'), std::string(40, 'Z')},  // at most 40 characters
        {"edCard", "12345678901", "1234567890"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.edit);
        auto* e = w<QLineEdit>(r.edit);
        form.find(r.edit)->set_visible(true);  // the stand-alone edits start hidden
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        e->home(false);
        QTest::keyClicks(e, r.typed);
        EXPECT_EQ(form.find(r.edit)->text(), r.model);
    }
}

TEST_F(WindowTest, EnterPressesTheFocusedButtonOrElseScan) {
    // A scan on a machine without ports ends with "Reader Not Find".
    w("cmbMode")->setFocus();
    QTest::keyClick(w("cmbMode"), Qt::Key_Return);
    EXPECT_EQ(form.pnMsg.caption(), "Reader Not Find");
    EXPECT_EQ(form.state.language, 0);

    QCoreApplication::processEvents();  // the window takes input again
    w("btnGB")->setFocus();
    QTest::keyClick(w("btnGB"), Qt::Key_Return);
    EXPECT_EQ(form.state.language, 1);
    EXPECT_EQ(form.pnMsg.caption(), "请先扫描读卡机!");
}

// How the technician asks for a context menu: a right click on a widget
// (what the platform sends for it), the context-menu key on the focused
// widget (likewise), or Shift+F10 typed there.
enum class Ask { RightClick, MenuKey, ShiftF10 };

void ask_for_menu(QWidget* target, Ask how) {
    const QPoint at = target->rect().center();
    switch (how) {
        case Ask::RightClick: {
            QContextMenuEvent e(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
            QApplication::sendEvent(target, &e);
            break;
        }
        case Ask::MenuKey: {
            target->setFocus();
            QContextMenuEvent e(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
            QApplication::sendEvent(target, &e);
            break;
        }
        case Ask::ShiftF10:
            target->setFocus();
            QTest::keyClick(target, Qt::Key_F10, Qt::ShiftModifier);
            break;
    }
}

// The menu that opened, closed again; nullptr when none opened.
QMenu* open_menu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

TEST_F(WindowTest, ScanAccountIsCopiedFromTheStatusPanelsMenu) {
    // Written in Chinese: the tooltip and the clipboard show the characters,
    // not their bytes.
    const std::string account =
        "扫描尝试了:\nCOM1 (/dev/ttyUSB0) 使用 9600,n,8,1: 乱码 (最先收到的字节: 0A 7F)";
    form.pnMsg.set_hint(account);
    ASSERT_EQ(w("pnMsg")->toolTip().toStdString(), account);
    EXPECT_EQ(w("pnMsg")->toolTip().size(), QString::fromUtf8(account.c_str()).size());
    const struct {
        const char* target;
        Ask how;
        const char* language_button;
        const char* entry;
    } rows[] = {
        {"pnMsg", Ask::RightClick, "btnEng", "Copy scan account"},
        {"btnScan", Ask::MenuKey, "btnEng", "Copy scan account"},
        {"btnScan", Ask::ShiftF10, "btnEng", "Copy scan account"},
        {"chkLock", Ask::ShiftF10, "btnEng", "Copy scan account"},
        {"pnMsg", Ask::RightClick, "btnGB", "复制扫描记录"},
        {"btnReadCard", Ask::MenuKey, "btnBIG5", "複製掃描記錄"},
        {"btnExit", Ask::ShiftF10, "btnBIG5", "複製掃描記錄"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.target) + " " + std::to_string(static_cast<int>(r.how)) + " " +
                     r.language_button);
        w<QPushButton>(r.language_button)->click();
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        ask_for_menu(w(r.target), r.how);
        QMenu* menu = open_menu();
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        QAction* copy = menu->actions().front();
        EXPECT_EQ(copy->text().toStdString(), r.entry);
        EXPECT_TRUE(copy->isEnabled());
        copy->trigger();
        menu->close();
        QCoreApplication::processEvents();
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), account);
        EXPECT_EQ(open_menu(), nullptr);
    }
    // The window's texts stay as they were.
    EXPECT_EQ(w<QLabel>("pnMsg")->text().toStdString(), form.pnMsg.caption());
}

TEST_F(WindowTest, ScanAccountMenuOnlyWhereAskedAndEmptyBeforeAScan) {
    // A right click on a button opens nothing.
    ask_for_menu(w("btnScan"), Ask::RightClick);
    EXPECT_EQ(open_menu(), nullptr);
    // Before any scan there is no account: the entry is there but greyed,
    // and the clipboard keeps what it had.
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    ask_for_menu(w("pnMsg"), Ask::RightClick);
    QMenu* menu = open_menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    menu->actions().front()->trigger();
    menu->close();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "kept");
    // An edit keeps its own menu for the context-menu key.
    auto* edit = w<QLineEdit>("edDoor");
    ask_for_menu(edit, Ask::MenuKey);
    if (QMenu* own = open_menu()) {
        EXPECT_NE(own->objectName(), QStringLiteral("mnuScanAccount"));
        own->close();
    }
}

// A machine whose ports open but where nothing ever answers; each look for
// a byte lets a millisecond pass on the virtual clock.
class SilentPorts final : public torvik::link::SerialDevice {
  public:
    explicit SilentPorts(torvik::doubles::VirtualClock& clock) : clock_(clock) {}
    bool open(int, const std::string&) override { return true; }
    void close() override {}
    void write(const uint8_t*, size_t) override {}
    bool read_byte(uint8_t&) override {
        clock_.sleep_ms(1);
        return false;
    }

  private:
    torvik::doubles::VirtualClock& clock_;
};

// The window with the quiet channel installed, over silent ports.
class QuietChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        torvik::ops::BindOperations(form);
        window = std::make_unique<MainWindow>(form);
        form.FormCreate();
        torvik::app::InstallDiagnostics(form, map);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { EXPECT_TRUE(errors.shown.empty()) << errors.shown.front(); }
    void scan() {
        window->widget_as<QPushButton>("btnScan")->click();
        QCoreApplication::processEvents();  // the window takes input again
    }
    void press(const char* name) { window->widget_as<QPushButton>(name)->click(); }
    std::string tip(const char* name) { return window->widget(name)->toolTip().toStdString(); }

    torvik::link::ComMap map{"/nonexistent-dev", "/nonexistent-sys", "/nonexistent-proc"};
    torvik::doubles::VirtualClock clock;
    SilentPorts serial{clock};
    torvik::ui::QtEventPump pump;
    torvik::app::SilentBeeper beeper{clock};
    torvik::test::TestCursor cursor;
    torvik::test::TestErrors errors;
    torvik::doubles::MemorySettingsStore store;
    TfrmModule form{torvik::app::Services{serial, clock, pump, beeper, cursor, errors, store}};
    std::unique_ptr<MainWindow> window;
};

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

TEST_F(QuietChannelTest, LanguageButtonsRewriteTheTooltips) {
    const struct {
        const char* button;
        const char* tried;    // how the scan account starts
        const char* lock;     // part of the hint on the lock box
        const char* no_port;  // cmbBaudRate before the reader was found
    } languages[] = {
        {"btnEng", "The scan tried:", "lock box beside the baud rate was ticked",
         "no COM port yet"},
        {"btnGB", "扫描尝试了:", "锁定框已勾选", "尚无 COM 端口"},
        {"btnBIG5", "掃描嘗試了:", "鎖定框已勾選", "尚無 COM 埠"},
    };
    // Before a scan: the link tooltip follows the language, there is no account.
    for (const auto& l : languages) {
        SCOPED_TRACE(l.button);
        press(l.button);
        EXPECT_EQ(tip("cmbBaudRate"), l.no_port);
        EXPECT_EQ(tip("pnMsg"), "");
    }
    // A scan with the lock ticked, in Traditional Chinese; the box is
    // cleared afterwards, the account still tells the scan as it ran.
    form.user_set_checked(form.chkLock, true);
    scan();
    ASSERT_FALSE(form.state.reader_found);
    form.user_set_checked(form.chkLock, false);
    const std::string first_account = tip("pnMsg");
    EXPECT_TRUE(starts_with(first_account, languages[2].tried)) << first_account;
    const char* const order[] = {"btnEng", "btnGB", "btnEng", "btnBIG5", "btnGB"};
    std::map<std::string, std::string> account_in;
    for (const char* button : order) {
        SCOPED_TRACE(button);
        press(button);
        const auto& l =
            *std::find_if(std::begin(languages), std::end(languages),
                          [&](const auto& row) { return std::string(row.button) == button; });
        const std::string account = tip("pnMsg");
        EXPECT_TRUE(starts_with(account, l.tried)) << account;
        EXPECT_NE(account.find(l.lock), std::string::npos) << account;
        EXPECT_NE(account.find("COM1"), std::string::npos) << account;
        EXPECT_EQ(tip("cmbBaudRate"), l.no_port);
        // The same account each time the language comes back.
        auto [it, first] = account_in.emplace(button, account);
        if (!first) {
            EXPECT_EQ(it->second, account);
        }
    }
    press("btnBIG5");
    EXPECT_EQ(tip("pnMsg"), first_account);
    // The language buttons still switch the window's captions.
    EXPECT_EQ(form.state.language, 2);
    EXPECT_EQ(window->windowTitle().toStdString(), "KELDO TORVIK 讀卡機設定程式 V4.01-01");
}

TEST_F(WindowTest, BusyWindowSwallowsInputWithoutGreyingOut) {
    auto* eng = w<QPushButton>("btnEng");
    QSignalSpy clicks(eng, &QPushButton::clicked);
    form.frmModule.set_enabled(false);
    EXPECT_TRUE(window->input_blocked());
    QTest::mouseClick(eng, Qt::LeftButton);
    QTest::keyClick(w("sbID"), Qt::Key_Right);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(form.sbID.position(), 1);
    EXPECT_TRUE(eng->isEnabled());

    // Input stays blocked until the queue has been emptied of what came
    // while the window was disabled.
    form.frmModule.set_enabled(true);
    EXPECT_TRUE(window->input_blocked());
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->input_blocked());
    QTest::mouseClick(eng, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(WindowTest, ModelTimersRunAsQtTimersAndTick) {
    QTimer* busy = window->timer("tmrBusy");
    ASSERT_NE(busy, nullptr);
    EXPECT_FALSE(busy->isActive());
    form.tmrBusy.set_enabled(true);
    EXPECT_TRUE(busy->isActive());
    EXPECT_EQ(busy->interval(), 200);
    // The blinker's first tick paints red (the colour it already has), the
    // second yellow.
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.shComm.color() == torvik::app::kYellow; }, 1000));
    form.tmrBusy.set_enabled(false);
    EXPECT_FALSE(busy->isActive());

    form.tmrCard.set_enabled(true);
    EXPECT_EQ(window->timer("tmrCard")->interval(), 1000);
}

TEST(Beepers, WithoutADeviceTheToneIsWaitedOut) {
    for (unsigned ms : {0u, 1u, 300u}) {
        torvik::doubles::VirtualClock clock;
        torvik::app::AlsaBeeper alsa(clock, "torvik-no-such-device");
        alsa.beep(1000, ms);
        EXPECT_EQ(clock.now_ms(), ms);
        EXPECT_FALSE(alsa.has_device());
        alsa.beep(300, ms);  // not retried so soon after the failed open; the wait repeats
        EXPECT_EQ(clock.now_ms(), 2 * ms);

        torvik::doubles::VirtualClock silent_clock;
        torvik::app::SilentBeeper silent(silent_clock);
        silent.beep(1000, ms);
        EXPECT_EQ(silent_clock.now_ms(), ms);
    }
}

}  // namespace

// The group box draws its frame itself (no image file of the style is
// loaded); it must look like the style's own, with and without a title.
TEST(GroupBoxFrame, LooksLikeTheStylesOwn) {
    struct Case {
        QSize size;
        const char* title;
    };
    const Case cases[] = {
        {{257, 477}, ""}, {{257, 477}, "Defaults"}, {{40, 30}, ""}, {{120, 60}, "Stand Alone"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.title) + " " + std::to_string(c.size.width()));
        QWidget parent;
        parent.setFont(torvik::ui::LayoutFont(16, true, 0));
        QGroupBox reference(&parent);
        torvik::ui::GroupBox own(&parent);
        int worst = 0;  // the largest difference of a colour channel
        for (QGroupBox* box : {&reference, static_cast<QGroupBox*>(&own)}) {
            box->setTitle(QString::fromLatin1(c.title));
            box->resize(c.size);
        }
        const QImage a = reference.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage b = own.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(a.size(), b.size());
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                const int d =
                    std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
                worst = std::max(worst, d);
            }
        }
        // Rounding of the style's scaled frame image: a level or two.
        EXPECT_LE(worst, 3);
    }
}

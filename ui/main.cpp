// SPDX-License-Identifier: MIT
// torvik-config: start-up of the tool. Reads the command line, builds the
// platform services, the window model and its Qt window, and runs the event
// loop until btnExit closes the window.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "app/startup.h"
#include "app/window_model.h"
#include "app/window_options.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/exit_cleanup.h"
#include "link/terminal_text.h"
#include "ops/reader_operations.h"
#include "ui/desktop_contrast.h"
#include "ui/fonts_icons.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

constexpr const char* kUsage =
    "usage: torvik-config [options] [Qt options]\n"
    "Configures a KELDO TORVIK reader over a serial line.\n"
    "%s"
    "  --high-contrast    draw the window in its high-contrast look, and keep that\n"
    "                     with the language (--usual-contrast goes back; without\n"
    "                     either, the desktop's high-contrast setting or the kept\n"
    "                     choice decides)\n"
    "  --usual-contrast   draw the window in its usual look, and keep that\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "Qt's own options (-platform NAME, -display DISPLAY, -style NAME, ...) go to Qt.\n";

void usage(FILE* out) {
    std::fprintf(out, kUsage, torvik::app::kSharedOptionsHelp);
}

using Options = torvik::app::WindowOptions;

// Prints the monotonic clock in microseconds right after the watched
// window's first paint, then ends the event loop.
class FirstPaintExit : public QObject {
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, [] {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf(
                    "first-paint-us %lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen_ = false;
};

// Parses the command line into options and COM pins. Returns an exit code
// when the program should end right away.
std::optional<int> parse_options(int argc, char** argv, Options& options,
                                 torvik::link::ComMap& map) {
    std::string error;
    switch (torvik::app::ParseWindowOptions(argc, argv, options, map, error)) {
        case torvik::app::WindowParse::kRun:
            return std::nullopt;
        case torvik::app::WindowParse::kHelp:
            usage(stdout);
            return 0;
        case torvik::app::WindowParse::kVersion:
            std::printf("torvik-config %s\n", TORVIK_VERSION);
            return 0;
        case torvik::app::WindowParse::kError:
            break;
    }
    std::fprintf(stderr, "torvik-config: %s\n", error.c_str());
    usage(stderr);
    return 2;
}

// Holds back Qt's messages while the application is made. When Qt gives up
// on the display (a fatal message, after which it would abort), the program
// ends with a message of its own and status 1; otherwise the messages held
// back go out as they would have.
class StartupMessages {
  public:
    // `display` names the display Qt is about to open, for the message.
    explicit StartupMessages(std::string display) {
        display_ = std::move(display);
        previous_ = qInstallMessageHandler(&StartupMessages::handle);
    }
    ~StartupMessages() { release(); }
    StartupMessages(const StartupMessages&) = delete;
    StartupMessages& operator=(const StartupMessages&) = delete;

    void release() {
        if (!active_) return;
        active_ = false;
        qInstallMessageHandler(previous_);
        for (const auto& m : held_) {
            qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category), m.text);
        }
        held_.clear();
    }

  private:
    struct Held {
        QtMsgType type;
        const char* category;  // Qt's category names are static strings
        QString text;
    };
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type != QtFatalMsg) {
            held_.push_back({type, context.category, text});
            return;
        }
        std::fprintf(stderr,
                     "torvik-config: the display %s cannot be opened (is its X11 server or "
                     "Wayland compositor running, and may this user use it? without a desktop, "
                     "run the window under xvfb-run -a; torvikctl runs every operation from a "
                     "terminal)\n",
                     display_.empty()
                         ? "of this session"
                         : ("\"" + torvik::link::TerminalSafe(display_) + "\"").c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }

    static inline std::string display_;
    static inline QtMessageHandler previous_ = nullptr;
    static inline std::vector<Held> held_;
    bool active_ = true;
};

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Lets the window settle (timers, repaints) for a while.
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// The screenshot sequence: scan, the three languages, a live reading with
// a card on the reader. Ends the event loop with 0, or 1 when a step failed.
void run_screenshot_script(MainWindow& window, TfrmModule& form, const QString& dir) {
    int status = 0;
    const auto save = [&](const char* name) {
        settle(400);
        const QString path = QDir(dir).filePath(QString::fromLatin1(name));
        if (window.grab().save(path)) {
            std::fprintf(stderr, "torvik-config: saved %s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "torvik-config: could not save %s\n", qPrintable(path));
            status = 1;
        }
    };
    const auto click = [&](const char* name) {
        if (auto* b = window.widget_as<QPushButton>(name)) b->click();
    };
    QDir().mkpath(dir);

    click("btnScan");  // returns when the scan has ended
    if (!form.state.reader_found) {
        std::fprintf(stderr, "torvik-config: the scan did not find the simulated reader\n");
        status = 1;
    }
    save("window-en.png");
    click("btnGB");
    save("window-zh-hans.png");
    click("btnBIG5");
    save("window-zh-hant.png");
    click("btnEng");
    settle(200);

    // The reading loop runs inside the press; a timer watches for the first
    // card, takes the picture and presses the button again to stop.
    QElapsedTimer reading;
    QTimer watch;
    const std::string idle_caption = form.pnCardID.caption();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool card = form.pnCardID.caption() != idle_caption;
        if (!card && reading.elapsed() < 9000) return;
        watch.stop();
        if (!card) {
            std::fprintf(stderr, "torvik-config: no card was read\n");
            status = 1;
        }
        save("window-reading.png");
        click("btnReadCard");
    });
    reading.start();
    watch.start(100);
    click("btnReadCard");
    watch.stop();
    settle(200);
    QCoreApplication::exit(status);
}

// Asks for each state the window refuses, one after the other with time for
// the compositor to answer, and prints the size it has afterwards. Ends the
// event loop with 0 when the size and the plain state never changed.
void run_window_state_requests(MainWindow& window) {
    struct Step {
        const char* name;
        Qt::WindowState state;
    };
    static constexpr Step kSteps[] = {{"maximized", Qt::WindowMaximized},
                                      {"fullscreen", Qt::WindowFullScreen}};
    struct Run {
        QSize before;
        size_t next = 0;
        bool changed = false;
        QTimer timer;
    };
    auto run = std::make_shared<Run>();
    run->before = window.size();
    std::printf("window-size shown %dx%d\n", run->before.width(), run->before.height());
    std::fflush(stdout);
    QObject::connect(&run->timer, &QTimer::timeout, &window, [&window, run] {
        // The answer to the previous request has arrived by now.
        if (run->next > 0) {
            const QSize now = window.size();
            const bool plain = !(window.windowHandle()->windowStates() &
                                 (Qt::WindowMaximized | Qt::WindowFullScreen));
            std::printf("window-size after %s %dx%d %s\n", kSteps[run->next - 1].name, now.width(),
                        now.height(), plain ? "plain" : "not plain");
            std::fflush(stdout);
            if (now != run->before || !plain) run->changed = true;
        }
        if (run->next == std::size(kSteps)) {
            run->timer.stop();
            QCoreApplication::exit(run->changed ? 3 : 0);
            return;
        }
        window.windowHandle()->setWindowStates(kSteps[run->next++].state);
    });
    run->timer.start(1000);
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: a kill, Ctrl+C or a logout from now on gives back the
    // port and removes what this run made.
    torvik::link::InstallExitCleanup();
    torvik::link::ComMap com_map;
    Options options;
    if (const auto code = parse_options(argc, argv, options, com_map)) return *code;
    if (options.start.list_ports) return torvik::app::ListPorts(options.start, com_map, stdout);

    // Without a display Qt would abort; say what to do instead.
    if (!env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY") && !env_set("QT_QPA_PLATFORM") &&
        !options.qt_chooses_display) {
        std::fputs(
            "torvik-config: no X11 or Wayland display (DISPLAY and WAYLAND_DISPLAY are "
            "unset): start it in a desktop session, or without one under a virtual "
            "display (xvfb-run -a torvik-config); torvikctl runs every operation from "
            "a terminal, without a window\n",
            stderr);
        return 1;
    }

    // A display that is set but cannot be reached (no X server there, no
    // permission) makes Qt abort while the application is made: its fatal
    // message ends the program here instead, with words and status 1.
    StartupMessages startup_messages(options.qt_display.empty() ? env_or_empty("DISPLAY")
                                                                : options.qt_display);
    QApplication app(argc, argv);
    startup_messages.release();
    // The name the desktop shows for the tool. Set as the application name:
    // a display name would be appended to the window caption on X11 and
    // Wayland, and the caption must read exactly as the window model says.
    QApplication::setApplicationName(QString::fromLatin1(torvik::ui::kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral(TORVIK_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("torvik-config"));
    // Fusion draws with the palette, so the layout's colours show on every
    // desktop theme.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setWindowIcon(torvik::ui::AppIcon());

    torvik::ui::QtErrorBox errors;
    try {
        torvik::link::MonotonicClock clock;
        torvik::ui::QtEventPump pump;
        torvik::ui::QtBusyCursor cursor;
        torvik::app::Assembly assembly(options.start, com_map, {clock, pump, cursor, errors},
                                       torvik::ops::BindOperations,
                                       {"--card-every-ms", "3000", "--quiet"});
        // A settings file that is not one, or a lock file that is a link, is
        // left alone; the technician is told once.
        assembly.store().set_report([](const std::string& text) {
            std::fprintf(stderr, "torvik-config: %s\n", torvik::link::TerminalSafe(text).c_str());
        });
        TfrmModule& form = assembly.form();
        MainWindow window(form);
        FirstPaintExit first_paint;
        if (options.exit_after_first_paint) window.installEventFilter(&first_paint);
        // Creation, and the quiet channel: what the last scan tried in
        // pnMsg's tooltip, the device of the stored COM number in
        // cmbBaudRate's; --trace prints the scan's account too.
        assembly.Create();
        // The look: a choice on the command line is kept with the language.
        if (options.high_contrast && *options.high_contrast != form.state.high_contrast) {
            form.state.high_contrast = *options.high_contrast;
            torvik::app::SaveLanguage(form.svc.store, form.state.language_name,
                                      form.state.high_contrast);
        }
        if (torvik::ui::ChooseHighContrast(
                options.high_contrast,
                !options.high_contrast && torvik::ui::DesktopAsksHighContrast(),
                form.state.high_contrast)) {
            window.set_scheme(torvik::ui::Scheme::HighContrast);
        }
        window.show();  // the first show runs FormShow
        if (options.request_window_states) {
            QTimer::singleShot(500, &window, [&] { run_window_state_requests(window); });
        }
        if (options.screenshot_script) {
            QTimer::singleShot(500, &window, [&] {
                run_screenshot_script(window, form,
                                      QString::fromLocal8Bit(options.screenshot_dir.c_str()));
            });
        }
        return QApplication::exec();
    } catch (const std::exception& e) {
        errors.show_error(e.what());
    } catch (...) {
        errors.show_error("Unexpected error");
    }
    return 1;
}

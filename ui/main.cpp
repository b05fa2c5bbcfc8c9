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
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/alsa_beeper.h"
#include "app/diagnostics.h"
#include "app/file_settings_store.h"
#include "app/startup.h"
#include "app/window_model.h"
#include "app/window_options.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/exit_cleanup.h"
#include "link/posix_serial.h"
#include "link/terminal_text.h"
#include "ops/operations.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

constexpr const char* kUsage =
    "usage: torvik-config [options] [Qt options]\n"
    "Configures a KELDO TORVIK reader over a serial line.\n"
    "%s"
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
                     "torvik-config: the display %s cannot be opened (is the X server "
                     "running, and may this user use it? run under xvfb-run, or set "
                     "QT_QPA_PLATFORM=offscreen for headless use)\n",
                     display_.empty() ? "of this session"
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
            "torvik-config: no display found (set DISPLAY or run under xvfb-run; "
            "QT_QPA_PLATFORM=offscreen for "
            "headless use)\n",
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
        torvik::app::Launch launch(options.start, com_map, {"--card-every-ms", "3000", "--quiet"});
        std::unique_ptr<torvik::app::WireTrace> trace;
        if (options.start.trace)
            trace = std::make_unique<torvik::app::WireTrace>(options.start.trace_file);

        torvik::link::MonotonicClock clock;
        torvik::link::PosixSerialDevice serial(com_map);
        torvik::ui::QtEventPump pump;
        torvik::app::AlsaBeeper beeper(clock);
        torvik::ui::QtBusyCursor cursor;
        torvik::app::FileSettingsStore store(launch.settings_path());
        // A settings file that is not one, or a lock file that is a link, is
        // left alone; the technician is told once.
        store.set_report([](const std::string& text) {
            std::fprintf(stderr, "torvik-config: %s\n", torvik::link::TerminalSafe(text).c_str());
        });

        TfrmModule form(torvik::app::Services{serial, clock, pump, beeper, cursor, errors, store});
        torvik::ops::BindOperations(form);
        if (trace) trace->Attach(form, &com_map);
        MainWindow window(form);
        FirstPaintExit first_paint;
        if (options.exit_after_first_paint) window.installEventFilter(&first_paint);
        form.FormCreate();
        // The quiet channel: what the last scan tried in pnMsg's tooltip, the
        // device of the stored COM number in cmbBaudRate's; --trace prints
        // the scan's account too.
        torvik::app::WireTrace* trace_out = trace.get();
        torvik::app::InstallDiagnostics(form, com_map, [trace_out](const std::string& account) {
            if (trace_out != nullptr) trace_out->Line(account);
        });
        window.show();  // the first show runs FormShow
        if (options.screenshot_script) {
            QTimer::singleShot(
                500, &window, [&] {
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

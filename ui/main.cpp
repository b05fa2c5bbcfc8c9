// torvik-config: start-up of the tool. Reads the command line, builds the
// platform services, the window model and its Qt window, and runs the event
// loop until btnExit closes the window.
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
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
#include "app/window_model.h"
#include "link/clock.h"
#include "link/com_map.h"
#include "link/posix_serial.h"
#include "ops/operations.h"
#include "ui/main_window.h"
#include "ui/qt_platform.h"

namespace {

using torvik::app::TfrmModule;
using torvik::ui::MainWindow;

constexpr const char* kUsage =
    "usage: torvik-config [options]\n"
    "Configures a KELDO TORVIK reader over a serial line.\n"
    "  --simulate         run against the simulated reader (torvik-sim) on COM1,\n"
    "                     with settings kept in a temporary file\n"
    "  --settings FILE    settings file (default %s)\n"
    "  --port COMn=PATH   use PATH as COMn; may be given more than once\n"
    "  --trace            print every frame on stderr\n"
    "  --help             show this text\n"
    "  --version          show the version\n";

void usage(FILE* out) {
    std::fprintf(out, kUsage, torvik::app::kDefaultSettingsPath);
}

struct Options {
    bool simulate = false;
    std::string settings_path;
    bool trace = false;
    // Hidden: drives the window through a fixed sequence and saves images.
    bool screenshot_script = false;
    QString screenshot_dir = QStringLiteral(".");
    bool exit_after_first_paint = false;  // hidden: for the start-up benchmark
};

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
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("torvik-config %s\n", TORVIK_VERSION);
            return 0;
        }
        if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--screenshot-script") {
            options.screenshot_script = true;
        } else if (arg == "--exit-after-first-paint") {
            options.exit_after_first_paint = true;
        } else if (arg == "--settings" || arg == "--port" || arg == "--screenshot-dir") {
            const char* v = value();
            if (v == nullptr) {
                std::fprintf(stderr, "torvik-config: %s needs a value\n", argv[i]);
                usage(stderr);
                return 2;
            }
            if (arg == "--settings") {
                options.settings_path = v;
            } else if (arg == "--screenshot-dir") {
                options.screenshot_dir = QString::fromLocal8Bit(v);
            } else if (!map.add_override(v)) {
                std::fprintf(stderr, "torvik-config: bad --port value %s (expected COMn=PATH)\n",
                             v);
                usage(stderr);
                return 2;
            }
        } else {
            std::fprintf(stderr, "torvik-config: unknown option %s\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    return std::nullopt;
}

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Our own directory, where torvik-sim is installed next to us.
QString own_directory() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        path[n] = '\0';
        return QFileInfo(QString::fromLocal8Bit(path)).absolutePath();
    }
    return QCoreApplication::applicationDirPath();
}

// The simulated reader as a child process behind a pseudo-terminal; stopped
// when this object goes, and by the kernel should this process die first.
class Simulator {
  public:
    // Starts it and returns the terminal's path; throws when it cannot start.
    QString start() {
        const QString program = QDir(own_directory()).filePath(QStringLiteral("torvik-sim"));
        if (!QFileInfo(program).isExecutable()) {
            throw std::runtime_error("The simulated reader was not found: " +
                                     program.toStdString());
        }
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start(program, {QStringLiteral("--card-every-ms"), QStringLiteral("3000"),
                                 QStringLiteral("--quiet")});
        if (!process_.waitForStarted(5000)) {
            throw std::runtime_error("The simulated reader did not start: " +
                                     process_.errorString().toStdString());
        }
        QElapsedTimer waited;
        waited.start();
        while (!process_.canReadLine()) {
            if (waited.elapsed() > 5000 || process_.state() != QProcess::Running) {
                throw std::runtime_error("The simulated reader did not report its terminal.");
            }
            process_.waitForReadyRead(100);
        }
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }

    ~Simulator() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(2000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }

  private:
    QProcess process_;
};

// One line per frame on stderr: milliseconds since start, direction, the
// bytes in hex and their printable characters.
void install_trace(TfrmModule& form) {
    const auto start = std::chrono::steady_clock::now();
    form.link.set_trace([start](char direction, std::string_view bytes) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        std::string hex, text;
        for (unsigned char c : bytes) {
            char h[4];
            std::snprintf(h, sizeof h, "%02X ", c);
            hex += h;
            text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
        }
        if (!hex.empty()) hex.pop_back();
        std::fprintf(stderr, "%9lld ms %c %s  |%s|\n", static_cast<long long>(ms), direction,
                     hex.c_str(), text.c_str());
    });
}

// The technician's quiet channel: the status panel's tooltip tells what the
// last scan tried and why each port failed, the settings list's tooltip
// which device the stored COM number stands for; --trace prints the scan's
// account on stderr as well.
void install_diagnostics(TfrmModule& form, const torvik::link::ComMap& map, bool trace) {
    const auto show_link = [&form, &map] {
        const int port = form.state.link.port;
        form.cmbBaudRate.set_hint(torvik::app::DescribeLink(port, map.path(port)));
    };
    form.on_scan_finished = [&form, &map, trace,
                             show_link](const std::vector<torvik::app::PortAttempt>& record) {
        const std::string text = torvik::app::DescribeScan(record, map.present_devices());
        form.pnMsg.set_hint(text);
        if (trace) std::fprintf(stderr, "%s\n", text.c_str());
        show_link();
    };
    show_link();
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
    torvik::link::ComMap com_map;
    Options options;
    if (const auto code = parse_options(argc, argv, options, com_map)) return *code;

    // Without a display Qt would abort; say what to do instead.
    if (!env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY") && !env_set("QT_QPA_PLATFORM")) {
        std::fputs(
            "torvik-config: no display found (set DISPLAY or run under xvfb-run; "
            "QT_QPA_PLATFORM=offscreen for "
            "headless use)\n",
            stderr);
        return 1;
    }

    QApplication app(argc, argv);
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
        Simulator simulator;
        QTemporaryDir temp_dir;
        std::string settings_path = options.settings_path;
        if (options.simulate) {
            const QString pty = simulator.start();
            if (!com_map.add_override(("COM1=" + pty).toStdString())) {
                throw std::runtime_error("The simulated reader reported no terminal.");
            }
            if (settings_path.empty()) {
                if (!temp_dir.isValid())
                    throw std::runtime_error("No temporary directory for the settings.");
                settings_path = temp_dir.filePath(QStringLiteral("settings.reg")).toStdString();
            }
        }
        if (settings_path.empty()) settings_path = torvik::app::kDefaultSettingsPath;

        torvik::link::MonotonicClock clock;
        torvik::link::PosixSerialDevice serial(com_map);
        torvik::ui::QtEventPump pump;
        torvik::app::AlsaBeeper beeper(clock);
        torvik::ui::QtBusyCursor cursor;
        torvik::app::FileSettingsStore store(settings_path);

        TfrmModule form(torvik::app::Services{serial, clock, pump, beeper, cursor, errors, store});
        torvik::ops::BindOperations(form);
        if (options.trace) install_trace(form);
        MainWindow window(form);
        FirstPaintExit first_paint;
        if (options.exit_after_first_paint) window.installEventFilter(&first_paint);
        form.FormCreate();
        install_diagnostics(form, com_map, options.trace);
        window.show();  // the first show runs FormShow
        if (options.screenshot_script) {
            QTimer::singleShot(
                500, &window, [&] { run_screenshot_script(window, form, options.screenshot_dir); });
        }
        return QApplication::exec();
    } catch (const std::exception& e) {
        errors.show_error(e.what());
    } catch (...) {
        errors.show_error("Unexpected error");
    }
    return 1;
}

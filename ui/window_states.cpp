// SPDX-License-Identifier: MIT
#include "ui/window_states.h"

#include <dlfcn.h>
#include <qpa/qplatformnativeinterface.h>

#include <QGuiApplication>
#include <QWindow>
#include <cstdint>

namespace torvik::ui {

namespace {

constexpr Qt::WindowStates kRefused = Qt::WindowMaximized | Qt::WindowFullScreen;

// The two libwayland-client calls needed, looked up in the copy Qt's
// Wayland plugin has loaded (the program itself does not link it, and runs
// without it on X11).
struct WaylandCalls {
    using Marshal = void* (*)(void* proxy, uint32_t opcode, const void* interface,
                              uint32_t version, uint32_t flags, ...);
    using Version = uint32_t (*)(void* proxy);
    Marshal marshal = nullptr;
    Version version = nullptr;
};

WaylandCalls wayland_calls() {
    WaylandCalls calls;
    void* lib = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) return calls;
    calls.marshal = reinterpret_cast<WaylandCalls::Marshal>(dlsym(lib, "wl_proxy_marshal_flags"));
    calls.version = reinterpret_cast<WaylandCalls::Version>(dlsym(lib, "wl_proxy_get_version"));
    dlclose(lib);  // still held by the plugin
    return calls;
}

// Requests of xdg_toplevel by their number in the xdg-shell protocol.
constexpr uint32_t kUnsetMaximized = 10;
constexpr uint32_t kUnsetFullscreen = 12;

}  // namespace

bool WithdrawWaylandRequest(QWindow* window, Qt::WindowStates asked) {
    if (QGuiApplication::platformName() != QLatin1String("wayland")) return false;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    void* toplevel = native ? native->nativeResourceForWindow("xdg_toplevel", window) : nullptr;
    static const WaylandCalls calls = wayland_calls();
    if (toplevel == nullptr || calls.marshal == nullptr || calls.version == nullptr) return false;
    // Plain requests without arguments: no interface, no new object.
    if (asked & Qt::WindowMaximized)
        calls.marshal(toplevel, kUnsetMaximized, nullptr, calls.version(toplevel), 0);
    if (asked & Qt::WindowFullScreen)
        calls.marshal(toplevel, kUnsetFullscreen, nullptr, calls.version(toplevel), 0);
    return true;
}

FixedSizeStates::FixedSizeStates(QWindow* window) : QObject(window), window_(window) {
    // Qt reports the new state right after passing the request on, while
    // the request still waits to be sent with the next batch.
    connect(window, &QWindow::windowStateChanged, this, [this] {
        const Qt::WindowStates asked = window_->windowStates();
        if (asked & kRefused) withdraw(asked);
    });
}

void FixedSizeStates::withdraw(Qt::WindowStates asked) {
    WithdrawWaylandRequest(window_, asked & kRefused);
    // Qt's idea of the state goes back too (on X11 this asks the window
    // manager to take the state off again).
    window_->setWindowStates(asked & ~kRefused);
}

}  // namespace torvik::ui

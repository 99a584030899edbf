// The desktop program's entry: one instance per user. A second launch hands its URLs to the
// running one and exits. The program shows its window, or none when the plug-in starts it hidden.

#include "Platform/Desktop/QuitSignals.h"
#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"
#include "VellumtideBridge/Sources/Interface/App/VellumtideBridgeApp.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>

namespace {

// Without a display the program still runs (headless), on Qt's offscreen platform.
void chooseHeadlessPlatformWhenNoDisplay() {
    if (std::getenv("QT_QPA_PLATFORM") || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// With no session bus address and no bus at its standard place, the D-Bus library under Qt would
// start a bus daemon of its own through the X server on first use ("autolaunch"), one that
// outlives the program. The program needs no session bus it would have to start: that start is
// turned off before Qt looks for the bus.
void turnOffSessionBusAutolaunch() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code unreadable;
        if (std::filesystem::exists(std::filesystem::path(runtime) / "bus", unreadable))
            return; // the user's bus, which the library finds there by itself
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread starts: SIGTERM, SIGINT and SIGHUP quit through the program's own way out.
    vt::catchQuitSignals();
    chooseHeadlessPlatformWhenNoDisplay();
    turnOffSessionBusAutolaunch();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumtide-bridge"));
    // Desktops find the program's entry, and so its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrelworks.vellumtide.bridge"));
    return VellumtideBridgeApp::run(app, standardBridgeDependencies);
}

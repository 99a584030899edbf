// The desktop program's entry: one instance per user. A second launch hands its URLs to the
// running one and exits. The program shows its window, or none when the plug-in starts it hidden.

#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"
#include "VellumtideBridge/Sources/Interface/App/VellumtideBridgeApp.h"

#include <QApplication>
#include <cstdlib>

namespace {

// Without a display the program still runs (headless), on Qt's offscreen platform.
void chooseHeadlessPlatformWhenNoDisplay() {
    if (std::getenv("QT_QPA_PLATFORM") || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace

int main(int argc, char** argv) {
    chooseHeadlessPlatformWhenNoDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumtide-bridge"));
    // Desktops find the program's entry, and so its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kestrelworks.vellumtide.bridge"));
    return VellumtideBridgeApp::run(app, standardBridgeDependencies);
}

#pragma once
// The desktop program's entry: the forced dark look with the bundled fonts, the one main window
// on the one controller, and the program's run (one instance per user, URLs from the arguments
// and from later launches routed to the controller, which brings this window forward). A
// hidden start, the plug-in's quiet one, shows no window and browses at once.

#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <memory>

class BridgeMainWindow;
class QApplication;

class VellumtideBridgeApp final {
public:
    // Builds the window for the controller; when the controller's window activator is the
    // widgets one, it is pointed at this window.
    explicit VellumtideBridgeApp(BridgeViewModel& model);
    ~VellumtideBridgeApp();
    VellumtideBridgeApp(const VellumtideBridgeApp&) = delete;
    VellumtideBridgeApp& operator=(const VellumtideBridgeApp&) = delete;

    BridgeMainWindow& window() const { return *window_; }
    // Shows the window, unless the start is hidden.
    void start(bool hidden);

    // The dark palette, the bundled fonts and a style that follows the palette, whatever the
    // desktop's own appearance.
    static void applyLook(QApplication& application);

    // Runs the whole program on the application, first sweeping day-old files of earlier drags;
    // returns its exit code. Closing the window quits; a hidden start runs until the window is
    // shown and closed.
    static int run(QApplication& application, const BridgeDependencyMaker& makeDependencies);

private:
    std::unique_ptr<BridgeMainWindow> window_;
};

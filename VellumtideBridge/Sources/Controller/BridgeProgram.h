#pragma once
// The desktop program's run, between its entry and its event loop: one instance per user (a
// second launch hands its URLs to the running one and exits), the controller built from the
// given dependencies, the URLs of the arguments handled, browsing started.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QStringList>
#include <functional>

struct BridgeProgramArguments {
    bool hidden = false; // the plug-in's quiet start: no window is shown
    QStringList urls;

    // From the program's arguments (the first is the program itself); other options are ignored.
    static BridgeProgramArguments parse(const QStringList& arguments);
    // What a second launch hands to the running program ("--hidden" first for a quiet start, then
    // the URLs), and that read back.
    QStringList handOffMessages() const;
    static BridgeProgramArguments fromHandOff(const QStringList& messages);
};

using BridgeDependencyMaker = std::function<BridgeViewModel::Dependencies(const vt::Paths&)>;

// Runs the program on the application that exists already; returns its exit code. started is
// called with the controller before the arguments' URLs reach it. The signals that
// vt::catchQuitSignals() caught quit its event loop.
int runBridgeProgram(const BridgeDependencyMaker& makeDependencies,
                     const std::function<void(BridgeViewModel&)>& started = {});

#include "VellumtideBridge/Sources/Interface/App/VellumtideBridgeApp.h"

#include "Platform/Desktop/QtWidgetsWindowActivator.h"
#include "Platform/UI/DarkLook.h"
#include "Platform/UI/Fonts.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeMainWindow.h"

#include <QApplication>

VellumtideBridgeApp::VellumtideBridgeApp(BridgeViewModel& model)
    : window_(std::make_unique<BridgeMainWindow>(model)) {
    if (auto activator =
            std::dynamic_pointer_cast<vt::QtWidgetsWindowActivator>(model.dependencies().windowActivator))
        activator->setWindow(window_.get());
}

VellumtideBridgeApp::~VellumtideBridgeApp() = default;

void VellumtideBridgeApp::start(bool hidden) {
    if (!hidden)
        window_->show();
}

void VellumtideBridgeApp::applyLook(QApplication& application) {
    vt::ui::installBundledFonts();
    vt::ui::applyDarkLook(application);
    application.setFont(vt::ui::systemFont(13));
}

int VellumtideBridgeApp::run(QApplication& application, const BridgeDependencyMaker& makeDependencies) {
    applyLook(application);
    QApplication::setQuitOnLastWindowClosed(true);
    const bool hidden = BridgeProgramArguments::parse(QApplication::arguments()).hidden;
    auto activator = std::make_shared<vt::QtWidgetsWindowActivator>();
    std::unique_ptr<VellumtideBridgeApp> entry;
    return runBridgeProgram(
        [&makeDependencies, activator](const vt::Paths& paths) {
            BridgeViewModel::Dependencies deps = makeDependencies(paths);
            deps.windowActivator = activator;
            return deps;
        },
        [&application, &entry, hidden](BridgeViewModel& model) {
            entry = std::make_unique<VellumtideBridgeApp>(model);
            // The window goes before the controller it shows.
            QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                             [&entry] { entry.reset(); });
            entry->start(hidden);
        });
}

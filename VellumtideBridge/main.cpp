// The desktop program's entry: one instance per user. A second launch hands its URLs to the
// running one and exits. Until the window exists the program runs its controller headless.

#include "Platform/Desktop/SingleInstance.h"
#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QApplication>
#include <QStringList>
#include <cstdlib>

namespace {

struct Arguments {
    bool hidden = false;
    QStringList urls;
};

Arguments parseArguments(const QStringList& arguments) {
    Arguments parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--hidden"))
            parsed.hidden = true;
        else if (!argument.startsWith(QLatin1String("--")) && !argument.isEmpty())
            parsed.urls.append(argument);
    }
    return parsed;
}

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
    QApplication::setQuitOnLastWindowClosed(false);
    const Arguments arguments = parseArguments(QApplication::arguments());
    const vt::Paths paths = vt::Paths::fromEnvironment();

    vt::SingleInstance instance(paths.runtime.empty() ? paths.temp : paths.runtime,
                                QStringLiteral("vellumtide-bridge"));
    if (!instance.tryBecomePrimary()) {
        QObject::connect(&instance, &vt::SingleInstance::forwarded, &app,
                         [](bool delivered) { QCoreApplication::exit(delivered ? 0 : 1); });
        instance.forward(arguments.urls);
        return app.exec();
    }

    BridgeViewModel model(standardBridgeDependencies(paths));
    QObject::connect(&instance, &vt::SingleInstance::messagesReceived, &model,
                     [&model](const QStringList& urls) {
                         if (urls.isEmpty() && model.deps.windowActivator)
                             model.deps.windowActivator->activate();
                         for (const QString& url : urls)
                             model.handleOpenURL(url);
                     });
    for (const QString& url : arguments.urls)
        model.handleOpenURL(url);
    // Headless there is no window whose first showing starts the browse, so it starts now (a
    // quiet start from the plug-in asks for exactly that).
    model.startBrowsing();
    return app.exec();
}

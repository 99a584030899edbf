#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include "Platform/Desktop/SingleInstance.h"

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// Where the lock file and the hand-off socket live: the user's runtime folder, else a folder of
// the user's own in the temporary folder.
std::filesystem::path handOffFolder(const vt::Paths& paths) {
    if (!paths.runtime.empty())
        return paths.runtime;
    return paths.temp / ("vellumtide-bridge-" + std::to_string(::getuid()));
}

int forwardToRunningInstance(vt::SingleInstance& instance, const QStringList& urls) {
    QObject::connect(&instance, &vt::SingleInstance::forwarded, QCoreApplication::instance(),
                     [](bool delivered) { QCoreApplication::exit(delivered ? 0 : 1); });
    instance.forward(urls);
    return QCoreApplication::exec();
}

} // namespace

BridgeProgramArguments BridgeProgramArguments::parse(const QStringList& arguments) {
    BridgeProgramArguments parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--hidden"))
            parsed.hidden = true;
        else if (!argument.startsWith(QLatin1String("--")) && !argument.isEmpty())
            parsed.urls.append(argument);
    }
    return parsed;
}

int runBridgeProgram(const BridgeDependencyMaker& makeDependencies,
                     const std::function<void(BridgeViewModel&)>& started) {
    const auto arguments = BridgeProgramArguments::parse(QCoreApplication::arguments());
    const vt::Paths paths = vt::Paths::fromEnvironment();

    vt::SingleInstance instance(handOffFolder(paths), QStringLiteral("vellumtide-bridge"));
    // When the hand-off cannot be used the program still runs, only without forwarding.
    if (instance.claim() == vt::SingleInstance::Claim::secondary)
        return forwardToRunningInstance(instance, arguments.urls);

    BridgeViewModel model(makeDependencies(paths));
    if (started)
        started(model);
    QObject::connect(&instance, &vt::SingleInstance::messagesReceived, &model,
                     [&model](const QStringList& urls) {
                         // A second launch without URLs only asks for the window.
                         if (urls.isEmpty() && model.dependencies().windowActivator)
                             model.dependencies().windowActivator->activate();
                         for (const QString& url : urls)
                             model.handleOpenURL(url);
                     });
    for (const QString& url : arguments.urls)
        model.handleOpenURL(url);
    // Without a window there is no first showing to start the browse, so it starts now; a quiet
    // start from the plug-in asks for exactly that.
    model.startBrowsing();
    return QCoreApplication::exec();
}

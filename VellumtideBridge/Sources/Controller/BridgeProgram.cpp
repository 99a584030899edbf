#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include "Platform/Desktop/QuitSignals.h"
#include "Platform/Desktop/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

// Tells why this launch runs without the hand-off; the program itself runs on regardless.
void reportNoHandOff(const QString& reason) {
    std::fprintf(stderr, "vellumtide-bridge: no single-instance hand-off (%s); this launch runs on its own\n",
                 reason.toLocal8Bit().constData());
}

int forwardToRunningInstance(vt::SingleInstance& instance, const QStringList& messages) {
    QObject::connect(&instance, &vt::SingleInstance::forwarded, QCoreApplication::instance(),
                     [](bool delivered) { QCoreApplication::exit(delivered ? 0 : 1); });
    instance.forward(messages);
    return QCoreApplication::exec();
}

// An edit still rendering at quit gets a few seconds to be stored with its overlay entry. The
// loop runs once more, after the first one ended (never inside it); a render cut off after that
// is left waiting, and the next start puts it in place if its edit was stored, or removes it.
void finishEditsInProgress(BridgeViewModel& model) {
    if (!model.renderingEditSampleID())
        return;
    QObject guard;
    QTimer::singleShot(std::chrono::seconds(4), &guard, [] { QCoreApplication::quit(); });
    QObject::connect(&model, &BridgeViewModel::changed, &guard, [&model](BridgeViewModel::Field field) {
        if (field == BridgeViewModel::Field::renderingEditSampleID && !model.renderingEditSampleID())
            QCoreApplication::quit();
    });
    QCoreApplication::exec();
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

QStringList BridgeProgramArguments::handOffMessages() const {
    QStringList messages;
    if (hidden)
        messages.append(QStringLiteral("--hidden"));
    return messages + urls;
}

BridgeProgramArguments BridgeProgramArguments::fromHandOff(const QStringList& messages) {
    return parse(QStringList{QString()} + messages);
}

int runBridgeProgram(const BridgeDependencyMaker& makeDependencies,
                     const std::function<void(BridgeViewModel&)>& started) {
    // A signal to quit (logging out, a service manager, Ctrl-C) takes the same way out as a quit
    // from the window: the loop ends, an edit still rendering is stored, the writes finish.
    vt::quitEventLoopOnCaughtSignals();
    const auto arguments = BridgeProgramArguments::parse(QCoreApplication::arguments());
    const vt::Paths paths = vt::Paths::fromEnvironment();

    vt::SingleInstance instance(paths.runtime, QStringLiteral("vellumtide-bridge"),
                                paths.runtimeIsFallback ? vt::FolderAccess::ownerOnly
                                                        : vt::FolderAccess::noOtherWriters);
    // When the hand-off cannot be used the program still runs, only without forwarding.
    switch (instance.claim()) {
    case vt::SingleInstance::Claim::secondary:
        return forwardToRunningInstance(instance, arguments.handOffMessages());
    case vt::SingleInstance::Claim::unavailable:
        reportNoHandOff(instance.unavailableReason());
        break;
    case vt::SingleInstance::Claim::primary:
        break;
    }

    BridgeViewModel model(makeDependencies(paths));
    if (started)
        started(model);
    QObject::connect(&instance, &vt::SingleInstance::messagesReceived, &model,
                     [&model](const QStringList& messages) {
                         const auto launch = BridgeProgramArguments::fromHandOff(messages);
                         // A plain second launch asks for the window; the plug-in's quiet start
                         // asks for nothing visible. URLs bring the window forward themselves.
                         if (launch.urls.isEmpty() && !launch.hidden && model.dependencies().windowActivator)
                             model.dependencies().windowActivator->activate();
                         for (const QString& url : launch.urls)
                             model.handleOpenURL(url);
                     });
    for (const QString& url : arguments.urls)
        model.handleOpenURL(url);
    // Without a window there is no first showing to start the browse, so it starts now; a quiet
    // start from the plug-in asks for exactly that.
    model.startBrowsing();
    const int status = QCoreApplication::exec();
    finishEditsInProgress(model);
    return status;
}

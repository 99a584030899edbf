#include "VellumtideAU/Window/VellumtideAUViewController.h"

#include "Platform/Desktop/DesktopServices.h"
#include "Platform/UI/Widgets.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideBridgeLocation.h"

#include <QWidget>

VellumtideAUViewController::VellumtideAUViewController(
    VellumtideWindowServices services, std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
    QObject* parent)
    : QObject(parent), services(std::move(services)),
      reference(audioUnitReference ? std::move(audioUnitReference)
                                   : std::make_shared<VellumtideAudioUnitReference>()) {}

VellumtideAUViewController::~VellumtideAUViewController() = default;

std::shared_ptr<VellumtideAudioUnit>
VellumtideAUViewController::createAudioUnit(const vt::au::ComponentDescription& description) {
    auto unit = VellumtideAudioUnit::create(description, 0);
    reference->set(unit);
    return unit;
}

QWidget* VellumtideAUViewController::view() {
    if (!container) {
        container = std::make_unique<QWidget>();
        vt::ui::makeColumn(container.get(), 0);
    }
    return container.get();
}

void VellumtideAUViewController::viewDidLoad() {
    view()->resize(preferredContentSize);
    configureView();
}

void VellumtideAUViewController::configureView() {
    QWidget* host = view();
    if (hosted) {
        host->layout()->removeWidget(hosted);
        delete hosted.data();
    }
    QPointer<VellumtideAUViewController> self(this);
    auto openAction = [self] {
        if (self)
            self->openBridge(QUrl(QStringLiteral("vellumtide://open")));
    };
    auto editAction = [self](const vt::Uuid& id) {
        if (self)
            self->openBridgeEditor(id);
    };
    hosted = new VellumtideAUView(openAction, editAction, reference, services, host);
    host->layout()->addWidget(hosted);
    host->setMinimumSize(hosted->minimumSize());
    requestBridgeLaunchIfNeeded();
}

QUrl VellumtideAUViewController::editorURL(const vt::Uuid& sampleID) {
    return QUrl(QStringLiteral("vellumtide://edit/") + QString::fromStdString(sampleID.string()));
}

void VellumtideAUViewController::openBridgeEditor(const vt::Uuid& sampleID) {
    QUrl url = editorURL(sampleID);
    if (url.isValid())
        openBridge(url);
}

void VellumtideAUViewController::openBridge(const QUrl& url) {
    if (startBridge({url.toString().toStdString()}))
        return;
    if (services.urlOpener)
        services.urlOpener->openUrl(url);
}

bool VellumtideAUViewController::startBridge(const std::vector<std::string>& arguments) {
    auto executable = VellumtideBridgeLocation::executable(services.bundlePath, services.pathVariable);
    return !executable.empty() && services.launcher &&
           services.launcher->startDetached(executable, arguments);
}

void VellumtideAUViewController::requestBridgeLaunchIfNeeded() {
    VellumtideProcessState& process = *services.processState;
    if (process.hasRequestedBridgeLaunch)
        return;
    const double now = services.secondsSince1970();
    auto stored = services.settings->value(QString::fromLatin1(lastLaunchKey));
    const double last = stored ? stored->toDouble() : 0;
    if (last > 0 && now - last <= launchThrottleSeconds)
        return;
    services.settings->setValue(QString::fromLatin1(lastLaunchKey), now);
    process.hasRequestedBridgeLaunch = true;
    QPointer<VellumtideAUViewController> self(this);
    services.scheduler->schedule(launchDelay, [self] {
        if (self)
            self->openBridgeQuietly();
    });
}

// Hidden and not brought forward; without an executable the desktop opens "vellumtide://open".
void VellumtideAUViewController::openBridgeQuietly() {
    if (startBridge({"--hidden"}))
        return;
    if (services.urlOpener)
        services.urlOpener->openUrl(QUrl(QStringLiteral("vellumtide://open")));
}

VellumtideAUView* VellumtideAUViewController::rootView() const {
    return hosted;
}

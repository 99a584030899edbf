#pragma once
// The plug-in's principal object: it holds the one unit reference (its own, or the one the
// plug-in binary shares with it), registers the unit the host plays when it makes it, hosts the window's root
// view, gives the window its two outward actions (open the desktop program, open its editor for a sample) and
// starts the desktop program quietly when a window loads: 0.45 s later, at most once per process and not
// within 12 s of the last automatic start of any instance.

#include "VellumtideAU/Engine/AudioUnitBase.h"
#include "VellumtideAU/Engine/VellumtideAudioUnit.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/Window/VellumtideWindowServices.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QUrl>
#include <memory>

class VellumtideAUView;
class QWidget;

class VellumtideAUViewController final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* lastLaunchKey = "VellumtideAU.lastAutomaticBridgeLaunchAt";
    static constexpr double launchThrottleSeconds = 12;
    static constexpr std::chrono::milliseconds launchDelay{450};
    static constexpr QSize preferredContentSize{620, 520};

    // Without a reference the controller makes its own; the plug-in binary's window passes the
    // reference of the instance it was given.
    explicit VellumtideAUViewController(
        VellumtideWindowServices services,
        std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference = nullptr,
        QObject* parent = nullptr);
    ~VellumtideAUViewController() override;

    // The factory: a new unit, registered with the reference; the host owns it. Throws what
    // the unit's construction throws, leaving the reference as it was.
    std::shared_ptr<VellumtideAudioUnit> createAudioUnit(const vt::au::ComponentDescription& description);
    const std::shared_ptr<VellumtideAudioUnitReference>& audioUnitReference() const { return reference; }

    // The plug-in view, made on first use; the root view fills it.
    QWidget* view();
    // Builds a fresh root view into the plug-in view (replacing an earlier one) and asks for
    // the automatic start of the desktop program.
    void viewDidLoad();
    VellumtideAUView* rootView() const;

    // Starts the desktop program with the URL as its argument (its running instance takes the
    // URL over); when it cannot be started, the desktop's URL opener gets the URL.
    void openBridge(const QUrl& url);
    // "vellumtide://edit/" and the sample's upper-case UUID.
    void openBridgeEditor(const vt::Uuid& sampleID);
    static QUrl editorURL(const vt::Uuid& sampleID);

private:
    void configureView();
    void requestBridgeLaunchIfNeeded();
    void openBridgeQuietly();
    bool startBridge(const std::vector<std::string>& arguments);

    VellumtideWindowServices services;
    std::shared_ptr<VellumtideAudioUnitReference> reference;
    std::unique_ptr<QWidget> container;
    QPointer<VellumtideAUView> hosted;
};

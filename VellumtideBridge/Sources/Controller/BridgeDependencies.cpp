#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"

#include "Platform/Desktop/QtDesktopServices.h"

std::filesystem::path bridgeSettingsFile(const vt::Paths& paths) {
    return paths.config / "vellumtide" / "VellumtideBridge.ini";
}

BridgeViewModel::Dependencies standardBridgeDependencies(const vt::Paths& paths) {
    BridgeViewModel::Dependencies deps;
    deps.paths = paths;
    deps.settings =
        std::make_shared<vt::IniSettingsStore>(QString::fromStdString(bridgeSettingsFile(paths).string()));
    deps.scheduler = std::make_shared<vt::QtScheduler>();
    deps.wallClock = std::make_shared<vt::SystemWallClock>();
    deps.addressBook = std::make_shared<vt::net::ServiceAddressBook>();
    deps.browserFactory = std::make_shared<vt::net::AvahiBrowserFactory>(deps.addressBook);
    deps.interfaces = std::make_shared<vt::net::PosixInterfaceSource>();
    deps.audioPlayers = std::make_shared<vt::PulseAudioPlayerFactory>();
    deps.folderChooser = std::make_shared<vt::QtFolderChooser>();
    deps.alerts = std::make_shared<vt::QtAlertPresenter>();
    deps.urlOpener = std::make_shared<vt::QtUrlOpener>();
    deps.clipboard = std::make_shared<vt::QtClipboard>();
    deps.windowActivator = std::make_shared<vt::QtWindowActivator>();
    deps.audio = BridgeAudioServices::standard();
    return deps;
}

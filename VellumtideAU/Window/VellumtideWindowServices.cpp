#include "VellumtideAU/Window/VellumtideWindowServices.h"

#include "Platform/Core/Paths.h"
#include "Platform/Desktop/QtDesktopServices.h"

#include <QDateTime>
#include <cstdlib>

VellumtideProcessState& VellumtideProcessState::shared() {
    static VellumtideProcessState state;
    return state;
}

VellumtideWindowServices VellumtideWindowServices::standard(const std::filesystem::path& bundlePath) {
    const vt::Paths paths = vt::Paths::fromEnvironment();
    const auto settingsFile = paths.config / "vellumtide" / "VellumtideAU.ini";
    VellumtideWindowServices services;
    services.settings = std::make_shared<vt::IniSettingsStore>(QString::fromStdString(settingsFile.string()));
    services.scheduler = std::make_shared<vt::QtScheduler>();
    services.secondsSince1970 = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
    services.launcher = std::make_shared<vt::PosixProcessLauncher>();
    services.urlOpener = std::make_shared<vt::QtUrlOpener>();
    services.players = makePulseAudioPreviewPlayerFactory();
    services.libraryEnvironment = LibraryEnvironment::fromProcess();
    services.bundlePath = bundlePath;
    const char* path = std::getenv("PATH");
    services.pathVariable = path ? path : "/usr/local/bin:/usr/bin:/bin";
    return services;
}

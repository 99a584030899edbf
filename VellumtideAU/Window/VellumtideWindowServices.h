#pragma once
// Everything the plug-in window reaches outside itself: its settings store, timers, the wall
// clock, the program launcher, the URL opener, the preview players, the user's folders for the
// library reader, and where the bundle lives. Injected so tests never touch the real home,
// start real programs or play real sound.

#include "Platform/Async/Scheduler.h"
#include "Platform/Core/SettingsStore.h"
#include "Platform/Desktop/ProcessLauncher.h"
#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"
#include "VellumtideAU/LibraryReader/RefreshTimer.h"
#include "VellumtideAU/Window/VellumtidePreviewPlayers.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vt {
class UrlOpener;
}

// State shared by every window of one process (one loaded plug-in binary).
struct VellumtideProcessState {
    bool hasRequestedBridgeLaunch = false;

    static VellumtideProcessState& shared();
};

struct VellumtideWindowServices {
    std::shared_ptr<vt::SettingsStore> settings;
    std::shared_ptr<vt::Scheduler> scheduler;
    // Seconds since 1970-01-01, for the launch time shared across instances.
    std::function<double()> secondsSince1970;
    std::shared_ptr<vt::ProcessLauncher> launcher;
    std::shared_ptr<vt::UrlOpener> urlOpener;
    std::shared_ptr<VellumtidePreviewPlayerFactory> players;
    LibraryEnvironment libraryEnvironment;
    // Makes the library's once-a-second timer; null means a Qt timer.
    std::function<std::unique_ptr<RefreshTimer>()> makeRefreshTimer;
    // The installed bundle folder (…/vellumtide.lv2), where the desktop program is looked up from.
    std::filesystem::path bundlePath;
    // The PATH list searched when the program is not beside the bundle's install prefix.
    std::string pathVariable;
    VellumtideProcessState* processState = &VellumtideProcessState::shared();

    // The real ones: settings in <config>/vellumtide/VellumtideAU.ini, Qt timers, the system
    // clock, detached starts, the desktop's URL opener and PulseAudio previews.
    static VellumtideWindowServices standard(const std::filesystem::path& bundlePath);
};

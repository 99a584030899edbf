#pragma once
// The controller's dependencies for the real program: settings in the user's configuration
// folder, real timers, Avahi, getifaddrs, PulseAudio and the Qt desktop services.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

// "<config>/vellumtide/VellumtideBridge.ini".
std::filesystem::path bridgeSettingsFile(const vt::Paths& paths);

BridgeViewModel::Dependencies standardBridgeDependencies(const vt::Paths& paths);

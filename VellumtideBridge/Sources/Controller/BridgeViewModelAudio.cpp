// The controller's audio work: the program's renderer, chop detector and analyser, each run off
// the main thread and awaited.

#include "VellumtideBridge/Sources/Audio/BridgeSampleAnalyzer.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

BridgeAudioServices BridgeAudioServices::standard() {
    BridgeAudioServices services;
    services.render = &BridgeSampleRenderer::render;
    services.detectChops = &BridgeSampleRenderer::detectChops;
    services.analyze = &BridgeSampleAnalyzer::analyze;
    return services;
}

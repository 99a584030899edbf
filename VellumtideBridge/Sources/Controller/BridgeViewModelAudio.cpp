// The controller's audio work: the program's renderer, chop detector and analyser.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

BridgeAudioServices BridgeAudioServices::standard() {
    BridgeAudioServices services;
    const char* unavailable = "Audio processing is not available in this build.";
    services.render = [unavailable](std::filesystem::path, std::filesystem::path,
                                    BridgeSampleEdit) -> QCoro::Task<void> {
        throw std::runtime_error(unavailable);
        co_return;
    };
    services.detectChops = [unavailable](std::filesystem::path,
                                         double) -> QCoro::Task<std::vector<BridgeSampleChop>> {
        throw std::runtime_error(unavailable);
        co_return {};
    };
    services.analyze = [unavailable](std::filesystem::path) -> QCoro::Task<BridgeSampleAnalysis> {
        throw std::runtime_error(unavailable);
        co_return {};
    };
    return services;
}

// The renderer's operations on the normal-priority background pool, awaited from the main thread.
// Kept apart from the work itself, which needs no Qt.

#include "Platform/Async/Background.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

// A plain function rather than a coroutine: the work's closure must not be built inside a
// co_await expression (see Background.h).
QCoro::Task<void> BridgeSampleRenderer::render(std::filesystem::path inputPath,
                                               std::filesystem::path outputPath, BridgeSampleEdit edit) {
    return vt::runInBackground(vt::userInitiatedPool(),
                               [inputPath = std::move(inputPath), outputPath = std::move(outputPath), edit] {
                                   renderSynchronously(inputPath, outputPath, edit);
                               });
}

QCoro::Task<std::vector<BridgeSampleChop>> BridgeSampleRenderer::detectChops(std::filesystem::path inputPath,
                                                                             double sensitivity) {
    // Not a coroutine, for the same reason as render().
    return vt::runInBackground(vt::userInitiatedPool(), [inputPath = std::move(inputPath), sensitivity] {
        return detectChopsSynchronously(inputPath, sensitivity);
    });
}

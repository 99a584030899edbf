// Automatic chopping: detect transients in the raw recording, render each slice to its own WAV
// file, and store the slices in the sample's overlay entry. New chop files are rendered before
// the old ones go, so a failed run leaves the earlier chops playable.

#include "Platform/Async/Background.h"
#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

// Off the main thread: the folder listings grow with the library.
QCoro::Task<> BridgeViewModel::removeChopFiles(SampleItem sample, std::vector<BridgeSampleChop> keep) {
    auto remove = [folder = cache, sample, keep = std::move(keep)] { folder->removeChops(sample, keep); };
    co_await vt::runInBackground(vt::userInitiatedPool(), std::move(remove));
}

QCoro::Task<> BridgeViewModel::autoChop(SampleItem sample, double sensitivity) {
    if (choppingSampleIDs_.count(sample.id))
        co_return;
    const SampleItem* found = librarySample(sample.id);
    if (!found) {
        setErrorMessage("The original sample is missing from the Bridge library.");
        co_return;
    }
    const SampleItem owner = *found;
    const double s = std::isnan(sensitivity) ? 0.0 : std::clamp(sensitivity, 0.0, 1.0);
    QPointer<BridgeViewModel> self(this);

    modifyChoppingSampleIDs([&](auto& ids) { ids.insert(sample.id); });
    ScopeExit clearBusy([self, id = sample.id] {
        if (self)
            self->modifyChoppingSampleIDs([&](auto& ids) { ids.erase(id); });
    });
    setStatusMessage("Finding transients in " + sample.title);
    // An import of the phone's chops for this sample ends first; it leaves the sample to this run.
    for (auto running = phoneChopImports.find(sample.id); running != phoneChopImports.end();
         running = phoneChopImports.find(sample.id)) {
        auto ended = running->second;
        co_await ended;
        if (!self)
            co_return;
    }

    // The chop library folder at the start: a folder switch is refused while the run lasts.
    std::filesystem::path source = cache->sampleURL(owner).value_or(std::filesystem::path());
    std::vector<BridgeSampleChop> chops;
    std::vector<std::filesystem::path> rendered;
    try {
        if (source.empty())
            throw BridgeLibraryError("The sample audio could not be read.");
        chops = co_await deps.audio.detectChops(source, s);
        if (!self)
            co_return;
        for (const BridgeSampleChop& chop : chops) {
            std::filesystem::path output = cache->chopSampleURL(owner, chop);
            co_await deps.audio.render(source, output, chop.edit(BridgeSampleChop::defaultFade));
            if (!self)
                co_return;
            rendered.push_back(output);
        }
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        // Only this run's files go; the earlier chops stay as they were.
        for (const auto& file : rendered)
            vt::removeRegularFile(file);
        reportFailure("Auto chop failed", error.what());
        co_return;
    }

    if (isTombstoned(sample.id)) {
        // Deleted meanwhile: the result has no sample to belong to.
        co_await removeChopFiles(owner, {});
        co_return;
    }
    // The overlay is saved before the earlier chop files go: when it cannot be saved (a full disk),
    // the overlay on disk still names the earlier chops, so they stay and this run's files go.
    BridgeSampleMetadata entry = entryFor(sample.id);
    entry.chopSensitivity = s;
    entry.chopSource = bridgeChopSource;
    entry.chops = chops;
    const bool saved = co_await saveMetadata(entry, sample.id);
    if (!self)
        co_return;
    if (!saved) {
        // The chop fields were taken back with the failed save.
        for (const auto& file : rendered)
            vt::removeRegularFile(file);
        co_return; // "Metadata save failed" and its alert say why
    }
    co_await removeChopFiles(owner, chops);
    if (!self)
        co_return;
    if (chops.empty()) {
        setStatusMessage("No clear transients found");
        co_return;
    }
    // A failure leaves the local results standing; the next mirror pass copies them.
    co_await mirrorLibrary();
    if (!self)
        co_return;
    setStatusMessage("Made " + std::to_string(chops.size()) + " chop" + (chops.size() == 1 ? "" : "s"));
}

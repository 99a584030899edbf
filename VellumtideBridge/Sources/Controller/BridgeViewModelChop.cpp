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

namespace {

// Removes the sample's chop files in one folder whose chop is not among keep.
void removeChopFilesExcept(const std::filesystem::path& folder, const SampleItem& sample,
                           const std::set<std::string>& keep) {
    const std::string prefix = sample.id.string() + "-chop-";
    std::error_code error;
    std::vector<std::filesystem::path> doomed;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) == 0 && !keep.count(name))
            doomed.push_back(it->path());
    }
    for (const auto& file : doomed)
        vt::removeRegularFile(file);
}

} // namespace

// Off the main thread: the folder listings grow with the library.
QCoro::Task<> BridgeViewModel::removeChopFiles(SampleItem sample, std::set<std::string> keep) {
    auto remove = [folder = cache, sample, keep = std::move(keep)] {
        removeChopFilesExcept(folder->chopsDirectory(), sample, keep);
        removeChopFilesExcept(folder->auMirrorChopsDirectory(), sample, keep);
    };
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
    std::set<std::string> keep;
    for (const auto& chop : chops)
        keep.insert(cache->chopSampleURL(owner, chop).filename().string());
    co_await removeChopFiles(owner, std::move(keep));
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

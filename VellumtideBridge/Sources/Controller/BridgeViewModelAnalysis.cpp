// Analysis scheduling: which samples need a new tempo, root and key estimate, running the
// analyser on them one after another, and storing each result into the current overlay entry.

#include "Platform/Async/Background.h"
#include "Platform/Async/Spawn.h"
#include "Platform/Async/TimeSlice.h"
#include "Platform/Core/NumberFormat.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <utility>

namespace {

std::string threeDecimals(double value) {
    return vt::formatFixed(value, 3);
}

} // namespace

std::string BridgeViewModel::analysisFingerprint(const SampleItem& sample, const BridgeSampleEdit& edit) {
    std::string text = sample.fileName;
    text += '|' + vt::formatInteger(sample.byteCount);
    text += '|' + threeDecimals(sample.duration);
    text += '|' + threeDecimals(edit.startTime);
    text += '|' + (edit.endTime ? threeDecimals(*edit.endTime) : std::string("full"));
    text += '|' + threeDecimals(edit.fadeIn);
    text += '|' + threeDecimals(edit.fadeOut);
    text += edit.normalize ? "|norm" : "|raw";
    text += edit.denoise ? "|denoise" : "|no-denoise";
    return text;
}

QCoro::Task<> BridgeViewModel::analyzeSamplesIfNeeded(std::vector<SampleItem> samples,
                                                      std::set<vt::Uuid> forceIDs, bool quiet) {
    QPointer<BridgeViewModel> self(this);
    // A whole library's list is freed off the main thread once the run ends.
    ScopeExit releaseList([&samples] { vt::releaseInBackground(std::move(samples)); });
    const auto scheduler = deps.scheduler;
    const std::uint64_t runGeneration = libraryGeneration;
    // A large library takes a while to look through: the window gets a turn between slices.
    vt::TimeSlice slice;
    int stored = 0;
    bool storedAny = false;
    for (const SampleItem& sample : samples) {
        if (!self)
            co_return;
        if (slice.isSpent()) {
            co_await slice.yield(*scheduler);
            if (!self || runGeneration != libraryGeneration)
                co_return;
        }
        BridgeSampleMetadata entry = entryFor(sample.id);
        if (entry.isDeleted)
            continue;
        BridgeSampleEdit edit = entry.edit.sanitized(sample.duration);
        std::string fingerprint = analysisFingerprint(sample, edit);
        const auto& storedPrint = entry.analysis.sourceFingerprint;
        if (!forceIDs.count(sample.id) && storedPrint && *storedPrint == fingerprint)
            continue;

        std::filesystem::path file;
        if (edit.isActive(sample.duration) && cache->hasEditedSample(sample)) {
            file = cache->editedSampleURL(sample);
        } else if (auto raw = cache->sampleURL(sample)) {
            file = *raw;
        } else {
            continue;
        }
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error))
            continue;

        modifyAnalyzingSampleIDs([&](auto& ids) { ids.insert(sample.id); });
        if (!quiet)
            setStatusMessage("Analyzing " + displayTitle(sample));

        const std::uint64_t generation = libraryGeneration;
        std::optional<BridgeSampleAnalysis> result;
        try {
            result = co_await deps.audio.analyze(file);
        } catch (...) {
            result.reset();
        }
        if (!self)
            co_return;
        // The library folder changed meanwhile: the result (and the rest of the list) belongs to
        // the old folder, whose metadata is no longer the one in memory.
        if (generation != libraryGeneration) {
            modifyAnalyzingSampleIDs([&](auto& ids) { ids.erase(sample.id); });
            co_return;
        }

        const bool succeeded = result.has_value();
        BridgeSampleAnalysis analysis;
        if (succeeded) {
            analysis = *result;
            if (!analysis.analyzedAt)
                analysis.analyzedAt = deps.wallClock->now();
        } else {
            analysis.analyzedAt = deps.wallClock->now();
        }
        analysis.sourceFingerprint = fingerprint;

        // The sample may have been renamed, chopped or deleted meanwhile: only the analysis of
        // the entry as it is now is replaced, and a deleted sample's result is dropped.
        if (!isTombstoned(sample.id)) {
            BridgeSampleMetadata current = entryFor(sample.id);
            current.analysis = analysis;
            updateSampleMetadata(current, sample.id);
            scheduleAnalysisSave();
            storedAny = true;
            if (succeeded)
                ++stored;
        }
        modifyAnalyzingSampleIDs([&](auto& ids) { ids.erase(sample.id); });
    }
    // The run's results reach the disk (with the newest overlay) before it ends.
    const bool saved = !storedAny || co_await saveAnalysisResults();
    if (!self || quiet)
        co_return;
    // A result that did not reach the disk is not an update; the alert says why.
    if (!saved)
        setStatusMessage("Analysis could not be saved");
    else if (stored >= 1)
        setStatusMessage("Analysis updated");
}

void BridgeViewModel::scheduleAnalysisSave() {
    analysisSavePending = true;
    if (analysisSaveTimer)
        return;
    QPointer<BridgeViewModel> self(this);
    analysisSaveTimer = deps.scheduler->schedule(analysisSaveWindow, [self] {
        if (!self)
            return;
        self->analysisSaveTimer.reset();
        vt::spawnStarted(
            [](QCoro::Task<bool> save) -> QCoro::Task<> { co_await save; }(self->saveAnalysisResults()));
    });
}

QCoro::Task<bool> BridgeViewModel::saveAnalysisResults() {
    if (analysisSaveTimer)
        deps.scheduler->cancel(*std::exchange(analysisSaveTimer, std::nullopt));
    analysisSavePending = false;
    // Also when an earlier save took the results: this one ends once they are on disk, and writes
    // them again when that save failed.
    return saveOverlayAndRefresh();
}

void BridgeViewModel::queuePendingAnalysisSave() {
    if (analysisSaveTimer)
        deps.scheduler->cancel(*std::exchange(analysisSaveTimer, std::nullopt));
    if (!std::exchange(analysisSavePending, false))
        return;
    libraryWriter.queue({cache, nullptr, std::make_shared<const BridgeMetadataMap>(sampleMetadata)},
                        {.metadata = true});
}

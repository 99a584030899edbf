// Edit application: clamp the edit to the sample, render it into "Edited" (or remove the
// rendered file for a neutral edit), store it in the current overlay entry and analyse again.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <algorithm>

namespace {
constexpr const char* missingSampleText = "The original sample is missing from the Bridge library.";
}

QCoro::Task<bool> BridgeViewModel::applyEdit(BridgeSampleEdit edit, SampleItem sample) {
    const SampleItem* found = librarySample(sample.id);
    if (!found) {
        setErrorMessage(missingSampleText);
        co_return false;
    }
    if (isRenderingEdit(sample.id)) {
        setStatusMessage("Sample is busy");
        setErrorMessage("Wait until the current edit render finishes, then apply the edit again.");
        co_return false;
    }
    const SampleItem element = *found;
    const BridgeSampleEdit sanitized = edit.sanitized(element.duration);
    const bool active = sanitized.isActive(element.duration);
    QPointer<BridgeViewModel> self(this);

    startEditRendering(sample.id);
    ScopeExit clearBusy([self, id = sample.id] {
        if (self)
            self->finishEditRendering(id);
    });

    if (active) {
        std::filesystem::path source = cache->sampleURL(element).value_or(std::filesystem::path());
        try {
            if (source.empty())
                throw BridgeLibraryError("The sample audio could not be read.");
            co_await deps.audio.render(source, cache->editedSampleURL(element), sanitized);
        } catch (const std::exception& error) {
            if (self)
                reportFailure("Edit render failed", error.what());
            co_return false;
        }
        if (!self)
            co_return false;
        if (isTombstoned(sample.id)) {
            // Deleted meanwhile: the rendered file has no sample to belong to.
            cache->removeEditedSample(element);
            setErrorMessage(missingSampleText);
            co_return false;
        }
    } else {
        cache->removeEditedSample(element);
    }

    // Read after the render, so changes made meanwhile (an analysis, a rename) survive.
    BridgeSampleMetadata entry = entryFor(sample.id);
    const bool hadEdit = !entry.edit.isNeutral();
    entry.edit = sanitized;
    if (!co_await saveMetadata(entry, sample.id)) {
        // "Metadata save failed" stays: the edit did not reach the disk, and a first render that
        // no entry names goes too.
        if (self && active && !hadEdit)
            cache->removeEditedSample(element);
        co_return false;
    }
    if (!self)
        co_return false;
    // The rendered file reaches the plug-in's copy off the main thread; a failure is retried by
    // the next pass.
    co_await mirrorLibrary();
    if (!self)
        co_return false;

    std::vector<SampleItem> toAnalyze{element};
    std::set<vt::Uuid> forced{sample.id};
    co_await analyzeSamplesIfNeeded(std::move(toAnalyze), std::move(forced), false);
    if (!self)
        co_return false;
    setStatusMessage(active ? "Edited " + sample.title : "Reset edit");
    co_return true;
}

void BridgeViewModel::startEditRendering(const vt::Uuid& id) {
    renderingEditSampleIDs.push_back(id);
    publish(Field::renderingEditSampleID);
}

// The published id stays on the latest application still running, and is cleared with the last.
void BridgeViewModel::finishEditRendering(const vt::Uuid& id) {
    auto found = std::find(renderingEditSampleIDs.begin(), renderingEditSampleIDs.end(), id);
    if (found == renderingEditSampleIDs.end())
        return;
    const auto before = renderingEditSampleID();
    renderingEditSampleIDs.erase(found);
    if (renderingEditSampleID() != before)
        publish(Field::renderingEditSampleID);
}

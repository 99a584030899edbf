// Edit application: clamp the edit to the sample, render it into "Edited" (or remove the
// rendered file for a neutral edit), store it in the current overlay entry and analyse again.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>

QCoro::Task<bool> BridgeViewModel::applyEdit(BridgeSampleEdit edit, SampleItem sample) {
    const SampleItem* found = librarySample(sample.id);
    if (!found) {
        setErrorMessage("The original sample is missing from the Bridge library.");
        co_return false;
    }
    if (renderingEditSampleIDs.count(sample.id)) {
        setStatusMessage("Sample is busy");
        setErrorMessage("Wait until the current edit render finishes, then apply the edit again.");
        co_return false;
    }
    const SampleItem element = *found;
    const BridgeSampleEdit sanitized = edit.sanitized(element.duration);
    const bool active = sanitized.isActive(element.duration);
    QPointer<BridgeViewModel> self(this);

    renderingEditSampleIDs.insert(sample.id);
    setRenderingEditSampleID(sample.id);
    ScopeExit clearBusy([self, id = sample.id] {
        if (!self)
            return;
        self->renderingEditSampleIDs.erase(id);
        if (self->renderingEditSampleID() == id)
            self->setRenderingEditSampleID(
                self->renderingEditSampleIDs.empty()
                    ? std::nullopt
                    : std::optional<vt::Uuid>(*self->renderingEditSampleIDs.rbegin()));
    });

    if (active) {
        std::filesystem::path source = cache->sampleURL(element).value_or(std::filesystem::path());
        try {
            if (source.empty())
                throw BridgeLibraryError("The sample audio could not be read.");
            co_await deps.audio.render(source, cache->editedSampleURL(element), sanitized);
        } catch (const std::exception& error) {
            if (self)
                reportError("Edit render failed", error.what());
            co_return false;
        }
        if (!self)
            co_return false;
        if (isTombstoned(sample.id)) {
            // Deleted while rendering: the rendered file has no sample to belong to.
            cache->removeEditedSample(element);
            setErrorMessage("The original sample is missing from the Bridge library.");
            co_return false;
        }
        cache->mirrorEditedSample(element);
    } else {
        cache->removeEditedSample(element);
    }

    // Read after the render, so changes made meanwhile (an analysis, a rename) survive.
    BridgeSampleMetadata entry = entryFor(sample.id);
    entry.edit = sanitized;
    if (!saveMetadata(entry, sample.id))
        co_return false;

    std::vector<SampleItem> toAnalyze{element};
    std::set<vt::Uuid> forced{sample.id};
    co_await analyzeSamplesIfNeeded(std::move(toAnalyze), std::move(forced), false);
    if (!self)
        co_return false;
    setStatusMessage(active ? "Edited " + sample.title : "Reset edit");
    co_return true;
}

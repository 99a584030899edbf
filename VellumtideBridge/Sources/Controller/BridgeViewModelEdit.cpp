// Edit application: clamp the edit to the sample, render it beside "Edited/<UUID>.wav", store it
// in the current overlay entry and put the render in place (or remove the rendered file for a
// neutral edit) once it is stored, then analyse again.

#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <algorithm>

namespace {

constexpr const char* missingSampleText = "The original sample is missing from the Bridge library.";

// What the pass that stored an edit did with its rendered file (written on the writer's thread,
// read once the pass has ended).
struct EditPlacement {
    bool stored = false; // the overlay on disk holds the edit
    std::optional<std::string> failure;
};

} // namespace

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
    // Rendered and kept as it will be stored (a start or fade of 1 ms or less is none), so that
    // the rendered file is the one of the edit a restart reads back.
    const BridgeSampleEdit sanitized = edit.sanitized(element.duration).asStored();
    const bool active = sanitized.isActive(element.duration);
    QPointer<BridgeViewModel> self(this);

    startEditRendering(sample.id);
    ScopeExit clearBusy([self, id = sample.id] {
        if (self)
            self->finishEditRendering(id);
    });

    // The render waits beside the rendered edit until the edit is stored, so the rendered edit is
    // always the one of the stored edit (after a crash, the next start settles what waits).
    const std::filesystem::path pending = cache->pendingEditedSampleURL(element, sanitized);
    if (active) {
        std::filesystem::path source = cache->sampleURL(element).value_or(std::filesystem::path());
        try {
            if (source.empty())
                throw BridgeLibraryError("The sample audio could not be read.");
            co_await deps.audio.render(source, pending, sanitized);
        } catch (const std::exception& error) {
            vt::removeRegularFile(pending);
            if (self)
                reportFailure("Edit render failed", error.what());
            co_return false;
        }
        if (!self)
            co_return false;
        if (isTombstoned(sample.id)) {
            // Deleted meanwhile: the render has no sample to belong to.
            vt::removeRegularFile(pending);
            setErrorMessage(missingSampleText);
            co_return false;
        }
    }

    // Read after the render, so changes made meanwhile (an analysis, a rename) survive.
    BridgeSampleMetadata entry = entryFor(sample.id);
    // A reset's rendered file waits hidden as the render of the edit still stored until the reset
    // is stored: a crash before puts it back at the next start, one after removes it.
    const BridgeSampleEdit previous = entry.edit;
    const bool held = !active && cache->holdRenderedEdit(element, previous);
    entry.edit = sanitized;
    updateSampleMetadata(entry, sample.id);
    // The rendered file follows in the pass that stores the edit: the render is put in place, or
    // a reset's rendered file goes.
    auto placement = std::make_shared<EditPlacement>();
    auto followUp = [folder = cache, element, sanitized, active, previous,
                     placement](const BridgeMetadataMap& stored) {
        auto kept = stored.find(element.id);
        const BridgeSampleEdit storedEdit = kept == stored.end() ? BridgeSampleEdit() : kept->second.edit;
        placement->stored = active ? storedEdit == sanitized : storedEdit.isNeutral();
        if (!placement->stored)
            return;
        try {
            if (active) {
                folder->placePendingEdit(element, sanitized);
            } else {
                vt::removeRegularFile(folder->pendingEditedSampleURL(element, previous));
                folder->removeEditedSample(element);
            }
        } catch (const std::exception& error) {
            placement->failure = error.what();
        }
    };
    const bool saved = co_await saveOverlayAndRefresh(std::move(followUp));
    if (!self)
        co_return false;
    if (!saved || !placement->stored) {
        // "Metadata save failed" says why, and the edit was taken back: the render goes (a reset's
        // rendered file comes back), and the rendered edit stays the one of the edit still stored.
        if (active)
            vt::removeRegularFile(pending);
        else if (held)
            try {
                cache->placePendingEdit(element, previous);
            } catch (const BridgeLibraryError&) {
                // It waits: the next start puts it back, as the edit is still stored.
            }
        co_return false;
    }
    if (placement->failure) {
        // Stored, but the render stays waiting: the next start puts it in place.
        reportFailure("Edit render failed", *placement->failure);
        co_return false;
    }
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

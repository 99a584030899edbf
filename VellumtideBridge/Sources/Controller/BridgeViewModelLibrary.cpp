// Library operations on the local overlay: rename, favourite, delete, the edit sheet, and the
// two methods every writer of the overlay goes through.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <algorithm>

void BridgeViewModel::updateSampleMetadata(const BridgeSampleMetadata& entry, const vt::Uuid& id) {
    if (entry.isEmpty())
        sampleMetadata.erase(id);
    else
        sampleMetadata[id] = entry;
}

bool BridgeViewModel::saveMetadata(const BridgeSampleMetadata& entry, const vt::Uuid& id) {
    updateSampleMetadata(entry, id);
    try {
        cache->saveLocalMetadata(sampleMetadata);
    } catch (const std::exception& error) {
        reportFailure("Metadata save failed", error.what());
        return false;
    }
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    return true;
}

void BridgeViewModel::renameSample(const SampleItem& passed, const std::string& passedTitle) {
    // A copy: the caller may hand in an element of the list this operation republishes.
    const SampleItem sample = passed;
    const std::string title = passedTitle;
    std::string trimmed = trimmedText(title);
    if (trimmed.empty()) {
        setErrorMessage("Sample names cannot be empty.");
        return;
    }
    BridgeSampleMetadata entry = entryFor(sample.id);
    if (entry.titleOverride && *entry.titleOverride == trimmed)
        return;
    entry.titleOverride = trimmed;
    if (!saveMetadata(entry, sample.id))
        return; // "Metadata save failed" stays: the rename did not reach the disk.
    setStatusMessage("Renamed " + trimmed);
}

void BridgeViewModel::toggleFavorite(const SampleItem& passed) {
    // A copy: the caller may hand in an element of the list this operation republishes.
    const SampleItem sample = passed;
    BridgeSampleMetadata entry = entryFor(sample.id);
    const SampleItem* owner = librarySample(sample.id);
    bool phoneValue = owner ? owner->isFavorite : false;
    entry.isFavorite = false;
    if (phoneValue != sample.isFavorite)
        entry.favoriteOverride.reset();
    else
        entry.favoriteOverride = !sample.isFavorite;
    saveMetadata(entry, sample.id);
}

void BridgeViewModel::toggleFavoriteFilter() {
    setShowFavoritesOnly(!showFavoritesOnly_);
}

void BridgeViewModel::deleteSample(const SampleItem& passed) {
    // A copy: the caller may hand in an element of the list this operation republishes.
    const SampleItem sample = passed;
    if (isSampleBusy(sample.id)) {
        setStatusMessage("Sample is busy");
        setErrorMessage("Wait until the current edit or chop render finishes, then delete it.");
        return;
    }
    const SampleItem* found = librarySample(sample.id);
    const SampleItem owner = found ? *found : sample;

    bool playsThisSample = playingSampleID_ == sample.id;
    bool playsOneOfItsChops = playingChopID_ && std::any_of(sample.chops.begin(), sample.chops.end(),
                                                            [&](const BridgeSampleChop& chop) {
                                                                return chop.id == *playingChopID_;
                                                            });
    if (playsThisSample || playsOneOfItsChops)
        stopPreview(false);
    if (editingSample_ && editingSample_->id == sample.id)
        setEditingSample(std::nullopt);

    BridgeSampleMetadata tombstone;
    tombstone.isDeleted = true;
    sampleMetadata[sample.id] = tombstone;
    cache->removeSampleFiles(owner);
    std::optional<std::string> mirrorProblem;
    try {
        cache->mirrorLibrary(librarySamples, sampleMetadata);
    } catch (const BridgeIncompleteCopyError& error) {
        mirrorProblem = error.what(); // the deletion itself is saved
    } catch (const std::exception& error) {
        reportFailure("Delete failed", error.what());
        return;
    }
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    setStatusMessage("Deleted " + sample.title);
    if (mirrorProblem)
        setErrorMessage(*mirrorProblem);
}

void BridgeViewModel::editSample(const SampleItem& sample) {
    setEditingSample(sample);
}

// Library operations on the local overlay: rename, favourite, delete, the edit sheet, and the
// two methods every writer of the overlay goes through.

#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QPointer>
#include <algorithm>

namespace {

bool isIncompleteCopy(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const BridgeIncompleteCopyError&) {
        return true;
    } catch (...) {
        return false;
    }
}

// How much more free space the files a mirror pass could not copy need, as a sentence after its
// text; empty when the free space is unknown or would do (the copies failed for another reason).
std::string missingSpaceText(const std::exception_ptr& error, std::optional<std::uint64_t> available) {
    std::uint64_t needed = 0;
    try {
        std::rethrow_exception(error);
    } catch (const BridgeIncompleteCopyError& incomplete) {
        needed = incomplete.bytesNeeded();
    } catch (...) {
    }
    if (!available || *available >= needed)
        return {};
    return "\nThe plug-in's library needs " +
           BridgeFormatters::bytes(static_cast<std::int64_t>(needed - *available)) +
           " more free space for them.";
}

} // namespace

void BridgeViewModel::updateSampleMetadata(const BridgeSampleMetadata& entry, const vt::Uuid& id) {
    if (entry.isEmpty())
        sampleMetadata.erase(id);
    else
        sampleMetadata[id] = entry;
}

QCoro::Task<std::optional<std::string>> BridgeViewModel::writeLibrary(
    BridgeLibraryWriter::Parts parts, std::shared_ptr<const std::vector<SampleItem>> samples,
    BridgeLibraryWriter::FollowUp followUp, std::optional<std::string>* mirrorProblem) {
    // The snapshot is taken now, before the first suspension.
    BridgeLibraryWriter::Snapshot snapshot;
    snapshot.cache = cache;
    if ((parts.manifest || parts.mirror) && !samples) {
        // The list changes seldom: comparing is cheaper than copying it for every pass.
        if (!librarySnapshot || *librarySnapshot != librarySamples)
            librarySnapshot = std::make_shared<const std::vector<SampleItem>>(librarySamples);
        samples = librarySnapshot;
    }
    snapshot.samples = std::move(samples);
    if (parts.metadata || parts.mirror)
        snapshot.metadata = std::make_shared<const BridgeMetadataMap>(sampleMetadata);
    const auto mirrorRoot = cache->auMirrorRootURL();
    QPointer<BridgeViewModel> self(this);
    auto outcome = co_await libraryWriter.write(std::move(snapshot), parts, std::move(followUp));
    std::optional<std::string> failure;
    auto error = outcome.failureFor(parts);
    if (self && parts.mirror)
        isMirrorIncomplete = error != nullptr;
    if (mirrorProblem && error && error == outcome.mirror && isIncompleteCopy(error))
        *mirrorProblem = BridgeLibraryWriter::failureText(error) +
                         (self ? missingSpaceText(error, freeSpaceOf(mirrorRoot)) : std::string());
    else if (error)
        failure = BridgeLibraryWriter::failureText(error);
    co_return failure;
}

std::optional<std::uint64_t> BridgeViewModel::freeSpaceOf(const std::filesystem::path& folder) const {
    return deps.freeSpace ? deps.freeSpace(folder) : BridgeSampleCache::availableSpace(folder);
}

QCoro::Task<std::optional<std::string>>
BridgeViewModel::mirrorLibrary(std::optional<std::string>* mirrorProblem) {
    return writeLibrary({.manifest = true, .metadata = true, .mirror = true}, nullptr, nullptr,
                        mirrorProblem);
}

QCoro::Task<bool> BridgeViewModel::saveMetadata(BridgeSampleMetadata entry, vt::Uuid id) {
    updateSampleMetadata(entry, id);
    return saveOverlayAndRefresh();
}

QCoro::Task<bool> BridgeViewModel::saveOverlayAndRefresh(BridgeLibraryWriter::FollowUp followUp) {
    QPointer<BridgeViewModel> self(this);
    std::optional<std::string> failure =
        co_await writeLibrary({.metadata = true}, nullptr, std::move(followUp));
    if (!self)
        co_return false;
    if (failure) {
        reportFailure("Metadata save failed", *failure);
        co_return false;
    }
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    co_return true;
}

void BridgeViewModel::overlayWriteEnded(const std::shared_ptr<const BridgeSampleCache>& folder,
                                        const std::shared_ptr<const BridgeMetadataMap>& overlay,
                                        bool stored) {
    if (folder != cache)
        return; // a write into a folder left since
    if (stored) {
        storedMetadata = overlay;
        return;
    }
    revertUnsavedChanges(*overlay);
    // A pass queued meanwhile took the state with the failed changes in it.
    libraryWriter.replaceQueuedOverlay(cache, std::make_shared<const BridgeMetadataMap>(sampleMetadata));
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
}

namespace {

BridgeSampleMetadata entryIn(const BridgeMetadataMap& overlay, const vt::Uuid& id) {
    auto found = overlay.find(id);
    return found == overlay.end() ? BridgeSampleMetadata() : found->second;
}

// A field that still holds what the failed write tried to store gets the stored value back.
template <typename T> void revertField(T& current, const T& attempted, const T& stored) {
    if (current == attempted)
        current = stored;
}

} // namespace

void BridgeViewModel::revertUnsavedChanges(const BridgeMetadataMap& attempted) {
    const BridgeMetadataMap noneStored;
    const BridgeMetadataMap& stored = storedMetadata ? *storedMetadata : noneStored;
    auto revert = [&](const vt::Uuid& id) {
        const BridgeSampleMetadata tried = entryIn(attempted, id), kept = entryIn(stored, id);
        if (tried == kept)
            return;
        BridgeSampleMetadata current = entryFor(id);
        revertField(current.titleOverride, tried.titleOverride, kept.titleOverride);
        revertField(current.isFavorite, tried.isFavorite, kept.isFavorite);
        revertField(current.favoriteOverride, tried.favoriteOverride, kept.favoriteOverride);
        revertField(current.isDeleted, tried.isDeleted, kept.isDeleted);
        revertField(current.edit, tried.edit, kept.edit);
        revertField(current.chopSensitivity, tried.chopSensitivity, kept.chopSensitivity);
        revertField(current.chopSource, tried.chopSource, kept.chopSource);
        revertField(current.chops, tried.chops, kept.chops);
        updateSampleMetadata(current, id);
    };
    for (const auto& entry : attempted)
        revert(entry.first);
    for (const auto& entry : stored)
        if (!attempted.count(entry.first))
            revert(entry.first);
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
    vt::spawnStarted(finishRename(entry, sample.id, trimmed));
}

QCoro::Task<> BridgeViewModel::finishRename(BridgeSampleMetadata entry, vt::Uuid id, std::string title) {
    QPointer<BridgeViewModel> self(this);
    bool saved = co_await saveMetadata(std::move(entry), id);
    // "Metadata save failed" stays when the rename did not reach the disk.
    if (self && saved)
        setStatusMessage("Renamed " + title);
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
    saveMetadata(entry, sample.id); // runs on; it reports a failure itself
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
    vt::spawnStarted(finishDelete(owner, sample.title));
}

QCoro::Task<> BridgeViewModel::finishDelete(SampleItem owner, std::string shownTitle) {
    QPointer<BridgeViewModel> self(this);
    // The files go once the deletion is stored, in the pass that stored it, off the main thread
    // (folder listings): a deletion that cannot be saved keeps the sample whole.
    auto removeFiles = removalOfDeletedFiles(std::vector<SampleItem>(1, owner));
    std::optional<std::string> mirrorProblem; // the deletion itself is saved
    std::optional<std::string> failure =
        co_await writeLibrary({.manifest = true, .metadata = true, .mirror = true}, nullptr,
                              std::move(removeFiles), &mirrorProblem);
    if (!self)
        co_return;
    if (failure) {
        reportFailure("Delete failed", *failure);
        co_return;
    }
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    setStatusMessage("Deleted " + shownTitle);
    if (mirrorProblem)
        setErrorMessage(*mirrorProblem);
}

BridgeLibraryWriter::FollowUp BridgeViewModel::removalOfDeletedFiles(std::vector<SampleItem> samples) const {
    return [folder = cache, samples = std::move(samples)](const BridgeMetadataMap& stored) {
        for (const auto& sample : samples) {
            auto entry = stored.find(sample.id);
            if (entry != stored.end() && entry->second.isDeleted)
                folder->removeSampleFiles(sample);
        }
    };
}

void BridgeViewModel::editSample(const SampleItem& sample) {
    setEditingSample(sample);
}

// Taking over the chops the phone made: each offered chop is rendered from the downloaded sample
// beside "Chops", recorded in the sample's overlay with the source "phone", and put in place once
// the overlay is stored (the sample's earlier chop files go then). Chops the desktop program made
// itself ("bridge") and chops without a source are never touched; chops the phone withdraws are
// removed once their withdrawal is stored. The user's chopping of a sample never runs alongside
// its import: the import leaves the sample alone, or the chopping waits until the import ends.

#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <cmath>
#include <unordered_map>

namespace {

constexpr double sensitivityTolerance = 0.0001;

enum class Ownership { keep, phoneMayChange };

Ownership ownershipOf(const BridgeSampleMetadata& entry) {
    if (entry.isDeleted)
        return Ownership::keep; // a deleted sample gets no new files
    if (entry.chopSource == BridgeSampleMetadata::chopSourceBridge)
        return Ownership::keep;
    if (!entry.chopSource && !entry.chops.empty())
        return Ownership::keep;
    return Ownership::phoneMayChange;
}

bool offersChops(const SampleItem& phoneSample) {
    return phoneSample.isChopEnabled && !phoneSample.chops.empty();
}

bool fileExists(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

// A sample whose chops the import changes, the chops it stores (none: the phone withdrew them) and
// the stored chops they replace.
struct ChopChange {
    SampleItem owner;
    std::vector<BridgeSampleChop> chops;
    std::vector<BridgeSampleChop> replaced;
};

void removePendingChops(const BridgeSampleCache& folder, const ChopChange& change) {
    for (const auto& chop : change.chops)
        vt::removeRegularFile(folder.pendingChopSampleURL(change.owner, chop));
}

// The overlay on disk holds the chops the import stored for the sample (and no deletion).
bool storedAsImported(const BridgeMetadataMap& stored, const ChopChange& change) {
    auto found = stored.find(change.owner.id);
    if (found == stored.end())
        return change.chops.empty();
    return !found->second.isDeleted && found->second.chops == change.chops;
}

// What the pass that stored the chops could not put in place (written on the writer's thread,
// read once the pass has ended).
struct ChopPlacement {
    std::optional<std::string> failure;
};

// The library's samples by id, built once per import: looking each phone sample up by a scan
// of the whole library would take time in the square of its size.
class LibraryIndex {
public:
    explicit LibraryIndex(const std::vector<SampleItem>& library) : library(library) {
        positions.reserve(library.size());
        for (std::size_t index = 0; index < library.size(); ++index)
            positions.emplace(library[index].id, index); // the first entry of an id wins
    }

    // The first entry with the id, or none. The list does not change while a sync runs (a folder
    // change waits for it); should it have, an entry that no longer holds the id is not taken.
    const SampleItem* find(const vt::Uuid& id) const {
        const auto found = positions.find(id);
        if (found == positions.end() || found->second >= library.size() || library[found->second].id != id)
            return nullptr;
        return &library[found->second];
    }

private:
    const std::vector<SampleItem>& library;
    std::unordered_map<vt::Uuid, std::size_t> positions;
};

} // namespace

QCoro::Task<> BridgeViewModel::syncPhoneChops(std::vector<SampleItem> phoneSamples) {
    QPointer<BridgeViewModel> self(this);
    // The user's chopping of a sample this import works on waits until the import has ended.
    std::vector<vt::Uuid> working;
    ScopeExit release([self, &working] {
        if (self)
            self->endPhoneChopImports(working);
    });
    std::vector<ChopChange> changes;
    const LibraryIndex library(librarySamples);
    for (const SampleItem& phone : phoneSamples) {
        const SampleItem* found = library.find(phone.id);
        if (!found)
            continue;
        const SampleItem owner = *found;
        BridgeSampleMetadata entry = entryFor(phone.id);
        // Chopping the user started wins: its result is the desktop program's own.
        if (ownershipOf(entry) == Ownership::keep || choppingSampleIDs_.count(phone.id))
            continue;
        const bool ownedByPhone = entry.chopSource == BridgeSampleMetadata::chopSourcePhone;

        if (!offersChops(phone)) {
            if (!ownedByPhone)
                continue;
            // The phone withdrew its chops: their files go once the withdrawal is stored.
            startPhoneChopImport(phone.id, working);
            ChopChange withdrawal{owner, {}, entry.chops};
            entry.chopSource.reset();
            entry.chops.clear();
            entry.chopSensitivity = phone.chopSensitivity;
            updateSampleMetadata(entry, phone.id);
            changes.push_back(std::move(withdrawal));
            continue;
        }

        bool importNeeded = !ownedByPhone || entry.chops != phone.chops ||
                            std::fabs(entry.chopSensitivity - phone.chopSensitivity) > sensitivityTolerance;
        if (!importNeeded)
            for (const auto& chop : phone.chops)
                if (!fileExists(cache->chopSampleURL(owner, chop)))
                    importNeeded = true;
        if (!importNeeded)
            continue;
        const auto raw = cache->sampleURL(owner);
        if (!raw || !fileExists(*raw))
            continue;

        // The renders wait beside the sample's chop files until the new chops are stored.
        startPhoneChopImport(phone.id, working);
        ChopChange change{owner, phone.chops, entry.chops};
        std::exception_ptr failure;
        try {
            for (const auto& chop : phone.chops) {
                co_await deps.audio.render(*raw, cache->pendingChopSampleURL(owner, chop),
                                           chop.edit(BridgeSampleChop::defaultFade));
                if (!self)
                    co_return;
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            // This run's files go with it; the next run renders the whole set again.
            removePendingChops(*cache, change);
            endPhoneChopImports({phone.id});
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& error) {
                setErrorMessage(std::string(error.what()));
            } catch (...) {
                setErrorMessage(std::string("The chop could not be rendered."));
            }
            setStatusMessage("Phone chops failed");
            continue;
        }

        // The renders were awaited: read the entry again and change only the chop fields. A sample
        // deleted meanwhile, or chopped by the user, keeps what it has now.
        BridgeSampleMetadata current = entryFor(phone.id);
        if (ownershipOf(current) == Ownership::keep || choppingSampleIDs_.count(phone.id)) {
            removePendingChops(*cache, change);
            endPhoneChopImports({phone.id});
            continue;
        }
        change.replaced = current.chops;
        current.chopSensitivity = phone.chopSensitivity;
        current.chopSource = phoneChopSource;
        current.chops = phone.chops;
        if (current.analysis.isEmpty() && !phone.analysis.isEmpty())
            current.analysis = phone.analysis;
        updateSampleMetadata(current, phone.id);
        changes.push_back(change);
    }
    if (changes.empty())
        co_return;

    // The chop files follow in the pass that stores the overlay: the renders are put in place and
    // the files of the chops they replace go. A sample whose stored chops are not the import's
    // keeps its files.
    auto placement = std::make_shared<ChopPlacement>();
    auto followUp = [folder = cache, changes, placement](const BridgeMetadataMap& stored) {
        for (const auto& change : changes) {
            if (!storedAsImported(stored, change)) {
                removePendingChops(*folder, change);
                continue;
            }
            try {
                folder->placePendingChops(change.owner, change.chops, change.replaced);
            } catch (const std::exception& error) {
                placement->failure = error.what(); // the renders wait: the next start places them
            }
        }
    };
    std::optional<std::string> failure =
        co_await writeLibrary({.metadata = true}, nullptr, std::move(followUp));
    if (!self)
        co_return;
    if (failure) {
        // Not stored: the sample's chop files stay those of the chops still stored.
        for (const auto& change : changes)
            removePendingChops(*cache, change);
        reportFailure("Metadata save failed", *failure);
        co_return;
    }
    if (placement->failure)
        reportFailure("Phone chops failed", *placement->failure);
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    // The library folder holds the result; a failed mirror pass is retried by the next one.
    co_await mirrorLibrary();
}

void BridgeViewModel::startPhoneChopImport(const vt::Uuid& id, std::vector<vt::Uuid>& working) {
    if (phoneChopImports.emplace(id, vt::Completion<bool>()).second)
        working.push_back(id);
}

void BridgeViewModel::endPhoneChopImports(const std::vector<vt::Uuid>& ids) {
    for (const auto& id : ids) {
        auto found = phoneChopImports.find(id);
        if (found == phoneChopImports.end())
            continue;
        auto ended = found->second;
        phoneChopImports.erase(found);
        ended.resolve(true);
    }
}

// Taking over the chops the phone made: each offered chop is rendered from the downloaded sample
// into "Chops" and recorded in the sample's overlay with the source "phone". Chops the desktop
// program made itself ("bridge") and chops without a source are never touched; chops the phone
// withdraws are removed.

#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

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
    bool changed = false;
    const LibraryIndex library(librarySamples);
    for (const SampleItem& phone : phoneSamples) {
        const SampleItem* found = library.find(phone.id);
        if (!found)
            continue;
        const SampleItem owner = *found;
        BridgeSampleMetadata entry = entryFor(phone.id);
        if (ownershipOf(entry) == Ownership::keep)
            continue;
        const bool ownedByPhone = entry.chopSource == BridgeSampleMetadata::chopSourcePhone;

        if (!offersChops(phone)) {
            if (!ownedByPhone)
                continue;
            // The phone withdrew its chops.
            cache->removeChops(owner);
            entry.chopSource.reset();
            entry.chops.clear();
            entry.chopSensitivity = phone.chopSensitivity;
            updateSampleMetadata(entry, phone.id);
            changed = true;
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

        std::set<std::string> keepNone; // (named: no braced temporary inside co_await, g++ 12)
        co_await removeChopFiles(owner, std::move(keepNone));
        if (!self)
            co_return;
        std::vector<std::filesystem::path> rendered;
        std::exception_ptr failure;
        try {
            for (const auto& chop : phone.chops) {
                const auto output = cache->chopSampleURL(owner, chop);
                co_await deps.audio.render(*raw, output, chop.edit(BridgeSampleChop::defaultFade));
                if (!self)
                    co_return;
                rendered.push_back(output);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            // This run's files go with it; the next run renders the whole set again.
            for (const auto& file : rendered)
                vt::removeRegularFile(file);
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
        // deleted or chopped by the desktop program meanwhile keeps what it has now.
        BridgeSampleMetadata current = entryFor(phone.id);
        if (ownershipOf(current) == Ownership::keep) {
            for (const auto& file : rendered)
                vt::removeRegularFile(file);
            continue;
        }
        current.chopSensitivity = phone.chopSensitivity;
        current.chopSource = phoneChopSource;
        current.chops = phone.chops;
        if (current.analysis.isEmpty() && !phone.analysis.isEmpty())
            current.analysis = phone.analysis;
        updateSampleMetadata(current, phone.id);
        changed = true;
    }
    if (!changed)
        co_return;

    std::optional<std::string> failure = co_await writeLibrary({.metadata = true});
    if (!self)
        co_return;
    if (failure) {
        reportFailure("Metadata save failed", *failure);
        co_return;
    }
    setSamples(displaySamples(librarySamples));
    stopPreviewIfHidden();
    // The library folder holds the result; a failed mirror pass is retried by the next one.
    co_await mirrorLibrary();
}

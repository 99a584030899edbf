// The display list: the phone's records with the local overlay laid over them, deleted samples
// left out, newest first.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <algorithm>

namespace {

void applyOverlay(SampleItem& sample, const BridgeSampleMetadata& entry) {
    if (entry.titleOverride) {
        std::string trimmed = trimmedText(*entry.titleOverride);
        if (!trimmed.empty())
            sample.title = std::move(trimmed);
    }
    sample.isFavorite = entry.effectiveFavorite(sample.isFavorite);
    sample.edit = entry.edit.sanitized(sample.duration);
    if (!entry.analysis.isEmpty())
        sample.analysis = entry.analysis;
    sample.chopSensitivity = entry.chopSensitivity;
    if (entry.chopSource) {
        sample.isChopEnabled = !entry.chops.empty();
        sample.chops = entry.chops;
    } else if (!entry.chops.empty()) {
        sample.isChopEnabled = true;
        sample.chops = entry.chops;
    }
}

} // namespace

std::vector<SampleItem> BridgeViewModel::displaySamples(const std::vector<SampleItem>& library) const {
    // The order is found on references, each with its overlay entry: moving whole records while
    // sorting would cost more than copying each once into its place.
    struct Shown {
        const SampleItem* sample;
        const BridgeSampleMetadata* entry;
    };
    std::vector<Shown> order;
    order.reserve(library.size());
    for (const SampleItem& sample : library) {
        auto found = sampleMetadata.find(sample.id);
        if (found == sampleMetadata.end())
            order.push_back({&sample, nullptr});
        else if (!found->second.isDeleted)
            order.push_back({&sample, &found->second});
    }
    std::stable_sort(order.begin(), order.end(), [](const Shown& a, const Shown& b) {
        return a.sample->createdAt > b.sample->createdAt;
    });
    std::vector<SampleItem> result;
    result.reserve(order.size());
    for (const Shown& shown : order) {
        SampleItem& sample = result.emplace_back(*shown.sample);
        if (shown.entry)
            applyOverlay(sample, *shown.entry);
        if (!sample.isChopEnabled)
            sample.chops.clear();
    }
    return result;
}

void BridgeViewModel::stopPreviewIfHidden() {
    if (!playingSampleID_)
        return;
    // Looked up in the display list itself: a copy of a large list would hold up the window.
    const bool shown = std::any_of(samples_.begin(), samples_.end(), [&](const SampleItem& sample) {
        return sample.id == *playingSampleID_ && (!showFavoritesOnly_ || sample.isFavorite);
    });
    if (!shown)
        stopPreview(false);
}

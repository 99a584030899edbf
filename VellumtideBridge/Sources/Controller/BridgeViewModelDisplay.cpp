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
    std::vector<SampleItem> result;
    result.reserve(library.size());
    for (const SampleItem& source : library) {
        SampleItem sample = source;
        auto found = sampleMetadata.find(sample.id);
        if (found != sampleMetadata.end()) {
            if (found->second.isDeleted)
                continue;
            applyOverlay(sample, found->second);
        }
        if (!sample.isChopEnabled)
            sample.chops.clear();
        result.push_back(std::move(sample));
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const SampleItem& a, const SampleItem& b) { return a.createdAt > b.createdAt; });
    return result;
}

void BridgeViewModel::stopPreviewIfHidden() {
    if (!playingSampleID_)
        return;
    const auto visible = visibleSamples();
    bool shown = std::any_of(visible.begin(), visible.end(),
                             [&](const SampleItem& sample) { return sample.id == *playingSampleID_; });
    if (!shown)
        stopPreview(false);
}

#pragma once
// Libraries for the window benchmarks, written by the bridge's own writer as the program writes
// them ("library.json" and "bridge-metadata.json"), with a sound at every sample's and chop's path.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace vt::bench {

struct WrittenLibrary {
    std::vector<SampleItem> samples;
    BridgeMetadataMap metadata;
};

// count samples titled "Sample 1"… in list order, every one analysed (fingerprinted with
// fingerprint when given), every tenth with three chops. writeSound puts a sound at a path.
WrittenLibrary writeBridgeLibrary(
    const std::filesystem::path& root, std::size_t count,
    const std::function<void(const std::filesystem::path&)>& writeSound,
    const std::function<std::string(const SampleItem&, const BridgeSampleEdit&)>& fingerprint = {});

// Replaces "bridge-metadata.json", as the program does while it analyses the library.
void writeBridgeMetadata(const std::filesystem::path& root, const BridgeMetadataMap& metadata);

} // namespace vt::bench

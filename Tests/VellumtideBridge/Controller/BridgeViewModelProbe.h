#pragma once
// The tests' window into the controller's private state: the library folder, the overlay and
// sample list as loaded, the pairing store, the library writer, and the flags and tasks of the background
// work. Tests read the published state first; this is for what no view sees.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

class BridgeViewModelProbe {
public:
    explicit BridgeViewModelProbe(BridgeViewModel& model)
        : deps(model.deps), cache(model.cache), pairingStore(model.pairingStore),
          isWatchSyncing(model.isWatchSyncing), dismissedPairingIDs(model.dismissedPairingIDs),
          librarySamples(model.librarySamples), sampleMetadata(model.sampleMetadata),
          previewPlayer(model.previewPlayer), previewTimer(model.previewTimer), watchTask(model.watchTask),
          autoSyncTask(model.autoSyncTask), lastAutoSyncAtByDeviceID(model.lastAutoSyncAtByDeviceID),
          libraryWriter(model.libraryWriter) {}

    BridgeViewModel::Dependencies& deps;
    std::shared_ptr<BridgeSampleCache>& cache;
    BridgePairingStore& pairingStore;
    bool& isWatchSyncing;
    std::set<std::string>& dismissedPairingIDs;
    std::vector<SampleItem>& librarySamples;
    BridgeMetadataMap& sampleMetadata;
    std::unique_ptr<vt::AudioPlayer>& previewPlayer;
    std::optional<vt::Scheduler::TimerId>& previewTimer;
    std::optional<vt::CancellationToken>& watchTask;
    std::optional<vt::CancellationToken>& autoSyncTask;
    std::map<std::string, vt::Nanoseconds>& lastAutoSyncAtByDeviceID;
    BridgeLibraryWriter& libraryWriter;
};

inline BridgeViewModelProbe probe(BridgeViewModel& model) {
    return BridgeViewModelProbe(model);
}

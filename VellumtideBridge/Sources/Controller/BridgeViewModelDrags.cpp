// The files staged for drags out of either window: they stay while their sample or chop is in
// the library (a receiver may use a dropped file where it lies) and go when it is seen to leave.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

vt::DragSourcesInLibrary BridgeViewModel::dragSourcesInLibrary() const {
    vt::DragSourcesInLibrary library;
    for (const SampleItem& sample : librarySamples) {
        const auto found = sampleMetadata.find(sample.id);
        if (found != sampleMetadata.end() && found->second.isDeleted)
            continue;
        std::set<vt::Uuid>& chops = library[sample.id];
        // The phone's chops and the desktop program's: either may be the ones shown.
        for (const BridgeSampleChop& chop : sample.chops)
            chops.insert(chop.id);
        if (found != sampleMetadata.end())
            for (const BridgeSampleChop& chop : found->second.chops)
                chops.insert(chop.id);
    }
    return library;
}

void BridgeViewModel::pruneStagedDragFiles() {
    vt::DragSourcesInLibrary library = dragSourcesInLibrary();
    // Another folder is another library: its samples did not leave, nor did the old one's.
    if (seenDragSources && seenDragSources->libraryGeneration == libraryGeneration &&
        seenDragSources->sources != library)
        vt::pruneStagedDragFiles(vt::dragStagingFolder(deps.paths), seenDragSources->sources, library);
    seenDragSources = SeenDragSources{libraryGeneration, std::move(library)};
}

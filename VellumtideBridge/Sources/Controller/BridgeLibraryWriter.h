#pragma once
// Writes "library.json" and "bridge-metadata.json" and runs the mirror pass off the main thread,
// one pass at a time. Each request carries the whole state to write; a request that arrives
// while a pass runs is merged into the next queued one, so the newest state always reaches the
// disk and a superseded state is never written after a newer one. Files that must follow the
// overlay on disk (a removal, a render put in place) are changed in the pass that stored it.

#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <exception>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>
#include <string>
#include <vector>

class BridgeLibraryWriter final {
public:
    // What a request asks for. The mirror pass saves both files first (each only when it differs
    // from what this writer last wrote for the folder).
    struct Parts {
        bool manifest = false;
        bool metadata = false;
        bool mirror = false;
    };
    // The state to write. samples is needed for the manifest and the mirror, metadata for the
    // metadata and the mirror.
    struct Snapshot {
        std::shared_ptr<const BridgeSampleCache> cache;
        std::shared_ptr<const std::vector<SampleItem>> samples;
        std::shared_ptr<const BridgeMetadataMap> metadata;
    };
    // What one pass did: the failure of each part, empty when it succeeded or was not asked for.
    struct Outcome {
        std::exception_ptr manifest;
        std::exception_ptr metadata;
        std::exception_ptr mirror;
        // The first failure among the parts asked for (a mirror pass counts both saves).
        std::exception_ptr failureFor(Parts parts) const;
    };
    // The user-facing text of a failure.
    static std::string failureText(const std::exception_ptr& failure);

    BridgeLibraryWriter();
    // Finishes every queued write before it returns: nothing asked for is lost at quit.
    ~BridgeLibraryWriter();
    BridgeLibraryWriter(const BridgeLibraryWriter&) = delete;
    BridgeLibraryWriter& operator=(const BridgeLibraryWriter&) = delete;

    // File work that follows the overlay once it is on disk: it runs in the pass, after the
    // overlay was stored (written, or found written) and before the mirror part, in the order
    // asked, given the overlay as stored. It does not run when the overlay could not be stored.
    // Its failures are its own to note: the pass goes on.
    using FollowUp = std::function<void(const BridgeMetadataMap& stored)>;
    // Told on the main thread after each pass that had an overlay to store, before the pass's
    // waiters hear of it and before the next pass starts: the folder, the overlay, and whether it
    // is on disk now. Not told at quit (the destructor's passes).
    using OverlayOutcomeHandler =
        std::function<void(const std::shared_ptr<const BridgeSampleCache>& folder,
                           const std::shared_ptr<const BridgeMetadataMap>& overlay, bool stored)>;

    // Queues the state; the task ends, on the main thread, when a pass that wrote it (or a newer
    // state of the same folder) has ended. It never throws: failures come in the outcome.
    QCoro::Task<Outcome> write(Snapshot snapshot, Parts parts, FollowUp followUp = nullptr);
    // Queues the state without waiting for it: for writes that must not be lost when nobody is
    // left to await them (the destructor finishes them at quit).
    void queue(Snapshot snapshot, Parts parts);
    // Tells the writer what the folder's files hold (as just read, before any write): a pass
    // writes a file only when the state differs from it.
    void assumeWritten(const Snapshot& onDisk);
    // No pass runs and none is queued.
    bool isIdle() const;
    void setOverlayOutcomeHandler(OverlayOutcomeHandler handler);
    // The queued passes of folder that carry an overlay write this one instead: a change taken
    // back after a failed save is then not stored by a pass queued before it was taken back.
    void replaceQueuedOverlay(const std::shared_ptr<const BridgeSampleCache>& folder,
                              const std::shared_ptr<const BridgeMetadataMap>& overlay);

    struct State; // the queue and the pass thread, shared with the pass being awaited

private:
    std::shared_ptr<State> state;
};

#pragma once
// Writes "library.json" and "bridge-metadata.json" and runs the mirror pass off the main thread,
// one pass at a time. Each request carries the whole state to write; a request that arrives
// while a pass runs is merged into the next queued one, so the newest state always reaches the
// disk and a superseded state is never written after a newer one.

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

    // File work that must happen before the pass writes (removals); it runs at the start of the
    // pass, in the order asked, and its failures are ignored.
    using Preparation = std::function<void()>;

    // Queues the state; the task ends, on the main thread, when a pass that wrote it (or a newer
    // state of the same folder) has ended. It never throws: failures come in the outcome.
    QCoro::Task<Outcome> write(Snapshot snapshot, Parts parts, Preparation prepare = nullptr);
    // Queues the state without waiting for it: for writes that must not be lost when nobody is
    // left to await them (the destructor finishes them at quit).
    void queue(Snapshot snapshot, Parts parts);
    // Tells the writer what the folder's files hold (as just read, before any write): a pass
    // writes a file only when the state differs from it.
    void assumeWritten(const Snapshot& onDisk);
    // No pass runs and none is queued.
    bool isIdle() const;

    struct State; // the queue and the pass thread, shared with the pass being awaited

private:
    std::shared_ptr<State> state;
};

#include "VellumtideBridge/Sources/Controller/BridgeLibraryWriter.h"

#include "Platform/Async/Background.h"
#include "Platform/Async/Completion.h"
#include "Platform/Async/Spawn.h"

#include <deque>
#include <utility>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using Parts = BridgeLibraryWriter::Parts;
using Snapshot = BridgeLibraryWriter::Snapshot;
using Outcome = BridgeLibraryWriter::Outcome;

struct Job {
    Snapshot snapshot;
    Parts parts;
    std::vector<BridgeLibraryWriter::FollowUp> followUps;
    std::vector<vt::Completion<Outcome>> waiters;
};

// The newest non-empty part of each snapshot wins.
void merge(Job& queued, const Snapshot& newer, Parts parts) {
    if (newer.samples)
        queued.snapshot.samples = newer.samples;
    if (newer.metadata)
        queued.snapshot.metadata = newer.metadata;
    queued.parts.manifest |= parts.manifest;
    queued.parts.metadata |= parts.metadata;
    queued.parts.mirror |= parts.mirror;
}

void releaseFreeMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

template <typename F> std::exception_ptr failureOf(F&& step) {
    try {
        step();
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

// The pass stores the job's overlay (it is asked for, and there is one).
bool carriesOverlay(const Job& job) {
    return (job.parts.metadata || job.parts.mirror) && job.snapshot.metadata;
}

} // namespace

std::exception_ptr Outcome::failureFor(Parts parts) const {
    if ((parts.manifest || parts.mirror) && manifest)
        return manifest;
    if ((parts.metadata || parts.mirror) && metadata)
        return metadata;
    return parts.mirror ? mirror : nullptr;
}

std::string BridgeLibraryWriter::failureText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "The library could not be written.";
    }
}

struct BridgeLibraryWriter::State {
    std::deque<Job> queue;                // main thread only
    bool running = false;                 // main thread only
    OverlayOutcomeHandler overlayOutcome; // main thread only
    QThreadPool pool;                     // one thread: passes never overlap
    // What the last passes wrote, read and written by the passes only (one at a time).
    std::shared_ptr<const BridgeSampleCache> writtenFolder;
    std::shared_ptr<const std::vector<SampleItem>> writtenSamples;
    std::shared_ptr<const BridgeMetadataMap> writtenMetadata;
    bool firstPass = true;

    State() { pool.setMaxThreadCount(1); }

    // One pass; runs on the pool (or, at quit, on the calling thread). Never throws.
    Outcome run(const Job& job) {
        const Snapshot& snapshot = job.snapshot;
        if (writtenFolder != snapshot.cache) {
            writtenFolder = snapshot.cache;
            writtenSamples.reset();
            writtenMetadata.reset();
        }
        Outcome outcome;
        if ((job.parts.manifest || job.parts.mirror) && snapshot.samples &&
            !(writtenSamples && *writtenSamples == *snapshot.samples)) {
            outcome.manifest = failureOf([&] { snapshot.cache->saveManifest(*snapshot.samples); });
            writtenSamples = outcome.manifest ? nullptr : snapshot.samples;
        }
        if ((job.parts.metadata || job.parts.mirror) && snapshot.metadata &&
            !(writtenMetadata && *writtenMetadata == *snapshot.metadata)) {
            outcome.metadata = failureOf([&] { snapshot.cache->saveLocalMetadata(*snapshot.metadata); });
            writtenMetadata = outcome.metadata ? nullptr : snapshot.metadata;
        }
        if (carriesOverlay(job) && !outcome.metadata)
            for (const auto& followUp : job.followUps)
                failureOf([&] { followUp(*snapshot.metadata); });
        if (job.parts.mirror && !outcome.manifest && !outcome.metadata && snapshot.samples &&
            snapshot.metadata)
            outcome.mirror =
                failureOf([&] { snapshot.cache->mirrorFiles(*snapshot.samples, *snapshot.metadata); });
        // The loads before the first pass leave many small blocks free; they go back to the system
        // rather than stay resident. Only then: trimming locks the allocator while it walks the
        // heap, so the main thread would stall for tens of milliseconds after every save.
        if (std::exchange(firstPass, false))
            releaseFreeMemory();
        return outcome;
    }
};

namespace {

// Built outside the coroutine that awaits it (g++ 12 and closures inside co_await).
QCoro::Task<Outcome> runOnPool(BridgeLibraryWriter::State& state, Job job) {
    auto* pass = &state;
    return vt::runInBackground(state.pool, [pass, job = std::move(job)] { return pass->run(job); });
}

QCoro::Task<> drain(std::shared_ptr<BridgeLibraryWriter::State> state) {
    state->running = true;
    while (!state->queue.empty()) {
        Job job = std::move(state->queue.front());
        state->queue.pop_front();
        auto waiters = std::move(job.waiters);
        job.waiters.clear();
        const bool overlay = carriesOverlay(job);
        const Snapshot snapshot = job.snapshot;
        Outcome outcome = co_await runOnPool(*state, std::move(job));
        if (overlay && state->overlayOutcome)
            state->overlayOutcome(snapshot.cache, snapshot.metadata, !outcome.metadata);
        for (auto& waiter : waiters)
            waiter.resolve(outcome);
    }
    state->running = false;
}

} // namespace

BridgeLibraryWriter::BridgeLibraryWriter() : state(std::make_shared<State>()) {}

BridgeLibraryWriter::~BridgeLibraryWriter() {
    // Its owner is going: nobody is left to take a change back.
    state->overlayOutcome = nullptr;
    // The running pass ends first; the queued ones then run here, in order.
    state->pool.waitForDone();
    while (!state->queue.empty()) {
        Job job = std::move(state->queue.front());
        state->queue.pop_front();
        Outcome outcome = state->run(job);
        for (auto& waiter : job.waiters)
            waiter.resolve(outcome);
    }
}

namespace {

// The queued job that takes the state: the last one when it is for the same folder, else a new one.
Job& enqueue(std::deque<Job>& queue, const Snapshot& snapshot, Parts parts) {
    if (queue.empty() || queue.back().snapshot.cache != snapshot.cache)
        queue.push_back(Job{snapshot, {}, {}, {}});
    Job& job = queue.back();
    merge(job, snapshot, parts);
    return job;
}

} // namespace

QCoro::Task<Outcome> BridgeLibraryWriter::write(Snapshot snapshot, Parts parts, FollowUp followUp) {
    vt::Completion<Outcome> done;
    Job& job = enqueue(state->queue, snapshot, parts);
    if (followUp)
        job.followUps.push_back(std::move(followUp));
    job.waiters.push_back(done);
    if (!state->running)
        vt::spawnStarted(drain(state));
    co_return co_await done;
}

void BridgeLibraryWriter::queue(Snapshot snapshot, Parts parts) {
    enqueue(state->queue, snapshot, parts);
    if (!state->running)
        vt::spawnStarted(drain(state));
}

void BridgeLibraryWriter::assumeWritten(const Snapshot& onDisk) {
    // Called before the first write, so no pass reads these meanwhile.
    state->writtenFolder = onDisk.cache;
    state->writtenSamples = onDisk.samples;
    state->writtenMetadata = onDisk.metadata;
}

bool BridgeLibraryWriter::isIdle() const {
    return !state->running && state->queue.empty();
}

void BridgeLibraryWriter::setOverlayOutcomeHandler(OverlayOutcomeHandler handler) {
    state->overlayOutcome = std::move(handler);
}

void BridgeLibraryWriter::replaceQueuedOverlay(const std::shared_ptr<const BridgeSampleCache>& folder,
                                               const std::shared_ptr<const BridgeMetadataMap>& overlay) {
    for (Job& job : state->queue)
        if (job.snapshot.cache == folder && job.snapshot.metadata)
            job.snapshot.metadata = overlay;
}

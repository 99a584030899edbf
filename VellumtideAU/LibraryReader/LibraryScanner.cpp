#include "VellumtideAU/LibraryReader/LibraryScanner.h"

#include "Platform/Core/FastJson.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include <algorithm>
#include <numeric>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

using Library = VellumtidePluginLibrary;

bool somethingExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool stopped(const std::atomic_bool& stop) {
    return stop.load(std::memory_order_relaxed);
}

} // namespace

LibrarySnapshot LibraryScanner::pass(bool force, const std::atomic_bool& stop, const FirstRows& firstRows) {
    std::lock_guard lock(passing);
    LibrarySnapshot snapshot;
    snapshot.root = chooseRoot();
    // The identity is taken before the files are read: a change during the read shows at the next pass.
    const LibraryIdentity identity{snapshot.root, fileIdentity(snapshot.root / Library::manifestFileName),
                                   fileIdentity(snapshot.root / Library::metadataFileName)};
    libraryfiles::LibraryFolder folder{snapshot.root};
    folder.listFiles();
    if (force || readIdentity != identity) {
        readIdentity = identity;
        ++reads;
        // A list that shows already is replaced whole, never cut to its first rows.
        read(snapshot, folder, stop, lastSamples && !lastSamples->empty() ? FirstRows() : firstRows);
        snapshot.changed = !stopped(stop);
        if (stopped(stop))
            readIdentity.reset();
    } else {
        // The files are as read; the audio files may not be.
        snapshot.changed = replaceFiles(snapshot, folder);
    }
    if (snapshot.changed) {
        lastSamples = snapshot.samples;
        lastDetail = snapshot.detail;
        snapshot.favorites = std::size_t(std::count_if(lastSamples->begin(), lastSamples->end(),
                                                       [](const auto& sample) { return sample.isFavorite; }));
    }
    snapshot.sequence = ++sequence;
    snapshot.reads = reads;
    return snapshot;
}

LibraryScanner::FileIdentity LibraryScanner::fileIdentity(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return {};
    return {true,
            std::uint64_t(status.st_dev),
            std::uint64_t(status.st_ino),
            std::int64_t(status.st_size),
            std::int64_t(status.st_mtim.tv_sec),
            std::int64_t(status.st_mtim.tv_nsec)};
}

fs::path LibraryScanner::chooseRoot() const {
    const auto candidates = Library::libraryCandidates(environment);
    auto holdsLibrary = [](const Library::LibraryCandidate& candidate) {
        return somethingExists(candidate.url / Library::manifestFileName);
    };
    if (auto found = std::find_if(candidates.begin(), candidates.end(), holdsLibrary);
        found != candidates.end())
        return found->url;
    return candidates.empty() ? environment.home : candidates.front().url;
}

std::optional<std::vector<LibraryScanner::Listed>> LibraryScanner::mergeSorted(
    std::vector<libraryfiles::ManifestSample> records, const libraryfiles::MetadataMap& metadata,
    const libraryfiles::LibraryFolder& folder, std::size_t& missingFiles, const std::atomic_bool& stop) {
    std::vector<Listed> listed;
    listed.reserve(records.size());
    for (std::size_t index = 0; index < records.size(); ++index) {
        if (stopped(stop))
            return std::nullopt;
        std::string fileName = records[index].fileName;
        if (auto sample =
                libraryfiles::mergeSample(std::move(records[index]), metadata, folder, missingFiles))
            listed.push_back({std::move(*sample), std::move(fileName), index});
    }
    // Newest first, equal dates in file order; the records are moved once, not at every step.
    auto newer = [&listed](std::size_t a, std::size_t b) {
        return listed[a].sample.createdAt > listed[b].sample.createdAt;
    };
    std::vector<std::size_t> order(listed.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    if (std::is_sorted(order.begin(), order.end(), newer))
        return listed;
    std::stable_sort(order.begin(), order.end(), newer);
    std::vector<Listed> sorted;
    sorted.reserve(listed.size());
    for (std::size_t index : order)
        sorted.push_back(std::move(listed[index]));
    return sorted;
}

void LibraryScanner::read(LibrarySnapshot& snapshot, const libraryfiles::LibraryFolder& folder,
                          const std::atomic_bool& stop, const FirstRows& firstRows) {
    const fs::path& root = snapshot.root;
    snapshot.readingDetail = Library::abbreviatedPath(root, environment.home);
    snapshot.samples = std::make_shared<const std::vector<VellumtidePluginSample>>();
    rawFileNames.clear();

    const fs::path manifest = root / Library::manifestFileName;
    std::error_code error;
    if (!fs::is_regular_file(manifest, error)) {
        snapshot.status = "Waiting for Bridge library";
        snapshot.detail = "Open Vellumtide Bridge once";
        return;
    }
    const fs::path metadataFile = root / Library::metadataFileName;
    libraryfiles::MetadataMap metadata;
    if (somethingExists(metadataFile))
        if (auto metadataBytes = vt::json::readPaddedFile(metadataFile))
            metadata = libraryfiles::decodeMetadata(*metadataBytes);

    std::size_t missingFiles = 0;
    auto listed = readInSteps(snapshot, metadata, folder, missingFiles, stop, firstRows);
    if (!listed && !stopped(stop)) {
        // Not of the plain form, or not valid: the strict decoding of the whole file decides.
        auto bytes = vt::json::readPaddedFile(manifest);
        if (!bytes) {
            snapshot.status = "Waiting for Bridge library";
            snapshot.detail = "Open Vellumtide Bridge once";
            return;
        }
        auto records = libraryfiles::decodeManifest(*bytes, &stop);
        bytes.reset();
        if (!records) {
            snapshot.status = "Bridge library could not be read";
            snapshot.detail = Library::abbreviatedPath(manifest, environment.home);
            return;
        }
        missingFiles = 0;
        listed = mergeSorted(std::move(*records), metadata, folder, missingFiles, stop);
    }
    if (!listed || stopped(stop))
        return;
    auto merged = std::make_shared<std::vector<VellumtidePluginSample>>();
    merged->reserve(listed->size());
    rawFileNames.reserve(listed->size());
    for (auto& entry : *listed) {
        merged->push_back(std::move(entry.sample));
        rawFileNames.push_back(std::move(entry.fileName));
    }

    snapshot.status = libraryfiles::statusText(merged->size(), missingFiles);
    snapshot.detail = snapshot.readingDetail;
    snapshot.samples = std::move(merged);
}

std::optional<std::vector<LibraryScanner::Listed>>
LibraryScanner::readInSteps(const LibrarySnapshot& reading, const libraryfiles::MetadataMap& metadata,
                            const libraryfiles::LibraryFolder& folder, std::size_t& missingFiles,
                            const std::atomic_bool& stop, const FirstRows& firstRows) {
    auto index = ManifestIndex::read(reading.root / Library::manifestFileName, stop);
    if (!index)
        return std::nullopt;
    const std::size_t recordCount = index->samples().size();
    missingFiles = 0;
    auto listed = mergeSorted(std::move(index->samples()), metadata, folder, missingFiles, stop);
    if (!listed)
        return std::nullopt;

    // The first rows, with the status of the whole library, while the peak lists are still unread.
    if (firstRows && listed->size() > firstRowCount) {
        auto first = std::make_shared<std::vector<VellumtidePluginSample>>();
        for (std::size_t place = 0; place < listed->size() && place < firstRowCount; ++place) {
            first->push_back((*listed)[place].sample);
            auto peaks = index->peaks((*listed)[place].record);
            if (!peaks)
                return std::nullopt;
            first->back().peaks = std::move(*peaks);
        }
        LibrarySnapshot snapshot;
        snapshot.sequence = ++sequence;
        snapshot.changed = true;
        snapshot.reads = reads;
        snapshot.root = reading.root;
        snapshot.favorites = std::size_t(std::count_if(
            listed->begin(), listed->end(), [](const Listed& entry) { return entry.sample.isFavorite; }));
        snapshot.status = libraryfiles::statusText(listed->size(), missingFiles);
        snapshot.readingDetail = snapshot.detail = reading.readingDetail;
        snapshot.samples = std::move(first);
        firstRows(std::move(snapshot));
    }

    std::vector<std::size_t> placeOfRecord(recordCount, listed->size());
    for (std::size_t place = 0; place < listed->size(); ++place)
        placeOfRecord[(*listed)[place].record] = place;
    const bool read = index->readPeaks(
        [&](std::size_t record, std::vector<float> peaks) {
            if (placeOfRecord[record] < listed->size())
                (*listed)[placeOfRecord[record]].sample.peaks = std::move(peaks);
        },
        stop);
    return read ? std::move(listed) : std::nullopt;
}

bool LibraryScanner::replaceFiles(LibrarySnapshot& snapshot, const libraryfiles::LibraryFolder& folder) {
    if (!lastSamples || lastSamples->empty())
        return false;
    std::shared_ptr<std::vector<VellumtidePluginSample>> changed;
    std::size_t missingFiles = 0;
    for (std::size_t index = 0; index < lastSamples->size(); ++index) {
        VellumtidePluginSample probe;
        const auto& sample = (*lastSamples)[index];
        // Only what the files decide is compared; a sample is copied only when its files changed.
        probe.id = sample.id;
        probe.edit = sample.edit;
        probe.originalDuration = sample.originalDuration;
        probe.isEdited = sample.isEdited;
        probe.isAvailable = sample.isAvailable;
        probe.audioURL = sample.audioURL;
        probe.duration = sample.duration;
        probe.chops = sample.chops;
        if (libraryfiles::placeFiles(probe, rawFileNames[index], folder)) {
            if (!changed)
                changed = std::make_shared<std::vector<VellumtidePluginSample>>(*lastSamples);
            auto& updated = (*changed)[index];
            updated.isEdited = probe.isEdited;
            updated.isAvailable = probe.isAvailable;
            updated.audioURL = std::move(probe.audioURL);
            updated.duration = probe.duration;
            updated.chops = std::move(probe.chops);
        }
        missingFiles += probe.isAvailable ? 0 : 1;
    }
    if (!changed)
        return false;
    snapshot.readingDetail = snapshot.detail = lastDetail;
    snapshot.status = libraryfiles::statusText(changed->size(), missingFiles);
    snapshot.samples = std::move(changed);
    return true;
}

LibraryReaderThread::LibraryReaderThread(std::function<void(const std::atomic_bool&)> job)
    : job(std::move(job)), thread([this] { run(); }) {}

LibraryReaderThread::~LibraryReaderThread() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void LibraryReaderThread::request() {
    {
        std::lock_guard lock(mutex);
        requested = true;
    }
    wake.notify_one();
}

void LibraryReaderThread::release(std::shared_ptr<const void> unused) {
    {
        std::lock_guard lock(mutex);
        garbage.push_back(std::move(unused));
    }
    wake.notify_one();
}

void LibraryReaderThread::run() {
    std::unique_lock lock(mutex);
    while (true) {
        wake.wait(lock, [this] { return requested || stopping || !garbage.empty(); });
        if (!garbage.empty()) {
            auto unused = std::exchange(garbage, {});
            lock.unlock();
            unused.clear();
            lock.lock();
            continue;
        }
        if (stopping)
            return;
        requested = false;
        lock.unlock();
        job(stopping);
        lock.lock();
    }
}

#include "bench/Window/BridgeLibraryWriting.h"

#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <cmath>

namespace vt::bench {

namespace {

constexpr std::size_t peaksPerSample = 120;

// An overview of a struck sound: a fast rise, then a decay with some ripple.
std::vector<float> struckPeaks(std::size_t index) {
    std::vector<float> peaks(peaksPerSample);
    for (std::size_t i = 0; i < peaksPerSample; ++i) {
        const double t = double(i) / double(peaksPerSample);
        peaks[i] = float(std::min(1.0, t * 30) * std::exp(-t * 3.5) *
                         (0.8 + 0.2 * std::sin(double(i + index) * 0.9)));
    }
    return peaks;
}

// The library's writer; its mirror folder goes beside the library, out of the way.
BridgeSampleCache writerFor(const std::filesystem::path& root) {
    return BridgeSampleCache(vt::Paths::underRoot(root.parent_path() / ".bridge-writer"), root);
}

} // namespace

WrittenLibrary writeBridgeLibrary(
    const std::filesystem::path& root, std::size_t count,
    const std::function<void(const std::filesystem::path&)>& writeSound,
    const std::function<std::string(const SampleItem&, const BridgeSampleEdit&)>& fingerprint) {
    const BridgeSampleCache cache = writerFor(root);
    cache.prepareDirectories();
    WrittenLibrary library;
    library.samples.reserve(count);
    for (std::size_t index = 0; index < count; ++index) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Sample " + std::to_string(index + 1);
        sample.createdAt = vt::Date{1.7e9 - double(index)}; // newest first: the list keeps this order
        sample.fileName = "sample-" + std::to_string(index) + ".wav";
        sample.duration = 10;
        sample.sampleRate = 44100;
        sample.channelCount = 2;
        sample.byteCount = 3'528'044;
        sample.peaks = struckPeaks(index);
        writeSound(cache.samplesDirectory() / sample.fileName);
        BridgeSampleMetadata& entry = library.metadata[sample.id];
        entry.analysis.bpm = 90 + double(index % 60);
        entry.analysis.bpmConfidence = 0.8;
        entry.analysis.rootNote = "C";
        entry.analysis.rootConfidence = 0.7;
        entry.analysis.musicalKey = "C minor";
        entry.analysis.keyConfidence = 0.6;
        entry.analysis.analyzedAt = vt::Date{1.71e9};
        if (fingerprint)
            entry.analysis.sourceFingerprint = fingerprint(sample, entry.edit.sanitized(sample.duration));
        if (index % 10 == 0) {
            entry.chopSource = std::string(BridgeSampleMetadata::chopSourceBridge);
            for (int chop = 0; chop < 3; ++chop) {
                entry.chops.push_back({vt::Uuid::random(), chop, chop * 2.0, chop * 2.0 + 2, 0.5});
                writeSound(cache.chopSampleURL(sample, entry.chops.back()));
            }
        }
        library.samples.push_back(std::move(sample));
    }
    cache.saveManifest(library.samples);
    cache.saveLocalMetadata(library.metadata);
    return library;
}

void writeBridgeMetadata(const std::filesystem::path& root, const BridgeMetadataMap& metadata) {
    writerFor(root).saveLocalMetadata(metadata);
}

} // namespace vt::bench

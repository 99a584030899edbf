// Times the library folder's JSON files and an idle mirror pass over a library of 10,000
// samples, against plain nlohmann::json dump/parse of the same data as the reference. Each save
// writes two files (the library folder's and the plug-in's copy), each flushed to disk and renamed
// into place, on both sides.

#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int sampleCount = 10'000;
constexpr int peakCount = 120;
constexpr int repetitions = 5;

// The median wall time of a few runs, in milliseconds.
double medianMilliseconds(const std::function<void()>& work) {
    std::vector<double> times;
    for (int run = 0; run < repetitions; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::vector<SampleItem> makeSamples(std::mt19937& random) {
    std::uniform_real_distribution<float> peak(0.0f, 1.0f);
    std::vector<SampleItem> samples;
    for (int i = 0; i < sampleCount; ++i) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Take " + std::to_string(i + 1);
        sample.createdAt = vt::Date{1709622489.0 + i * 60};
        sample.fileName = "take-" + std::to_string(i + 1) + ".m4a";
        sample.duration = 1.5 + i % 30;
        sample.sampleRate = 48000;
        sample.channelCount = 1;
        sample.byteCount = 16;
        for (int p = 0; p < peakCount; ++p)
            sample.peaks.push_back(peak(random));
        samples.push_back(std::move(sample));
    }
    return samples;
}

BridgeMetadataMap makeMetadata(const std::vector<SampleItem>& samples) {
    BridgeMetadataMap metadata;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        BridgeSampleMetadata entry;
        entry.titleOverride = "Renamed " + std::to_string(i);
        entry.edit = {0.1, 1.2, 0.01, 0.02, true, false};
        entry.analysis = {
            120.0, 0.8, "C", 0.6, "C major", 0.7, "fingerprint-" + std::to_string(i), vt::Date{1709622489.0}};
        entry.chopSource = "bridge";
        for (int c = 0; c < 4; ++c)
            entry.chops.push_back({vt::Uuid::random(), c, c * 0.25, (c + 1) * 0.25, 0.5});
        metadata[samples[i].id] = std::move(entry);
    }
    return metadata;
}

// A float peak as the double whose shortest form is the float's shortest form, so that the
// plain dump writes the same digits as the library file (nlohmann only knows doubles).
double asWrittenFloat(float value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

nlohmann::json plainPeaks(const std::vector<float>& peaks) {
    nlohmann::json array = nlohmann::json::array();
    for (float peak : peaks)
        array.push_back(asWrittenFloat(peak));
    return array;
}

// The same records built directly with nlohmann::json, no strict helpers.
nlohmann::json plainManifest(const std::vector<SampleItem>& samples) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& s : samples)
        array.push_back({{"id", s.id.string()},
                         {"title", s.title},
                         {"createdAt", vt::formatISO8601(s.createdAt)},
                         {"fileName", s.fileName},
                         {"duration", s.duration},
                         {"sampleRate", s.sampleRate},
                         {"channelCount", s.channelCount},
                         {"byteCount", s.byteCount},
                         {"peaks", plainPeaks(s.peaks)},
                         {"isFavorite", s.isFavorite}});
    return array;
}

nlohmann::json plainMetadata(const BridgeMetadataMap& metadata) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [id, m] : metadata) {
        nlohmann::json chops = nlohmann::json::array();
        for (const auto& c : m.chops)
            chops.push_back({{"id", c.id.string()},
                             {"index", c.index},
                             {"startTime", c.startTime},
                             {"endTime", c.endTime},
                             {"strength", c.strength}});
        object[id.string()] = {{"titleOverride", *m.titleOverride},
                               {"edit",
                                {{"startTime", m.edit.startTime},
                                 {"endTime", *m.edit.endTime},
                                 {"fadeIn", m.edit.fadeIn},
                                 {"fadeOut", m.edit.fadeOut},
                                 {"normalize", true}}},
                               {"analysis",
                                {{"bpm", *m.analysis.bpm},
                                 {"bpmConfidence", m.analysis.bpmConfidence},
                                 {"rootNote", *m.analysis.rootNote},
                                 {"rootConfidence", m.analysis.rootConfidence},
                                 {"musicalKey", *m.analysis.musicalKey},
                                 {"keyConfidence", m.analysis.keyConfidence},
                                 {"sourceFingerprint", *m.analysis.sourceFingerprint},
                                 {"analyzedAt", vt::referenceSeconds(*m.analysis.analyzedAt)}}},
                               {"chopSource", *m.chopSource},
                               {"chopSensitivity", m.chopSensitivity},
                               {"chops", chops}};
    }
    return object;
}

// Writes text whole or not at all, as a careful program does: a temporary beside the file, flushed
// to disk, then renamed onto it.
void plainWriteFile(const fs::path& path, const std::string& text) {
    const std::string temporary = path.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write " + temporary);
    for (std::size_t written = 0; written < text.size();) {
        const ssize_t got = ::write(fd, text.data() + written, text.size() - written);
        if (got <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + temporary);
        }
        written += static_cast<std::size_t>(got);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot replace " + path.string());
}

// The same two files the library folder writes: its own and the plug-in's copy.
void plainWrite(const fs::path& path, const fs::path& copy, const nlohmann::json& document) {
    const std::string text = document.dump(2);
    plainWriteFile(path, text);
    plainWriteFile(copy, text);
}

nlohmann::json plainRead(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return nlohmann::json::parse(text.str());
}

void printRow(const char* what, double ours, double reference) {
    std::printf("%-22s %9.2f ms   nlohmann %9.2f ms   ratio %5.2f\n", what, ours, reference,
                ours / reference);
}

} // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "vellumtide-bench.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    fs::path root = pattern;
    vt::Paths paths = vt::Paths::underRoot(root);
    BridgeSampleCache cache(paths, paths.music / "Vellumtide");

    std::mt19937 random(42);
    auto samples = makeSamples(random);
    auto metadata = makeMetadata(samples);
    for (const auto& sample : samples)
        vt::writeFileAtomically(*cache.sampleURL(sample), std::string(16, 'a'));
    cache.mirrorLibrary(samples, metadata); // fills the mirror once

    std::size_t loadedSamples = 0, loadedEntries = 0;
    double saveManifest = medianMilliseconds([&] { cache.saveManifest(samples); });
    double loadManifest = medianMilliseconds([&] { loadedSamples = cache.loadManifest().size(); });
    double saveMetadata = medianMilliseconds([&] { cache.saveLocalMetadata(metadata); });
    double loadMetadata = medianMilliseconds([&] { loadedEntries = cache.loadLocalMetadata().size(); });
    double mirrorPass = medianMilliseconds([&] { cache.mirrorLibrary(samples, metadata); });

    fs::path plainFolder = root / "plain";
    fs::path plainCopies = plainFolder / "copy";
    fs::create_directories(plainCopies);
    double plainSaveManifest = medianMilliseconds([&] {
        plainWrite(plainFolder / "library.json", plainCopies / "library.json", plainManifest(samples));
    });
    double plainLoadManifest = medianMilliseconds([&] { plainRead(plainFolder / "library.json"); });
    double plainSaveMetadata = medianMilliseconds([&] {
        plainWrite(plainFolder / "bridge-metadata.json", plainCopies / "bridge-metadata.json",
                   plainMetadata(metadata));
    });
    double plainLoadMetadata = medianMilliseconds([&] { plainRead(plainFolder / "bridge-metadata.json"); });

    std::printf("library of %d samples, %d peaks each; median of %d runs\n", sampleCount, peakCount,
                repetitions);
    std::printf("loaded back: %zu samples, %zu metadata entries\n", loadedSamples, loadedEntries);
    std::printf("library.json: %ju bytes (plain dump %ju bytes); bridge-metadata.json: %ju bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(cache.manifestURL())),
                static_cast<std::uintmax_t>(fs::file_size(plainFolder / "library.json")),
                static_cast<std::uintmax_t>(fs::file_size(cache.metadataURL())));
    printRow("saveManifest", saveManifest, plainSaveManifest);
    printRow("loadManifest", loadManifest, plainLoadManifest);
    printRow("saveLocalMetadata", saveMetadata, plainSaveMetadata);
    printRow("loadLocalMetadata", loadMetadata, plainLoadMetadata);
    std::printf("%-22s %9.2f ms   (both saves, then size checks only: nothing to copy)\n",
                "mirrorLibrary idle", mirrorPass);

    const auto manifestBytes = fs::file_size(cache.manifestURL());
    const auto plainManifestBytes = fs::file_size(plainFolder / "library.json");
    std::printf("BENCH save_manifest_ratio=%.2f load_manifest_ratio=%.2f save_metadata_ratio=%.2f "
                "load_metadata_ratio=%.2f manifest_size_ratio=%.3f mirror_idle_ms=%.1f\n",
                saveManifest / plainSaveManifest, loadManifest / plainLoadManifest,
                saveMetadata / plainSaveMetadata, loadMetadata / plainLoadMetadata,
                static_cast<double>(manifestBytes) / plainManifestBytes, mirrorPass);

    std::error_code ignored;
    fs::remove_all(root, ignored);
    return loadedSamples == samples.size() && loadedEntries == metadata.size() ? 0 : 1;
}

#pragma once
// The two library files as the reader decodes them, and the merge of one listed sample with its
// local overrides. Internal to the library reader.

#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace simdjson {
struct padded_string;
}

namespace libraryfiles {

// One element of "library.json"; keys not listed here are ignored.
struct ManifestSample {
    vt::Uuid id;
    std::string title;
    vt::Date createdAt;
    std::string fileName;
    double duration = 0;
    double sampleRate = 0;
    std::int64_t byteCount = 0;
    std::vector<float> peaks;
    bool isFavorite = false;
};

struct PluginAnalysis {
    std::optional<double> bpm;
    double bpmConfidence = 0;
    std::optional<std::string> rootNote;
    double rootConfidence = 0;
    std::optional<std::string> musicalKey;
    double keyConfidence = 0;
};

struct PluginChop {
    vt::Uuid id;
    std::int64_t index = 0;
    double startTime = 0;
    double endTime = 0;
    double strength = 0;
};

// One value of "bridge-metadata.json": the desktop program's overrides of one sample.
struct PluginMetadata {
    std::optional<std::string> titleOverride;
    bool isFavorite = false;
    std::optional<bool> favoriteOverride;
    bool isDeleted = false;
    VellumtidePluginEdit edit;
    PluginAnalysis analysis;
    std::vector<PluginChop> chops;
};

using MetadataMap = std::unordered_map<vt::Uuid, PluginMetadata>;

// The samples of "library.json"; nothing when the text is not a valid list of samples, or when
// stop was set while decoding.
std::optional<std::vector<ManifestSample>> decodeManifest(std::string_view bytes,
                                                          const std::atomic_bool* stop = nullptr);
// The overrides of "bridge-metadata.json" by sample; empty when any part does not decode.
// Keys that are no UUID are dropped; of two keys for one UUID the upper-case form wins.
MetadataMap decodeMetadata(std::string_view bytes);
// The same over a file read whole with the fast reader's padding, which spares a copy.
std::optional<std::vector<ManifestSample>> decodeManifest(const simdjson::padded_string& text,
                                                          const std::atomic_bool* stop = nullptr);
MetadataMap decodeMetadata(const simdjson::padded_string& text);

// One element of "library.json" whose peak list was taken out to be read on its own (its text
// holds "peaks": []); nothing when it is no valid sample.
std::optional<ManifestSample> decodeManifestSampleWithoutPeaks(std::string_view text);
// One peak list ("[0.5, 1]"); nothing when it is no list of floats.
std::optional<std::vector<float>> decodePeakList(std::string_view text);

// The regular files (symbolic links followed) of one folder, listed once.
using FileNames = std::unordered_set<std::string>;
// Nothing when the folder exists but cannot be listed; an empty set when it does not exist.
std::optional<FileNames> regularFilesIn(const std::filesystem::path& folder);

// The paths of one library folder. After listFiles() the existence of audio files is looked up
// in one listing per subfolder instead of asked of the file system file by file.
struct LibraryFolder {
    enum class Place : std::uint8_t { samples, edited, chops };

    explicit LibraryFolder(std::filesystem::path root) : root(std::move(root)) {}

    std::filesystem::path root;
    std::optional<FileNames> samples, edited, chops;

    static std::string editedName(const vt::Uuid& sample) { return sample.string() + ".wav"; }
    static std::string chopName(const vt::Uuid& sample, const vt::Uuid& chop) {
        return sample.string() + "-chop-" + chop.string() + ".wav";
    }
    std::filesystem::path samplesFile(const std::string& fileName) const {
        return root / "Samples" / fileName;
    }
    std::filesystem::path editedFile(const vt::Uuid& sample) const {
        return root / "Edited" / editedName(sample);
    }
    std::filesystem::path chopFile(const vt::Uuid& sample, const vt::Uuid& chop) const {
        return root / "Chops" / chopName(sample, chop);
    }

    // Lists "Samples", "Edited" and "Chops" once.
    void listFiles();
    // True when a regular file of that name is in the subfolder (name is one safe component).
    bool hasFile(Place place, const std::string& name) const;
};

// The published record of one listed sample, or nothing when the overrides delete it. Adds one
// to missingFiles when the sample's audio file is not there. The second form takes the record's
// peaks instead of copying them.
std::optional<VellumtidePluginSample> mergeSample(const ManifestSample& record, const MetadataMap& metadata,
                                                  const LibraryFolder& folder, std::size_t& missingFiles);
std::optional<VellumtidePluginSample> mergeSample(ManifestSample&& record, const MetadataMap& metadata,
                                                  const LibraryFolder& folder, std::size_t& missingFiles);

// Sets what a sample takes from the audio files: whether its rendered edit plays, its file, that
// file's presence, its length, and each chop's presence. rawFileName is the name in "Samples";
// one that is not a safe path component gives no file. True when any of it changed.
bool placeFiles(VellumtidePluginSample& sample, const std::string& rawFileName, const LibraryFolder& folder);

// The status line for n published samples of which m have no audio file.
std::string statusText(std::size_t published, std::size_t missing);

} // namespace libraryfiles

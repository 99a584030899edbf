#include "VellumtideAU/LibraryReader/LibraryFiles.h"

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/FastJson.h"
#include "Platform/Core/Json.h"
#include "Platform/Core/NumberFormat.h"

#include <algorithm>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <system_error>
#include <tuple>

namespace libraryfiles {
namespace {

using vt::json::Json;
using vt::json::ObjectReader;

constexpr double tempoConfidenceFloor = 0.42;
constexpr double rootConfidenceFloor = 0.43;
constexpr double keyConfidenceFloor = 0.5;

// One element of "library.json", read through either reader's object reader; peaks are given.
template <typename Reader>
ManifestSample decodeManifestSample(const Reader& reader, std::vector<float> peaks) {
    ManifestSample sample;
    sample.id = reader.requireUuid("id");
    sample.title = reader.requireString("title");
    auto createdAt = vt::parseISO8601(reader.requireString("createdAt"));
    if (!createdAt)
        throw vt::json::JsonError("createdAt is not an ISO 8601 date");
    sample.createdAt = *createdAt;
    sample.fileName = reader.requireString("fileName");
    sample.duration = reader.requireDouble("duration");
    sample.sampleRate = reader.requireDouble("sampleRate");
    sample.byteCount = reader.requireInt("byteCount");
    sample.peaks = std::move(peaks);
    sample.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    return sample;
}

template <typename Value> VellumtidePluginEdit decodeEdit(const Value& value) {
    const auto reader = vt::json::readObject(value);
    VellumtidePluginEdit edit;
    edit.startTime = reader.optionalDouble("startTime").value_or(0);
    edit.endTime = reader.optionalDouble("endTime");
    edit.fadeIn = reader.optionalDouble("fadeIn").value_or(0);
    edit.fadeOut = reader.optionalDouble("fadeOut").value_or(0);
    edit.normalize = reader.optionalBool("normalize").value_or(false);
    edit.denoise = reader.optionalBool("denoise").value_or(false);
    return edit;
}

template <typename Value> PluginAnalysis decodeAnalysis(const Value& value) {
    const auto reader = vt::json::readObject(value);
    PluginAnalysis analysis;
    analysis.bpm = reader.optionalDouble("bpm");
    analysis.bpmConfidence = reader.requireDouble("bpmConfidence");
    analysis.rootNote = reader.optionalString("rootNote");
    analysis.rootConfidence = reader.requireDouble("rootConfidence");
    analysis.musicalKey = reader.optionalString("musicalKey");
    analysis.keyConfidence = reader.requireDouble("keyConfidence");
    return analysis;
}

template <typename Value> PluginChop decodeChop(const Value& value) {
    const auto reader = vt::json::readObject(value);
    return PluginChop{reader.requireUuid("id"), reader.requireInt("index"), reader.requireDouble("startTime"),
                      reader.requireDouble("endTime"), reader.requireDouble("strength")};
}

template <typename Value> PluginMetadata decodeMetadataValue(const Value& value) {
    const auto reader = vt::json::readObject(value);
    PluginMetadata metadata;
    metadata.titleOverride = reader.optionalString("titleOverride");
    metadata.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    metadata.favoriteOverride = reader.optionalBool("favoriteOverride");
    metadata.isDeleted = reader.optionalBool("isDeleted").value_or(false);
    if (const auto edit = reader.find("edit"))
        metadata.edit = decodeEdit(*edit);
    if (const auto analysis = reader.find("analysis"))
        metadata.analysis = decodeAnalysis(*analysis);
    if (const auto chops = reader.find("chops"))
        for (const auto& chop : vt::json::requireArray(*chops))
            metadata.chops.push_back(decodeChop(chop));
    return metadata;
}

// True for the Unicode white space and line-break characters.
bool isBlank(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The code point that starts at text[at] and its length in bytes; malformed bytes count as one
// non-blank character.
std::pair<char32_t, std::size_t> codePointAt(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || at + length > text.size())
        return {0xFFFD, 1};
    char32_t value = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return {0xFFFD, 1};
        value = (value << 6) | (next & 0x3F);
    }
    return {value, length};
}

// Trims white space and line breaks (Unicode's, not only ASCII's) at both ends.
std::string trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t keptEnd = 0;
    bool seenText = false;
    for (std::size_t at = 0; at < text.size();) {
        auto [character, length] = codePointAt(text, at);
        if (!isBlank(character)) {
            if (!seenText)
                first = at;
            seenText = true;
            keptEnd = at + length;
        }
        at += length;
    }
    return seenText ? text.substr(first, keptEnd - first) : std::string();
}

bool isRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

std::optional<std::string> tempoLabel(const PluginAnalysis& analysis) {
    if (!analysis.bpm || !(analysis.bpmConfidence >= tempoConfidenceFloor))
        return std::nullopt;
    auto rounded = vt::roundedInteger(*analysis.bpm);
    if (!rounded)
        return std::nullopt;
    return vt::formatInteger(*rounded) + " BPM";
}

std::optional<std::string> prefixedLabel(const char* prefix, const std::optional<std::string>& value,
                                         double confidence, double floor) {
    if (!value || !(confidence >= floor))
        return std::nullopt;
    return prefix + *value;
}

VellumtidePluginChop makeChop(const PluginChop& chop, const vt::Uuid& sample, const LibraryFolder& folder) {
    VellumtidePluginChop result;
    result.id = chop.id;
    result.index = chop.index;
    result.title = VellumtidePluginChop::titleForIndex(chop.index);
    result.startTime = chop.startTime;
    result.endTime = chop.endTime;
    result.duration = std::max(chop.endTime - chop.startTime, 0.0);
    result.strength = chop.strength;
    result.audioURL = folder.chopFile(sample, chop.id);
    return result;
}

} // namespace

namespace {

// Decodes "library.json" as the parser streams it, without building the whole document (its
// peak lists are nearly all of it). The rules are the strict reader's: each sample's keys are
// gathered into a small object (the last of duplicate keys wins, null stands for absent) and
// read with the same helpers; every peak goes through the same float check.
class ManifestStream final : public nlohmann::json_sax<Json> {
public:
    std::vector<ManifestSample> samples;

    bool null() override { return scalar(Json()); }
    bool boolean(bool value) override { return scalar(Json(value)); }
    bool number_integer(number_integer_t value) override { return scalar(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(Json(value)); }
    bool string(string_t& value) override { return scalar(Json(std::move(value))); }
    bool binary(binary_t&) override { return false; }

    bool key(string_t& name) override {
        if (skipping == 0 && depth == sampleDepth)
            currentKey = std::move(name);
        return true;
    }

    bool start_object(std::size_t) override { return startContainer(Json::object()); }
    bool start_array(std::size_t) override {
        if (skipping == 0 && depth == sampleDepth && currentKey == "peaks") {
            peaksState = Peaks::list;
            peaks.clear();
            peaksValid = true;
            ++depth;
            return true;
        }
        return startContainer(Json::array());
    }
    bool end_object() override { return endContainer(); }
    bool end_array() override { return endContainer(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    static constexpr int listDepth = 1;   // inside the top-level list
    static constexpr int sampleDepth = 2; // inside one sample's object
    static constexpr int peaksDepth = 3;  // inside a sample's peak list
    enum class Peaks { absent, null, list, other };

    bool scalar(Json value) {
        if (skipping > 0)
            return true;
        if (depth < sampleDepth)
            return false; // the document is no list of objects
        if (depth == peaksDepth) {
            try {
                peaks.push_back(vt::json::toFloat(value));
            } catch (const vt::json::JsonError&) {
                peaksValid = false;
            }
            return true;
        }
        assign(std::move(value));
        return true;
    }

    void assign(Json value) {
        if (currentKey == "peaks")
            peaksState = value.is_null() ? Peaks::null : Peaks::other;
        else
            fields[currentKey] = std::move(value);
    }

    // A container where a value goes: the list itself, a sample, or a value that is read only to
    // fail a key that wants a scalar (its content is skipped).
    bool startContainer(Json placeholder) {
        if (skipping > 0) {
            ++skipping;
            return true;
        }
        const bool isObject = placeholder.is_object();
        if (depth == 0) {
            if (isObject)
                return false;
            depth = listDepth;
            return true;
        }
        if (depth == listDepth) {
            if (!isObject)
                return false;
            fields = Json::object();
            peaksState = Peaks::absent;
            peaks.clear();
            depth = sampleDepth;
            return true;
        }
        if (depth == peaksDepth)
            peaksValid = false;
        else
            assign(std::move(placeholder));
        skipping = 1;
        return true;
    }

    bool endContainer() {
        if (skipping > 0) {
            --skipping;
            return true;
        }
        if (depth == sampleDepth && !finishSample())
            return false;
        --depth;
        return true;
    }

    bool finishSample() {
        try {
            if (peaksState != Peaks::list || !peaksValid)
                return false;
            samples.push_back(decodeManifestSample(ObjectReader(fields), std::move(peaks)));
            peaks = {};
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    int depth = 0;
    int skipping = 0; // nesting inside a skipped container
    std::string currentKey;
    Json fields;
    Peaks peaksState = Peaks::absent;
    std::vector<float> peaks;
    bool peaksValid = true;
};

} // namespace

namespace {

// "library.json" through the streaming reader, which has the last word on what is JSON.
std::optional<std::vector<ManifestSample>> decodeManifestStreaming(std::string_view bytes) {
    ManifestStream stream;
    try {
        if (!Json::sax_parse(bytes.begin(), bytes.end(), &stream))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return std::move(stream.samples);
}

// The keys of one object in key order, the last of a repeated key winning, each with the
// canonical-key rule applied: as the streaming reader's document iterates them.
template <typename Entries> MetadataMap metadataFromEntries(const Entries& entries) {
    MetadataMap metadata;
    std::unordered_map<vt::Uuid, bool> storedFromCanonicalKey;
    for (const auto& [key, value] : entries) {
        PluginMetadata decoded = decodeMetadataValue(value);
        auto id = vt::Uuid::parse(key);
        if (!id)
            continue;
        const bool canonical = key == id->string();
        auto stored = storedFromCanonicalKey.find(*id);
        if (stored != storedFromCanonicalKey.end() && stored->second && !canonical)
            continue;
        metadata[*id] = std::move(decoded);
        storedFromCanonicalKey[*id] = canonical;
    }
    return metadata;
}

} // namespace

namespace {

// Either text through the fast reader; what it does not take goes to the reader with the last word.
template <typename Text, typename Decode, typename Fallback>
auto decodeFast(const Text& text, Decode decode, Fallback fallback) {
    std::optional<vt::json::FastDocument> document;
    try {
        document.emplace(text);
    } catch (const vt::json::JsonError&) {
        return fallback(std::string_view(text));
    }
    return decode(document->root());
}

std::optional<std::vector<ManifestSample>> manifestFromDocument(vt::json::FastValue root,
                                                                const std::atomic_bool* stop) {
    try {
        const auto list = vt::json::requireArray(root);
        std::vector<ManifestSample> samples;
        samples.reserve(list.size());
        for (vt::json::FastValue element : list) {
            if (stop && stop->load(std::memory_order_relaxed))
                return std::nullopt;
            const vt::json::FastObjectReader reader(element);
            samples.push_back(decodeManifestSample(reader, reader.requireFloats("peaks")));
        }
        return samples;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

MetadataMap metadataFromDocument(vt::json::FastValue root) {
    try {
        if (!root.is_object())
            return {};
        std::map<std::string_view, vt::json::FastValue> entries;
        for (auto field : vt::json::requireObject(root))
            entries.insert_or_assign(field.key, field.value);
        return metadataFromEntries(entries);
    } catch (const std::exception&) {
        return {};
    }
}

MetadataMap decodeMetadataStrictly(std::string_view bytes) {
    try {
        const Json document = vt::json::parse(bytes);
        if (!document.is_object())
            return {};
        return metadataFromEntries(document.items());
    } catch (const std::exception&) {
        return {};
    }
}

template <typename Text>
std::optional<std::vector<ManifestSample>> decodeManifestText(const Text& text,
                                                              const std::atomic_bool* stop) {
    return decodeFast(
        text, [stop](vt::json::FastValue root) { return manifestFromDocument(root, stop); },
        decodeManifestStreaming);
}

} // namespace

std::optional<std::vector<ManifestSample>> decodeManifest(std::string_view bytes,
                                                          const std::atomic_bool* stop) {
    return decodeManifestText(bytes, stop);
}

std::optional<std::vector<ManifestSample>> decodeManifest(const simdjson::padded_string& text,
                                                          const std::atomic_bool* stop) {
    return decodeManifestText(text, stop);
}

MetadataMap decodeMetadata(std::string_view bytes) {
    return decodeFast(bytes, metadataFromDocument, decodeMetadataStrictly);
}

MetadataMap decodeMetadata(const simdjson::padded_string& text) {
    return decodeFast(text, metadataFromDocument, decodeMetadataStrictly);
}

std::optional<ManifestSample> decodeManifestSampleWithoutPeaks(std::string_view text) {
    try {
        const vt::json::FastDocument document(text);
        const vt::json::FastObjectReader reader(document.root());
        vt::json::requireArray(reader.require("peaks"));
        return decodeManifestSample(reader, {});
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::vector<float>> decodePeakList(std::string_view text) {
    try {
        const vt::json::FastDocument document(text);
        return vt::json::toFloats(document.root());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<FileNames> regularFilesIn(const std::filesystem::path& folder) {
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return errno == ENOENT || errno == ENOTDIR ? std::optional(FileNames()) : std::nullopt;
    FileNames names;
    const int descriptor = ::dirfd(directory);
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            regular = ::fstatat(descriptor, entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
        }
        if (regular)
            names.emplace(name);
    }
    ::closedir(directory);
    return names;
}

void LibraryFolder::listFiles() {
    samples = regularFilesIn(root / "Samples");
    edited = regularFilesIn(root / "Edited");
    chops = regularFilesIn(root / "Chops");
}

bool LibraryFolder::hasFile(Place place, const std::string& name) const {
    const auto& listing = place == Place::samples ? samples : place == Place::edited ? edited : chops;
    const char* folder = place == Place::samples ? "Samples" : place == Place::edited ? "Edited" : "Chops";
    // A folder that could not be listed is asked file by file.
    return listing ? listing->contains(name) : isRegularFile(root / folder / name);
}

bool placeFiles(VellumtidePluginSample& sample, const std::string& rawFileName, const LibraryFolder& folder) {
    using Place = LibraryFolder::Place;
    const auto before = std::tuple(sample.isEdited, sample.isAvailable, sample.audioURL, sample.duration);
    // A file name that is not one safe path component is never turned into a path: the sample
    // is listed without a file.
    sample.isEdited = false;
    sample.isAvailable = false;
    sample.audioURL.clear();
    if (vt::isSafeFileName(rawFileName)) {
        sample.isEdited = sample.edit.isActive(sample.originalDuration) &&
                          folder.hasFile(Place::edited, LibraryFolder::editedName(sample.id));
        sample.audioURL = sample.isEdited ? folder.editedFile(sample.id) : folder.samplesFile(rawFileName);
        sample.isAvailable = sample.isEdited || folder.hasFile(Place::samples, rawFileName);
    }
    // The edited length comes from the sanitised edit, so it never exceeds the recording.
    sample.duration =
        sample.isEdited ? sample.edit.editedDuration(sample.originalDuration) : sample.originalDuration;
    bool changed =
        before != std::tuple(sample.isEdited, sample.isAvailable, sample.audioURL, sample.duration);
    for (auto& chop : sample.chops) {
        const bool available = folder.hasFile(Place::chops, LibraryFolder::chopName(sample.id, chop.id));
        changed = changed || available != chop.isAvailable;
        chop.isAvailable = available;
    }
    return changed;
}

namespace {

template <typename Record>
std::optional<VellumtidePluginSample> merge(Record&& record, const MetadataMap& metadata,
                                            const LibraryFolder& folder, std::size_t& missingFiles) {
    static const PluginMetadata noOverrides;
    auto found = metadata.find(record.id);
    const PluginMetadata& overrides = found == metadata.end() ? noOverrides : found->second;
    if (overrides.isDeleted)
        return std::nullopt;

    VellumtidePluginSample sample;
    sample.id = record.id;
    const std::string override = overrides.titleOverride ? trimmed(*overrides.titleOverride) : std::string();
    sample.title = override.empty() ? record.title : override;
    sample.createdAt = record.createdAt;
    sample.sampleRate = record.sampleRate;
    sample.byteCount = record.byteCount;
    sample.peaks = std::forward<Record>(record).peaks;
    sample.edit = overrides.edit.sanitized(record.duration);

    sample.originalDuration = record.duration;
    for (const auto& chop : overrides.chops)
        sample.chops.push_back(makeChop(chop, record.id, folder));
    placeFiles(sample, record.fileName, folder);
    if (!sample.isAvailable)
        ++missingFiles;
    sample.isFavorite = overrides.favoriteOverride.value_or(record.isFavorite || overrides.isFavorite);
    sample.tempoLabel = tempoLabel(overrides.analysis);
    sample.rootLabel = prefixedLabel("Root ", overrides.analysis.rootNote, overrides.analysis.rootConfidence,
                                     rootConfidenceFloor);
    sample.keyLabel = prefixedLabel("Key ", overrides.analysis.musicalKey, overrides.analysis.keyConfidence,
                                    keyConfidenceFloor);
    return sample;
}

} // namespace

std::optional<VellumtidePluginSample> mergeSample(const ManifestSample& record, const MetadataMap& metadata,
                                                  const LibraryFolder& folder, std::size_t& missingFiles) {
    return merge(record, metadata, folder, missingFiles);
}

std::optional<VellumtidePluginSample> mergeSample(ManifestSample&& record, const MetadataMap& metadata,
                                                  const LibraryFolder& folder, std::size_t& missingFiles) {
    return merge(std::move(record), metadata, folder, missingFiles);
}

std::string statusText(std::size_t published, std::size_t missing) {
    const std::string count = vt::formatInteger(static_cast<std::int64_t>(published));
    if (published == 0)
        return "Bridge library is empty";
    if (missing == 0)
        return count + " synced sample" + (published == 1 ? "" : "s");
    if (missing < published)
        return count + " samples, " + vt::formatInteger(static_cast<std::int64_t>(missing)) +
               " missing file" + (missing == 1 ? "" : "s");
    return "Found " + count + " samples, audio files unavailable";
}

} // namespace libraryfiles

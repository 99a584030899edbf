#include "VellumtideAU/LibraryReader/LibraryFiles.h"

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Json.h"
#include "Platform/Core/NumberFormat.h"

#include <algorithm>
#include <system_error>

namespace libraryfiles {
namespace {

using vt::json::Json;
using vt::json::ObjectReader;

constexpr double tempoConfidenceFloor = 0.42;
constexpr double rootConfidenceFloor = 0.43;
constexpr double keyConfidenceFloor = 0.5;

ManifestSample decodeManifestSample(const Json& value) {
    ObjectReader reader(value);
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
    sample.peaks = reader.requireFloats("peaks");
    sample.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    return sample;
}

VellumtidePluginEdit decodeEdit(const Json& value) {
    ObjectReader reader(value);
    VellumtidePluginEdit edit;
    edit.startTime = reader.optionalDouble("startTime").value_or(0);
    edit.endTime = reader.optionalDouble("endTime");
    edit.fadeIn = reader.optionalDouble("fadeIn").value_or(0);
    edit.fadeOut = reader.optionalDouble("fadeOut").value_or(0);
    edit.normalize = reader.optionalBool("normalize").value_or(false);
    edit.denoise = reader.optionalBool("denoise").value_or(false);
    return edit;
}

PluginAnalysis decodeAnalysis(const Json& value) {
    ObjectReader reader(value);
    PluginAnalysis analysis;
    analysis.bpm = reader.optionalDouble("bpm");
    analysis.bpmConfidence = reader.requireDouble("bpmConfidence");
    analysis.rootNote = reader.optionalString("rootNote");
    analysis.rootConfidence = reader.requireDouble("rootConfidence");
    analysis.musicalKey = reader.optionalString("musicalKey");
    analysis.keyConfidence = reader.requireDouble("keyConfidence");
    return analysis;
}

PluginChop decodeChop(const Json& value) {
    ObjectReader reader(value);
    return PluginChop{reader.requireUuid("id"), reader.requireInt("index"), reader.requireDouble("startTime"),
                      reader.requireDouble("endTime"), reader.requireDouble("strength")};
}

PluginMetadata decodeMetadataValue(const Json& value) {
    ObjectReader reader(value);
    PluginMetadata metadata;
    metadata.titleOverride = reader.optionalString("titleOverride");
    metadata.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    metadata.favoriteOverride = reader.optionalBool("favoriteOverride");
    metadata.isDeleted = reader.optionalBool("isDeleted").value_or(false);
    if (const Json* edit = reader.find("edit"))
        metadata.edit = decodeEdit(*edit);
    if (const Json* analysis = reader.find("analysis"))
        metadata.analysis = decodeAnalysis(*analysis);
    if (const Json* chops = reader.find("chops"))
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
    result.isAvailable = isRegularFile(result.audioURL);
    return result;
}

} // namespace

std::optional<std::vector<ManifestSample>> decodeManifest(std::string_view bytes) {
    try {
        const Json document = vt::json::parse(bytes);
        std::vector<ManifestSample> samples;
        for (const auto& element : vt::json::requireArray(document))
            samples.push_back(decodeManifestSample(element));
        return samples;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

MetadataMap decodeMetadata(std::string_view bytes) {
    try {
        const Json document = vt::json::parse(bytes);
        if (!document.is_object())
            return {};
        MetadataMap metadata;
        std::unordered_map<vt::Uuid, bool> storedFromCanonicalKey;
        for (const auto& [key, value] : document.items()) {
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
    } catch (const std::exception&) {
        return {};
    }
}

std::optional<VellumtidePluginSample> mergeSample(const ManifestSample& record, const MetadataMap& metadata,
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
    sample.peaks = record.peaks;
    sample.edit = overrides.edit.sanitized(record.duration);

    // A file name that is not one safe path component is never turned into a path: the sample
    // is listed without a file.
    if (vt::isSafeFileName(record.fileName)) {
        const auto edited = folder.editedFile(record.id);
        sample.isEdited = sample.edit.isActive(record.duration) && isRegularFile(edited);
        sample.audioURL = sample.isEdited ? edited : folder.samplesFile(record.fileName);
        sample.isAvailable = isRegularFile(sample.audioURL);
    }
    if (!sample.isAvailable)
        ++missingFiles;

    for (const auto& chop : overrides.chops)
        sample.chops.push_back(makeChop(chop, record.id, folder));

    // The edited length comes from the sanitised edit, so it never exceeds the recording.
    sample.originalDuration = record.duration;
    sample.duration = sample.isEdited ? sample.edit.editedDuration(record.duration) : record.duration;
    sample.isFavorite = overrides.favoriteOverride.value_or(record.isFavorite || overrides.isFavorite);
    sample.tempoLabel = tempoLabel(overrides.analysis);
    sample.rootLabel = prefixedLabel("Root ", overrides.analysis.rootNote, overrides.analysis.rootConfidence,
                                     rootConfidenceFloor);
    sample.keyLabel = prefixedLabel("Key ", overrides.analysis.musicalKey, overrides.analysis.keyConfidence,
                                    keyConfidenceFloor);
    return sample;
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

#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include "Platform/Core/FastJson.h"
#include "Platform/Core/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

using vt::json::Json;
using vt::json::ObjectReader;

namespace {

constexpr double minimumLength = 0.05;
constexpr double negligible = 0.001;

// White space and line breaks as Unicode defines them.
bool isWhiteSpace(char32_t c) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Decodes the UTF-8 code point at text[pos]; returns its length (1 for invalid bytes).
std::size_t decodeAt(std::string_view text, std::size_t pos, char32_t& out) {
    auto byte = static_cast<unsigned char>(text[pos]);
    std::size_t length = byte < 0x80           ? 1
                         : (byte >> 5) == 0x6  ? 2
                         : (byte >> 4) == 0xE  ? 3
                         : (byte >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || pos + length > text.size()) {
        out = 0xFFFD;
        return 1;
    }
    char32_t value = length == 1 ? byte : byte & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    out = value;
    return length;
}

double sanitizedFade(double fade, double half) {
    if (std::isnan(fade) || fade < 0)
        return 0;
    return std::min(fade, half);
}

// The decoders below are written once for both readers: Value is a vt::json::Json (nlohmann)
// or a vt::json::FastValue (simdjson), each read through the same conversions.

template <typename Value> vt::Date readDate(const Value& value, DateForm form) {
    if (form == DateForm::referenceSeconds)
        return vt::dateFromReferenceSeconds(vt::json::toDouble(value));
    auto date = vt::parseISO8601(vt::json::toString(value));
    if (!date)
        throw vt::json::JsonError("Expected date string to be ISO8601-formatted.");
    return *date;
}

template <typename Value> BridgeSampleEdit readEdit(const Value& value) {
    auto reader = vt::json::readObject(value);
    BridgeSampleEdit edit;
    edit.startTime = reader.optionalDouble("startTime").value_or(0);
    edit.endTime = reader.optionalDouble("endTime");
    edit.fadeIn = reader.optionalDouble("fadeIn").value_or(0);
    edit.fadeOut = reader.optionalDouble("fadeOut").value_or(0);
    edit.normalize = reader.optionalBool("normalize").value_or(false);
    edit.denoise = reader.optionalBool("denoise").value_or(false);
    return edit;
}

template <typename Value> BridgeSampleChop readChop(const Value& value) {
    auto reader = vt::json::readObject(value);
    BridgeSampleChop chop;
    chop.id = reader.requireUuid("id");
    chop.index = reader.requireInt("index");
    chop.startTime = reader.requireDouble("startTime");
    chop.endTime = reader.requireDouble("endTime");
    chop.strength = reader.requireDouble("strength");
    return chop;
}

template <typename Value> std::vector<BridgeSampleChop> readChops(const Value& value) {
    std::vector<BridgeSampleChop> chops;
    for (const auto& element : vt::json::requireArray(value))
        chops.push_back(readChop(element));
    return chops;
}

template <typename Value> BridgeSampleAnalysis readAnalysis(const Value& value, DateForm form) {
    auto reader = vt::json::readObject(value);
    BridgeSampleAnalysis analysis;
    analysis.bpm = reader.optionalDouble("bpm");
    analysis.bpmConfidence = reader.requireDouble("bpmConfidence");
    analysis.rootNote = reader.optionalString("rootNote");
    analysis.rootConfidence = reader.requireDouble("rootConfidence");
    analysis.musicalKey = reader.optionalString("musicalKey");
    analysis.keyConfidence = reader.requireDouble("keyConfidence");
    analysis.sourceFingerprint = reader.optionalString("sourceFingerprint");
    if (auto date = reader.find("analyzedAt"))
        analysis.analyzedAt = readDate(*date, form);
    return analysis;
}

} // namespace

SharedPeaks::SharedPeaks(std::vector<float> values)
    : shared(values.empty() ? nullptr : std::make_shared<std::vector<float>>(std::move(values))) {}

const std::vector<float>& SharedPeaks::none() {
    static const std::vector<float> empty;
    return empty;
}

void SharedPeaks::push_back(float value) {
    if (!shared)
        shared = std::make_shared<std::vector<float>>();
    else if (shared.use_count() > 1)
        shared = std::make_shared<std::vector<float>>(*shared);
    shared->push_back(value);
}

namespace {

template <typename Value> SampleItem readSample(const Value& value, DateForm form) {
    auto reader = vt::json::readObject(value);
    SampleItem sample;
    sample.id = reader.requireUuid("id");
    sample.title = reader.requireString("title");
    sample.createdAt = readDate(reader.require("createdAt"), form);
    sample.fileName = reader.requireString("fileName");
    sample.duration = reader.requireDouble("duration");
    sample.sampleRate = reader.requireDouble("sampleRate");
    sample.channelCount = reader.requireInt("channelCount");
    sample.byteCount = reader.requireInt("byteCount");
    sample.peaks = reader.requireFloats("peaks");
    sample.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    // The edit is never read from a sample record: it lives in the local overlay.
    if (auto analysis = reader.find("analysis"))
        sample.analysis = readAnalysis(*analysis, form);
    sample.chopSensitivity = std::clamp(
        reader.optionalDouble("chopSensitivity").value_or(SampleItem::defaultChopSensitivity), 0.0, 1.0);
    if (auto chops = reader.find("chops"))
        sample.chops = readChops(*chops);
    sample.isChopEnabled = reader.optionalBool("isChopEnabled").value_or(!sample.chops.empty());
    return sample;
}

template <typename Value> std::vector<SampleItem> readSampleList(const Value& value, DateForm form) {
    const auto& elements = vt::json::requireArray(value);
    // No room is made up front: the count is the sender's claim until each element is read.
    std::vector<SampleItem> samples;
    for (const auto& element : elements)
        samples.push_back(readSample(element, form));
    return samples;
}

template <typename Value> BridgeSampleMetadata readMetadata(const Value& value, DateForm form) {
    auto reader = vt::json::readObject(value);
    BridgeSampleMetadata metadata;
    metadata.titleOverride = reader.optionalString("titleOverride");
    metadata.isFavorite = reader.optionalBool("isFavorite").value_or(false);
    metadata.favoriteOverride = reader.optionalBool("favoriteOverride");
    metadata.isDeleted = reader.optionalBool("isDeleted").value_or(false);
    if (auto edit = reader.find("edit"))
        metadata.edit = readEdit(*edit);
    if (auto analysis = reader.find("analysis"))
        metadata.analysis = readAnalysis(*analysis, form);
    metadata.chopSensitivity =
        reader.optionalDouble("chopSensitivity").value_or(SampleItem::defaultChopSensitivity);
    metadata.chopSource = reader.optionalString("chopSource");
    if (auto chops = reader.find("chops"))
        metadata.chops = readChops(*chops);
    return metadata;
}

// A record of a stored list that does not decode is named by its title when it has one, else by its
// position.
template <typename Value> std::string recordName(const Value& value, std::size_t position) {
    try {
        if (auto title = vt::json::readObject(value).optionalString("title"))
            return "\"" + *title + "\"";
    } catch (const vt::json::JsonError&) {
    }
    return "record " + std::to_string(position);
}

// The members of the metadata object in key order, the last of a repeated key winning (as the
// strict reader's document holds them), each decoded on its own: nothing for a value that does not
// decode, and for a key that names no sample (it is never read).
using MetadataMembers = std::map<std::string, std::optional<BridgeSampleMetadata>, std::less<>>;

template <typename Value>
void takeMetadataMember(MetadataMembers& members, std::string_view key, const Value& value, DateForm form) {
    std::optional<BridgeSampleMetadata> entry;
    if (vt::Uuid::parse(key)) {
        try {
            entry = readMetadata(value, form);
        } catch (const vt::json::JsonError&) {
        }
    }
    members.insert_or_assign(std::string(key), std::move(entry));
}

// The overlay the members give: empty values are skipped, values that did not decode are named.
// Each member goes as it is taken, so that the entries are never held twice.
BridgeMetadataFile metadataFile(MetadataMembers& members) {
    BridgeMetadataFile file;
    while (!members.empty()) {
        auto member = members.extract(members.begin());
        auto id = vt::Uuid::parse(member.key());
        if (!id)
            continue;
        if (!member.mapped())
            file.unreadableKeys.push_back(std::move(member.key()));
        else if (!member.mapped()->isEmpty())
            file.entries[*id] = std::move(*member.mapped());
    }
    return file;
}

Json writeChops(const std::vector<BridgeSampleChop>& chops) {
    Json array = Json::array();
    for (const auto& chop : chops)
        array.push_back(chop.toJson());
    return array;
}

std::size_t hashDouble(double value) {
    return std::hash<double>{}(value);
}

template <typename T> std::size_t hashOptional(const std::optional<T>& value) {
    return value ? std::hash<T>{}(*value) * 31 + 1 : 0;
}

} // namespace

Json encodeDate(vt::Date date, DateForm form) {
    if (form == DateForm::iso8601)
        return vt::formatISO8601(date);
    return vt::json::number(vt::referenceSeconds(date));
}

vt::Date decodeDate(const Json& value, DateForm form) {
    return readDate(value, form);
}

std::string trimmedText(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t c;
        std::size_t length = decodeAt(text, begin, c);
        if (!isWhiteSpace(c))
            break;
        begin += length;
    }
    std::size_t end = begin;
    for (std::size_t pos = begin; pos < text.size();) {
        char32_t c;
        std::size_t length = decodeAt(text, pos, c);
        pos += length;
        if (!isWhiteSpace(c))
            end = pos;
    }
    return std::string(text.substr(begin, end - begin));
}

bool isBlankText(std::string_view text) {
    return trimmedText(text).empty();
}

// MARK: BridgeSampleEdit

bool BridgeSampleEdit::isNeutral() const {
    return startTime <= negligible && !endTime && fadeIn <= negligible && fadeOut <= negligible &&
           !normalize && !denoise;
}

BridgeSampleEdit BridgeSampleEdit::sanitized(double duration) const {
    double length = std::isnan(duration) ? minimumLength : std::max(duration, minimumLength);
    BridgeSampleEdit result;
    result.startTime =
        (std::isnan(startTime) || startTime < 0) ? 0 : std::min(startTime, length - minimumLength);
    if (endTime) {
        double floor = result.startTime + minimumLength;
        double end = std::isnan(*endTime) ? floor : std::max(*endTime, floor);
        end = std::min(length, end);
        if (end < length - negligible)
            result.endTime = end;
    }
    double kept = result.endTime.value_or(length) - result.startTime;
    double half = kept < 0 ? 0 : kept * 0.5;
    result.fadeIn = sanitizedFade(fadeIn, half);
    result.fadeOut = sanitizedFade(fadeOut, half);
    result.normalize = normalize;
    result.denoise = denoise;
    return result;
}

bool BridgeSampleEdit::isActive(double duration) const {
    return !sanitized(duration).isNeutral();
}

double BridgeSampleEdit::effectiveEnd(double duration) const {
    return std::min(duration, std::max(startTime + minimumLength, endTime.value_or(duration)));
}

double BridgeSampleEdit::editedDuration(double duration) const {
    return std::max(0.0, effectiveEnd(duration) - startTime);
}

BridgeSampleEdit BridgeSampleEdit::fromJson(const Json& value) {
    return readEdit(value);
}

Json BridgeSampleEdit::toJson() const {
    Json object = Json::object();
    if (startTime > negligible)
        object["startTime"] = vt::json::number(startTime);
    if (endTime)
        object["endTime"] = vt::json::number(*endTime);
    if (fadeIn > negligible)
        object["fadeIn"] = vt::json::number(fadeIn);
    if (fadeOut > negligible)
        object["fadeOut"] = vt::json::number(fadeOut);
    if (normalize)
        object["normalize"] = true;
    if (denoise)
        object["denoise"] = true;
    return object;
}

BridgeSampleEdit BridgeSampleEdit::asStored() const {
    try {
        return fromJson(toJson());
    } catch (const vt::json::JsonError&) {
        return *this; // not storable (not a number): no stored edit will equal it
    }
}

// MARK: BridgeSampleChop

double BridgeSampleChop::duration() const {
    return std::max(0.0, endTime - startTime);
}

std::string BridgeSampleChop::displayTitle() const {
    // The largest index cannot take one more; its successor is written out directly.
    if (index == std::numeric_limits<std::int64_t>::max())
        return "Chop 9223372036854775808";
    return "Chop " + vt::formatInteger(index + 1, 2);
}

BridgeSampleEdit BridgeSampleChop::edit(double fade) const {
    double length = endTime - startTime;
    double usableFade = fade >= 0 ? fade : 0;         // negative or NaN → 0
    double quarter = length >= 0 ? 0.25 * length : 0; // negative or NaN → 0
    double fades = std::min(usableFade, quarter);
    BridgeSampleEdit result;
    result.startTime = startTime;
    result.endTime = endTime;
    result.fadeIn = fades;
    result.fadeOut = fades;
    return result;
}

BridgeSampleChop BridgeSampleChop::fromJson(const Json& value) {
    return readChop(value);
}

Json BridgeSampleChop::toJson() const {
    Json object = Json::object();
    object["id"] = id.string();
    object["index"] = index;
    object["startTime"] = vt::json::number(startTime);
    object["endTime"] = vt::json::number(endTime);
    object["strength"] = vt::json::number(strength);
    return object;
}

// MARK: BridgeSampleAnalysis

bool BridgeSampleAnalysis::isEmpty() const {
    return !bpm && !rootNote && !musicalKey && !sourceFingerprint && !analyzedAt;
}

std::optional<std::string> BridgeSampleAnalysis::tempoLabel() const {
    if (!bpm || !(bpmConfidence >= 0.42))
        return std::nullopt;
    // A tempo with no integer form (not finite, or beyond 64 bits) shows no label.
    auto rounded = vt::roundedInteger(*bpm);
    if (!rounded)
        return std::nullopt;
    return vt::formatInteger(*rounded) + " BPM";
}

std::optional<std::string> BridgeSampleAnalysis::rootLabel() const {
    if (!rootNote || !(rootConfidence >= 0.43))
        return std::nullopt;
    return "Root " + *rootNote;
}

std::optional<std::string> BridgeSampleAnalysis::keyLabel() const {
    if (!musicalKey || !(keyConfidence >= 0.5))
        return std::nullopt;
    return "Key " + *musicalKey;
}

bool BridgeSampleAnalysis::hasVisibleResult() const {
    return tempoLabel() || rootLabel() || keyLabel();
}

BridgeSampleAnalysis BridgeSampleAnalysis::fromJson(const Json& value, DateForm form) {
    return readAnalysis(value, form);
}

Json BridgeSampleAnalysis::toJson(DateForm form) const {
    Json object = Json::object();
    if (bpm)
        object["bpm"] = vt::json::number(*bpm);
    object["bpmConfidence"] = vt::json::number(bpmConfidence);
    if (rootNote)
        object["rootNote"] = *rootNote;
    object["rootConfidence"] = vt::json::number(rootConfidence);
    if (musicalKey)
        object["musicalKey"] = *musicalKey;
    object["keyConfidence"] = vt::json::number(keyConfidence);
    if (sourceFingerprint)
        object["sourceFingerprint"] = *sourceFingerprint;
    if (analyzedAt)
        object["analyzedAt"] = encodeDate(*analyzedAt, form);
    return object;
}

// MARK: SampleItem

SampleItem SampleItem::fromJson(const Json& value, DateForm form) {
    return readSample(value, form);
}

std::vector<SampleItem> SampleItem::listFromJson(const Json& value, DateForm form) {
    return readSampleList(value, form);
}

std::vector<SampleItem> SampleItem::listFromFastJson(const vt::json::FastValue& value, DateForm form) {
    return readSampleList(value, form);
}

std::vector<SampleItem> SampleItem::listFromJsonText(std::string_view text, DateForm form) {
    SampleItemListReader reader(form, SampleItemListReader::Records::strict);
    reader.feed(text);
    return reader.finish().samples;
}

SampleItemList SampleItem::readableListFromJsonText(std::string_view text, DateForm form) {
    SampleItemListReader reader(form, SampleItemListReader::Records::tolerant);
    reader.feed(text);
    return reader.finish();
}

// MARK: Reading as the text arrives

struct SampleItemListReader::State {
    vt::json::JsonArrayReader reader;
    DateForm form;
    Records records;
    SampleItemList list;
    std::size_t position = 0;
};

SampleItemListReader::SampleItemListReader(DateForm form, Records records)
    : state(std::make_unique<State>(State{{}, form, records, {}, 0})) {}

SampleItemListReader::~SampleItemListReader() = default;

void SampleItemListReader::feed(std::string_view text) {
    State& s = *state;
    s.reader.feed(text, [&s](const auto& element) {
        ++s.position;
        if (s.records == Records::strict) {
            s.list.samples.push_back(readSample(element, s.form));
            return;
        }
        try {
            s.list.samples.push_back(readSample(element, s.form));
        } catch (const vt::json::JsonError&) {
            s.list.unreadable.push_back(recordName(element, s.position));
        }
    });
}

SampleItemList SampleItemListReader::finish() {
    state->reader.finish();
    return std::move(state->list);
}

struct BridgeMetadataReader::State {
    vt::json::JsonObjectReader reader;
    DateForm form;
    MetadataMembers members;
};

BridgeMetadataReader::BridgeMetadataReader(DateForm form)
    : state(std::make_unique<State>(State{{}, form, {}})) {}

BridgeMetadataReader::~BridgeMetadataReader() = default;

void BridgeMetadataReader::feed(std::string_view text) {
    State& s = *state;
    s.reader.feed(text, [&s](std::string_view key, const auto& value) {
        takeMetadataMember(s.members, key, value, s.form);
    });
}

BridgeMetadataFile BridgeMetadataReader::finish() {
    state->reader.finish();
    return metadataFile(state->members);
}

Json SampleItem::toJson(DateForm form) const {
    Json object = Json::object();
    object["id"] = id.string();
    object["title"] = title;
    object["createdAt"] = encodeDate(createdAt, form);
    object["fileName"] = fileName;
    object["duration"] = vt::json::number(duration);
    object["sampleRate"] = vt::json::number(sampleRate);
    object["channelCount"] = channelCount;
    object["byteCount"] = byteCount;
    object["peaks"] = vt::json::floats(peaks.values());
    object["isFavorite"] = isFavorite;
    return object;
}

// MARK: BridgeSampleMetadata

bool BridgeSampleMetadata::isEmpty() const {
    return (!titleOverride || isBlankText(*titleOverride)) && !isFavorite && !favoriteOverride &&
           !isDeleted && edit.isNeutral() && analysis.isEmpty() && !chopSource && chops.empty();
}

bool BridgeSampleMetadata::effectiveFavorite(bool sourceFavorite) const {
    return favoriteOverride.value_or(sourceFavorite || isFavorite);
}

BridgeSampleMetadata BridgeSampleMetadata::fromJson(const Json& value, DateForm form) {
    return readMetadata(value, form);
}

BridgeMetadataFile BridgeSampleMetadata::fileFromJson(const Json& value, DateForm form) {
    if (!value.is_object())
        throw vt::json::JsonError("Expected an object");
    MetadataMembers members;
    for (const auto& [key, entry] : value.items())
        takeMetadataMember(members, key, entry, form);
    return metadataFile(members);
}

BridgeMetadataFile BridgeSampleMetadata::fileFromFastJson(const vt::json::FastValue& value, DateForm form) {
    MetadataMembers members;
    for (auto field : vt::json::requireObject(value))
        takeMetadataMember(members, field.key, field.value, form);
    return metadataFile(members);
}

BridgeMetadataFile BridgeSampleMetadata::fileFromJsonText(std::string_view text, DateForm form) {
    BridgeMetadataReader reader(form);
    reader.feed(text);
    return reader.finish();
}

Json BridgeSampleMetadata::toJson(DateForm form) const {
    Json object = Json::object();
    if (titleOverride)
        object["titleOverride"] = *titleOverride;
    if (isFavorite)
        object["isFavorite"] = true;
    if (favoriteOverride)
        object["favoriteOverride"] = *favoriteOverride;
    if (isDeleted)
        object["isDeleted"] = true;
    if (!edit.isNeutral())
        object["edit"] = edit.toJson();
    if (!analysis.isEmpty())
        object["analysis"] = analysis.toJson(form);
    if (chopSource)
        object["chopSource"] = *chopSource;
    if (!chops.empty()) {
        object["chopSensitivity"] = vt::json::number(chopSensitivity);
        object["chops"] = writeChops(chops);
    }
    return object;
}

// MARK: Hashing

std::size_t std::hash<BridgeSampleEdit>::operator()(const BridgeSampleEdit& edit) const noexcept {
    std::size_t seed = hashDouble(edit.startTime);
    hashCombine(seed, hashOptional(edit.endTime));
    hashCombine(seed, hashDouble(edit.fadeIn));
    hashCombine(seed, hashDouble(edit.fadeOut));
    hashCombine(seed, (edit.normalize ? 1u : 0u) | (edit.denoise ? 2u : 0u));
    return seed;
}

std::size_t std::hash<BridgeSampleChop>::operator()(const BridgeSampleChop& chop) const noexcept {
    std::size_t seed = std::hash<vt::Uuid>{}(chop.id);
    hashCombine(seed, std::hash<std::int64_t>{}(chop.index));
    hashCombine(seed, hashDouble(chop.startTime));
    hashCombine(seed, hashDouble(chop.endTime));
    hashCombine(seed, hashDouble(chop.strength));
    return seed;
}

std::size_t std::hash<BridgeSampleAnalysis>::operator()(const BridgeSampleAnalysis& analysis) const noexcept {
    std::size_t seed = hashOptional(analysis.bpm);
    hashCombine(seed, hashDouble(analysis.bpmConfidence));
    hashCombine(seed, hashOptional(analysis.rootNote));
    hashCombine(seed, hashDouble(analysis.rootConfidence));
    hashCombine(seed, hashOptional(analysis.musicalKey));
    hashCombine(seed, hashDouble(analysis.keyConfidence));
    hashCombine(seed, hashOptional(analysis.sourceFingerprint));
    hashCombine(seed, analysis.analyzedAt ? hashDouble(analysis.analyzedAt->secondsSince1970) : 0);
    return seed;
}

std::size_t std::hash<SampleItem>::operator()(const SampleItem& sample) const noexcept {
    std::size_t seed = std::hash<vt::Uuid>{}(sample.id);
    hashCombine(seed, std::hash<std::string>{}(sample.title));
    hashCombine(seed, hashDouble(sample.createdAt.secondsSince1970));
    hashCombine(seed, std::hash<std::string>{}(sample.fileName));
    hashCombine(seed, hashDouble(sample.duration));
    hashCombine(seed, hashDouble(sample.sampleRate));
    hashCombine(seed, std::hash<std::int64_t>{}(sample.channelCount));
    hashCombine(seed, std::hash<std::int64_t>{}(sample.byteCount));
    for (float peak : sample.peaks)
        hashCombine(seed, std::hash<float>{}(peak));
    hashCombine(seed, sample.isFavorite ? 1 : 0);
    hashCombine(seed, std::hash<BridgeSampleEdit>{}(sample.edit));
    hashCombine(seed, std::hash<BridgeSampleAnalysis>{}(sample.analysis));
    hashCombine(seed, hashDouble(sample.chopSensitivity));
    hashCombine(seed, sample.isChopEnabled ? 1 : 0);
    for (const auto& chop : sample.chops)
        hashCombine(seed, std::hash<BridgeSampleChop>{}(chop));
    return seed;
}

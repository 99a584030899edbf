#pragma once
// The desktop program's records of one sample: the sample as the phone lists it, its
// non-destructive edit, its chops, its analysis and the local overlay, with their JSON forms
// and the small derived operations every other part uses to interpret them.

#include "Platform/Core/Dates.h"
#include "Platform/Core/Json.h"
#include "Platform/Core/Uuid.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace simdjson::dom {
class element;
}
namespace vt::json {
using FastValue = simdjson::dom::element;
}

struct SampleItemList;
struct BridgeMetadataFile;

// How a JSON document writes dates: ISO 8601 text ("library.json", the phone's list) or
// seconds since 2001-01-01 00:00:00 UTC as a number ("bridge-metadata.json").
enum class DateForm { iso8601, referenceSeconds };

vt::json::Json encodeDate(vt::Date date, DateForm form);
vt::Date decodeDate(const vt::json::Json& value, DateForm form); // throws vt::json::JsonError

// True when the text holds nothing but white space and line breaks (Unicode included).
bool isBlankText(std::string_view text);
// The text without leading and trailing white space and line breaks.
std::string trimmedText(std::string_view text);

// A non-destructive edit of a sample: trim range, fades in seconds and two switches.
struct BridgeSampleEdit {
    double startTime = 0;
    std::optional<double> endTime;
    double fadeIn = 0;
    double fadeOut = 0;
    bool normalize = false;
    bool denoise = false;

    static BridgeSampleEdit neutral() { return {}; }

    bool isNeutral() const;
    // The edit clamped to a source of the given length; sanitising twice changes nothing.
    BridgeSampleEdit sanitized(double duration) const;
    bool isActive(double duration) const;
    // Computed on the edit as stored: min(d, max(start + 0.05, end or d)).
    double effectiveEnd(double duration) const;
    double editedDuration(double duration) const;

    // Every key optional; values taken as stored.
    static BridgeSampleEdit fromJson(const vt::json::Json& value);
    // Sparse: only keys that carry information; the neutral edit is {}.
    vt::json::Json toJson() const;
    // The edit as its JSON form gives it back: a start or fade of 0.001 s or less reads as 0.
    // What is rendered and kept in memory goes through this, so it is what a restart reads.
    BridgeSampleEdit asStored() const;

    bool operator==(const BridgeSampleEdit&) const = default;
};

// One slice of a sample, in seconds within the source.
struct BridgeSampleChop {
    vt::Uuid id;
    std::int64_t index = 0;
    double startTime = 0;
    double endTime = 0;
    double strength = 0;

    static constexpr double defaultFade = 0.004;

    double duration() const;
    // "Chop 01" for index 0.
    std::string displayTitle() const;
    // The edit that cuts this chop out of its sample, with short fades that fit the chop.
    BridgeSampleEdit edit(double fade = defaultFade) const;

    static BridgeSampleChop fromJson(const vt::json::Json& value);
    vt::json::Json toJson() const;

    bool operator==(const BridgeSampleChop&) const = default;
};

// Tempo, root note and key estimates, each with a confidence, and what they were made from.
struct BridgeSampleAnalysis {
    std::optional<double> bpm;
    double bpmConfidence = 0;
    std::optional<std::string> rootNote;
    double rootConfidence = 0;
    std::optional<std::string> musicalKey;
    double keyConfidence = 0;
    std::optional<std::string> sourceFingerprint;
    std::optional<vt::Date> analyzedAt;

    static BridgeSampleAnalysis empty() { return {}; }

    bool isEmpty() const;
    // "121 BPM" when confident enough; absent otherwise.
    std::optional<std::string> tempoLabel() const;
    std::optional<std::string> rootLabel() const;
    std::optional<std::string> keyLabel() const;
    bool hasVisibleResult() const;

    static BridgeSampleAnalysis fromJson(const vt::json::Json& value, DateForm form);
    vt::json::Json toJson(DateForm form) const;

    bool operator==(const BridgeSampleAnalysis&) const = default;
};

// A sample's waveform peaks. The copies of one record (the library list, the display list, the
// writer's snapshot) share one immutable list of values; a change makes its own copy first.
class SharedPeaks {
public:
    SharedPeaks() = default;
    SharedPeaks(std::vector<float> values); // NOLINT: a list of values is peaks
    SharedPeaks(std::initializer_list<float> values) : SharedPeaks(std::vector<float>(values)) {}

    const std::vector<float>& values() const { return shared ? *shared : none(); }
    operator const std::vector<float>&() const { return values(); } // NOLINT: read as a list
    std::size_t size() const { return values().size(); }
    bool empty() const { return values().empty(); }
    std::vector<float>::const_iterator begin() const { return values().begin(); }
    std::vector<float>::const_iterator end() const { return values().end(); }
    float operator[](std::size_t index) const { return values()[index]; }
    void push_back(float value);

    bool operator==(const SharedPeaks& other) const {
        return shared == other.shared || values() == other.values();
    }
    bool operator==(const std::vector<float>& other) const { return values() == other; }

private:
    static const std::vector<float>& none();
    std::shared_ptr<std::vector<float>> shared; // never changed while another record holds it
};

// One sample of the phone's library; fields 11 to 15 come from the local overlay.
struct SampleItem {
    vt::Uuid id;
    std::string title;
    vt::Date createdAt;
    std::string fileName;
    double duration = 0;
    double sampleRate = 0;
    std::int64_t channelCount = 0;
    std::int64_t byteCount = 0;
    SharedPeaks peaks;
    bool isFavorite = false;
    BridgeSampleEdit edit;
    BridgeSampleAnalysis analysis;
    double chopSensitivity = defaultChopSensitivity;
    bool isChopEnabled = false;
    std::vector<BridgeSampleChop> chops;

    static constexpr double defaultChopSensitivity = 0.65;

    // The row's info line: duration, sample rate in kHz and byte count.
    std::string subtitle() const;

    // Requires the nine core keys; never reads an edit; clamps the chop sensitivity into 0...1.
    static SampleItem fromJson(const vt::json::Json& value, DateForm form);
    // A JSON array of sample records, in order; throws vt::json::JsonError for the first wrong one.
    static std::vector<SampleItem> listFromJson(const vt::json::Json& value, DateForm form);
    // The same, from the fast reader's document.
    static std::vector<SampleItem> listFromFastJson(const vt::json::FastValue& value, DateForm form);
    // The same, from the whole text, read record by record (for large lists).
    static std::vector<SampleItem> listFromJsonText(std::string_view text, DateForm form);
    // A stored list, record by record: a record that does not decode is left out and named.
    static SampleItemList readableListFromJsonText(std::string_view text, DateForm form);
    // Exactly the ten manifest keys.
    vt::json::Json toJson(DateForm form) const;

    bool operator==(const SampleItem&) const = default;
};

// The desktop program's own overrides for one sample ("bridge-metadata.json").
struct BridgeSampleMetadata {
    std::optional<std::string> titleOverride;
    bool isFavorite = false;
    std::optional<bool> favoriteOverride;
    bool isDeleted = false;
    BridgeSampleEdit edit;
    BridgeSampleAnalysis analysis;
    double chopSensitivity = SampleItem::defaultChopSensitivity;
    std::optional<std::string> chopSource;
    std::vector<BridgeSampleChop> chops;

    static constexpr std::string_view chopSourceBridge = "bridge";
    static constexpr std::string_view chopSourcePhone = "phone";

    // Nothing worth storing (the chop sensitivity is not looked at).
    bool isEmpty() const;
    bool effectiveFavorite(bool sourceFavorite) const;

    // Every key optional; the chop sensitivity is taken as stored.
    static BridgeSampleMetadata fromJson(const vt::json::Json& value, DateForm form);
    // Sparse: only keys that carry information.
    vt::json::Json toJson(DateForm form) const;

    // The metadata file's object, entry by entry: an entry that does not decode is left out and
    // named; keys that are not UUID text and empty values are dropped. The document itself must be
    // an object. From either reader's document, or from the whole text, read entry by entry.
    static BridgeMetadataFile fileFromJson(const vt::json::Json& value, DateForm form);
    static BridgeMetadataFile fileFromFastJson(const vt::json::FastValue& value, DateForm form);
    static BridgeMetadataFile fileFromJsonText(std::string_view text, DateForm form);

    bool operator==(const BridgeSampleMetadata&) const = default;
};

// The local overlay of the whole library, keyed by sample id.
using BridgeMetadataMap = std::unordered_map<vt::Uuid, BridgeSampleMetadata>;

// A stored sample list as read record by record: the records that decoded, in order, and a name
// for each one that did not (its title in quotes when it has one, else its position).
struct SampleItemList {
    std::vector<SampleItem> samples;
    std::vector<std::string> unreadable;
    bool operator==(const SampleItemList&) const = default;
};

// The metadata file as read entry by entry: the entries that decoded, and the keys of those that
// did not, in key order.
struct BridgeMetadataFile {
    BridgeMetadataMap entries;
    std::vector<std::string> unreadableKeys;
    bool operator==(const BridgeMetadataFile&) const = default;
};

// Reads a sample list as its text arrives, record by record: memory stays near the records read.
// Strict, the first record that does not decode fails the list (the phone's list); tolerant, such
// a record is left out and named (a stored list).
class SampleItemListReader {
public:
    enum class Records { strict, tolerant };
    SampleItemListReader(DateForm form, Records records);
    ~SampleItemListReader();
    SampleItemListReader(const SampleItemListReader&) = delete;
    SampleItemListReader& operator=(const SampleItemListReader&) = delete;

    // Throws vt::json::JsonError when the text is no list (strict: also for a record).
    void feed(std::string_view text);
    // The records of the whole list; throws vt::json::JsonError when the list is not whole.
    SampleItemList finish();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Reads the metadata file as its text arrives, entry by entry (see BridgeSampleMetadata::fileFromJson).
class BridgeMetadataReader {
public:
    explicit BridgeMetadataReader(DateForm form);
    ~BridgeMetadataReader();
    BridgeMetadataReader(const BridgeMetadataReader&) = delete;
    BridgeMetadataReader& operator=(const BridgeMetadataReader&) = delete;

    // Throws vt::json::JsonError when the text is no object.
    void feed(std::string_view text);
    // Throws vt::json::JsonError when the object is not whole.
    BridgeMetadataFile finish();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Combines hash values (used by the std::hash specialisations of the records).
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <> struct std::hash<BridgeSampleEdit> {
    std::size_t operator()(const BridgeSampleEdit& edit) const noexcept;
};
template <> struct std::hash<BridgeSampleChop> {
    std::size_t operator()(const BridgeSampleChop& chop) const noexcept;
};
template <> struct std::hash<BridgeSampleAnalysis> {
    std::size_t operator()(const BridgeSampleAnalysis& analysis) const noexcept;
};
template <> struct std::hash<SampleItem> { std::size_t operator()(const SampleItem& sample) const noexcept; };

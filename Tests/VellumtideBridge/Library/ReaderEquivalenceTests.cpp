// The fast reader (simdjson) and the strict reader (nlohmann) give the same records or the same
// refusal for every document: valid ones, and ones with wrong types, nulls, numbers out of range,
// bad UUIDs, bad dates and repeated keys. The load path (fast reader, strict reader as fallback)
// agrees with the strict reader too.

#include "Platform/Core/FastJson.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

// The records a reader gave, or nothing when it refused the document.
template <typename Records, typename Decode> std::optional<Records> outcome(Decode decode) {
    try {
        return decode();
    } catch (const vt::json::JsonError&) {
        return std::nullopt;
    }
}

template <typename Records, typename Strict, typename Fast, typename Text>
void expectSameOutcome(const std::string& text, Strict strict, Fast fast, Text load) {
    SCOPED_TRACE(text);
    auto byStrict = outcome<Records>([&] { return strict(vt::json::parse(text)); });
    auto byLoad = outcome<Records>([&] { return load(text); });
    EXPECT_EQ(byLoad, byStrict);
    std::optional<vt::json::FastDocument> document;
    try {
        document.emplace(text);
    } catch (const vt::json::JsonError&) {
        // Only texts the strict reader has the last word on (numbers beyond 64 bits) may stop here.
        EXPECT_TRUE(!byStrict || std::regex_search(text, std::regex("[0-9]{20}"))) << "fast reader refused";
        return;
    }
    EXPECT_EQ(outcome<Records>([&] { return fast(document->root()); }), byStrict);
}

void expectSameSamples(const std::string& text) {
    expectSameOutcome<std::vector<SampleItem>>(
        text, [](const vt::json::Json& root) { return SampleItem::listFromJson(root, DateForm::iso8601); },
        [](const vt::json::FastValue& root) { return SampleItem::listFromFastJson(root, DateForm::iso8601); },
        [](const std::string& whole) { return SampleItem::listFromJsonText(whole, DateForm::iso8601); });
}

void expectSameMetadata(const std::string& text) {
    auto strict = [](const vt::json::Json& root) {
        return BridgeSampleMetadata::fileFromJson(root, DateForm::referenceSeconds);
    };
    auto fast = [](const vt::json::FastValue& root) {
        return BridgeSampleMetadata::fileFromFastJson(root, DateForm::referenceSeconds);
    };
    auto load = [](const std::string& whole) {
        return BridgeSampleMetadata::fileFromJsonText(whole, DateForm::referenceSeconds);
    };
    expectSameOutcome<BridgeMetadataFile>(text, strict, fast, load);
}

const std::string sampleFields = R"("id": "6F1B5E2C-8A3D-4B7E-9C21-0D4E5F6A7B8C", "title": "Kick",
    "createdAt": "2024-03-05T07:08:09Z", "fileName": "kick.wav", "duration": 1.5, "sampleRate": 48000,
    "channelCount": 2, "byteCount": 1234, "peaks": [0.1, 0.5, 1])";

// One sample record: the valid fields with extra (or repeated) keys after them.
std::string sampleWith(const std::string& extra) {
    return "[{" + sampleFields + (extra.empty() ? "" : ", " + extra) + "}]";
}

const std::string analysis =
    R"({"bpm": 120.5, "bpmConfidence": 0.9, "rootNote": "C", "rootConfidence": 0.5, "musicalKey": "C major",
        "keyConfidence": 0.6, "sourceFingerprint": "kick.wav|1234", "analyzedAt": "2024-03-05T07:08:09+01:00"})";
const std::string chop =
    R"({"id": "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d", "index": 0, "startTime": 0, "endTime": 0.5, "strength": 1})";

TEST(ReaderEquivalence, SampleListsDecodeAlikeOrFailAlike) {
    const std::vector<std::string> extras = {
        // Valid.
        "",
        R"("isFavorite": true, "chopSensitivity": 1.7, "analysis": )" + analysis,
        R"("chops": [)" + chop + R"(], "isChopEnabled": false)",
        R"("isFavorite": null, "analysis": null, "chops": null, "edit": {"startTime": "ignored"})",
        R"("title": "caf\u00e9 \ud83c\udfb5 \"quoted\"", "sampleRate": 44100.5, "channelCount": 2.0)",
        R"("id": "6f1b5e2c-8a3d-4b7e-9c21-0d4e5f6a7b8c", "createdAt": "2024-03-05T07:08:09-0230")",
        R"("byteCount": 9223372036854775807, "duration": 18446744073709551615)",
        R"("byteCount": -9223372036854775808, "duration": 1e300, "peaks": [1e-46, -0.0, 3.4028234e38])",
        R"("duration": 123456789012345678901234)",
        R"("title": 5, "title": "the last one counts")",
        // Wrong types and nulls.
        R"("title": 5)",
        R"("title": null)",
        R"("peaks": "loud")",
        R"("peaks": [0.1, "x"])",
        R"("isFavorite": "yes")",
        R"("isFavorite": 1)",
        R"("duration": "1.5")",
        R"("chopSensitivity": true)",
        R"("analysis": {"bpm": 120})",
        R"("analysis": [])",
        R"("chops": [{"id": "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d", "index": 0, "startTime": 0, "endTime": 1}])",
        R"("chops": {})",
        R"("title": "the last one counts", "title": 5)",
        // Integers out of range or not integral; floats beyond 32 bits.
        R"("channelCount": 2.5)",
        R"("byteCount": 9223372036854775808)",
        R"("byteCount": 18446744073709551615)",
        R"("byteCount": 1e19)",
        R"("peaks": [1e39])",
        // UUIDs and dates.
        R"("id": "6F1B5E2C8A3D4B7E9C210D4E5F6A7B8C")",
        R"("id": "6F1B5E2C-8A3D-4B7E-9C21-0D4E5F6A7B8G")",
        R"("id": "{6F1B5E2C-8A3D-4B7E-9C21-0D4E5F6A7B8C}")",
        R"("createdAt": "2024-03-05 07:08:09Z")",
        R"("createdAt": "2024-03-05T07:08:09.5Z")",
        R"("createdAt": "2024-13-05T07:08:09Z")",
        R"("createdAt": 730000000)",
    };
    for (const auto& extra : extras)
        expectSameSamples(sampleWith(extra));

    // Missing keys, the wrong shape of document, and text that is not JSON.
    expectSameSamples(R"([{"id": "6F1B5E2C-8A3D-4B7E-9C21-0D4E5F6A7B8C"}])");
    for (const std::string text : {"[]", "{}", "null", "[1]", "[{}]", "", "[", "[] []", "[\"\xff\"]", "[1,]",
                                   "[{\"a\": 1,}]", "[NaN]", "[01]", "[{\"peaks\": [1 2]}]"})
        expectSameSamples(text);
}

TEST(ReaderEquivalence, MetadataFilesDecodeAlikeOrFailAlike) {
    const std::string first = "\"6F1B5E2C-8A3D-4B7E-9C21-0D4E5F6A7B8C\"";
    const std::string second = "\"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d\"";
    const std::string full = R"({"titleOverride": "  Kick ", "isFavorite": true, "favoriteOverride": false,
        "isDeleted": false, "edit": {"startTime": 0.25, "endTime": 1, "fadeIn": 0.01, "fadeOut": 0.02,
        "normalize": true, "denoise": false}, "analysis": {"bpm": 90, "bpmConfidence": 1, "rootConfidence": 0,
        "keyConfidence": 0, "analyzedAt": 730000000.5}, "chopSensitivity": -0.2, "chopSource": "bridge",
        "chops": [)" + chop + "]}";
    const std::vector<std::string> documents = {
        // Valid: full entries, keys in either case, entries dropped for their key or emptiness.
        "{" + first + ": " + full + ", " + second + R"(: {"isDeleted": true}})",
        "{" + first + R"(: {}, "not a uuid": {"isDeleted": true}, )" + second +
            R"(: {"titleOverride": null}})",
        "{" + first + R"(: {"edit": {}, "analysis": null, "chops": []}})",
        "{}",
        // A repeated key: the last value counts, also when it is empty or invalid.
        "{" + first + R"(: {"isDeleted": true}, )" + first + ": {}}",
        "{" + first + R"(: {"isDeleted": "bad"}, )" + first + R"(: {"isDeleted": true}})",
        "{" + first + R"(: {"isDeleted": true}, )" + first + R"(: {"isDeleted": "bad"}})",
        // A wrong type anywhere in an entry leaves that entry out (and names it); the others stay.
        "{" + first + R"(: {"isDeleted": "yes"}, )" + second + R"(: {"isDeleted": true}})",
        "{" + first + R"(: {"isDeleted": "yes"}})",
        R"({"not a uuid": {"edit": 5}})",
        "{" + first + R"(: {"edit": {"startTime": "0"}}})",
        "{" + first +
            R"(: {"analysis": {"bpm": 90, "bpmConfidence": 1, "rootConfidence": 0, "keyConfidence": 0,
            "analyzedAt": "2024-03-05T07:08:09Z"}}})",
        "{" + first +
            R"(: {"chops": [{"id": "nope", "index": 0, "startTime": 0, "endTime": 1, "strength": 1}]}})",
        "{" + first + R"(: {"chops": [{"id": )" + second +
            R"(, "index": 9223372036854775808, "startTime": 0, "endTime": 1, "strength": 1}]}})",
        "{" + first + R"(: {"favoriteOverride": 0}})",
        "{" + first + ": 5}",
        "[]",
        "null",
        "{" + first + ": {}",
    };
    for (const auto& document : documents)
        expectSameMetadata(document);
}

TEST(ReaderEquivalence, WrittenFilesReadBackAlike) {
    std::vector<SampleItem> samples;
    BridgeMetadataMap metadata;
    for (int i = 0; i < 200; ++i) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Take \"" + std::to_string(i) + "\" \xc3\xa9";
        sample.createdAt = vt::Date{1.7e9 + i * 61};
        sample.fileName = "take-" + std::to_string(i) + ".m4a";
        sample.duration = 0.1 * i + 1.0 / 3.0;
        sample.sampleRate = i % 2 ? 44100 : 48000;
        sample.channelCount = 1 + i % 2;
        sample.byteCount = 1000 + i * 997;
        for (int p = 0; p < 32; ++p)
            sample.peaks.push_back(static_cast<float>(p * i % 101) / 101.0f);
        sample.isFavorite = i % 3 == 0;
        samples.push_back(sample);
        BridgeSampleMetadata entry;
        entry.titleOverride = i % 4 ? std::nullopt : std::optional<std::string>("Renamed");
        entry.analysis.bpm = 60 + i / 7.0;
        entry.analysis.bpmConfidence = 0.123456789;
        entry.analysis.analyzedAt = vt::Date{1.71e9 + i / 3.0};
        entry.edit.fadeOut = i % 5 ? 0 : 0.2;
        if (i % 9 == 0) {
            entry.chopSource = "phone";
            entry.chopSensitivity = 0.3;
            entry.chops = {{vt::Uuid::random(), 0, 0, 0.5, 0.7}, {vt::Uuid::random(), 1, 0.5, 1, 0.2}};
        }
        metadata[sample.id] = entry;
    }
    vt::json::Json list = vt::json::Json::array();
    for (const auto& sample : samples)
        list.push_back(sample.toJson(DateForm::iso8601));
    vt::json::Json overlay = vt::json::Json::object();
    for (const auto& [id, entry] : metadata)
        overlay[id.string()] = entry.toJson(DateForm::referenceSeconds);

    const std::string listText = vt::json::dump(list, 2), overlayText = vt::json::dump(overlay, 2);
    EXPECT_EQ(SampleItem::listFromJsonText(listText, DateForm::iso8601), samples);
    EXPECT_EQ(BridgeSampleMetadata::fileFromJsonText(overlayText, DateForm::referenceSeconds).entries,
              metadata);
    expectSameSamples(listText);
    expectSameMetadata(overlayText);
}

} // namespace

#include "Tests/Support/Memory/AllocationProbe.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using vt::json::Json;
using vt::json::JsonError;

namespace {

const char* const coreKeys = R"({"id":"0a1b2c3d-0000-4000-8000-00000000abcd","title":"Kick",
    "createdAt":"2024-03-05T07:08:09Z","fileName":"kick.m4a","duration":1.5,"sampleRate":44100,
    "channelCount":2,"byteCount":1234,"peaks":[0.5,0.25]})";

Json coreSample() {
    return vt::json::parse(coreKeys);
}

BridgeSampleChop chop(double start, double end, std::int64_t index = 0) {
    return {vt::Uuid::random(), index, start, end, 0.8};
}

} // namespace

TEST(SampleItemJson, DefaultsAndClampsOptionalKeys) {
    SampleItem sample = SampleItem::fromJson(coreSample(), DateForm::iso8601);
    EXPECT_EQ(sample.id.string(), "0A1B2C3D-0000-4000-8000-00000000ABCD");
    EXPECT_EQ(sample.createdAt.secondsSince1970, 1709622489);
    EXPECT_FALSE(sample.isFavorite);
    EXPECT_TRUE(sample.edit.isNeutral());
    EXPECT_TRUE(sample.analysis.isEmpty());
    EXPECT_EQ(sample.chopSensitivity, 0.65);
    EXPECT_TRUE(sample.chops.empty());
    EXPECT_FALSE(sample.isChopEnabled);

    Json withChop = coreSample();
    withChop["chops"] = Json::array({chop(0, 0.5).toJson()});
    EXPECT_TRUE(SampleItem::fromJson(withChop, DateForm::iso8601).isChopEnabled);
    withChop["isChopEnabled"] = false;
    EXPECT_FALSE(SampleItem::fromJson(withChop, DateForm::iso8601).isChopEnabled);

    Json sensitive = coreSample();
    sensitive["chopSensitivity"] = 1.7;
    EXPECT_EQ(SampleItem::fromJson(sensitive, DateForm::iso8601).chopSensitivity, 1.0);
    sensitive["chopSensitivity"] = -0.2;
    EXPECT_EQ(SampleItem::fromJson(sensitive, DateForm::iso8601).chopSensitivity, 0.0);

    // The metadata reader takes the sensitivity as stored.
    Json metadata = {{"chopSensitivity", 1.7}};
    EXPECT_EQ(BridgeSampleMetadata::fromJson(metadata, DateForm::referenceSeconds).chopSensitivity, 1.7);
    metadata["chopSensitivity"] = -0.2;
    EXPECT_EQ(BridgeSampleMetadata::fromJson(metadata, DateForm::referenceSeconds).chopSensitivity, -0.2);
}

TEST(SampleItemJson, WritesExactlyTheTenManifestKeysAndIgnoresEdits) {
    Json object = coreSample();
    object["edit"] = {{"startTime", 0.5}, {"normalize", true}};
    object["isChopEnabled"] = true;
    object["chops"] = Json::array({chop(0, 0.5).toJson()});
    SampleItem sample = SampleItem::fromJson(object, DateForm::iso8601);
    EXPECT_TRUE(sample.edit.isNeutral());

    Json written = sample.toJson(DateForm::iso8601);
    std::vector<std::string> keys;
    for (const auto& [key, value] : written.items())
        keys.push_back(key);
    EXPECT_EQ(keys,
              (std::vector<std::string>{"byteCount", "channelCount", "createdAt", "duration", "fileName",
                                        "id", "isFavorite", "peaks", "sampleRate", "title"}));
    EXPECT_EQ(written["isFavorite"], false);
    EXPECT_EQ(written["createdAt"], "2024-03-05T07:08:09Z");
    EXPECT_EQ(vt::json::dump(written["peaks"]), "[0.5,0.25]");

    SampleItem reread = SampleItem::fromJson(written, DateForm::iso8601);
    sample.chops.clear();
    sample.isChopEnabled = false;
    EXPECT_EQ(reread, sample);
    EXPECT_EQ(std::hash<SampleItem>{}(reread), std::hash<SampleItem>{}(sample));

    // A peak of 0.1f keeps its short float text instead of the widened double's digits.
    sample.peaks = {0.1f};
    EXPECT_EQ(vt::json::dump(sample.toJson(DateForm::iso8601)["peaks"]), "[0.1]");
}

TEST(SampleItemJson, StrictReadingFailsTheRecord) {
    for (const char* key : {"id", "title", "createdAt", "fileName", "duration", "sampleRate", "channelCount",
                            "byteCount", "peaks"}) {
        Json missing = coreSample();
        missing.erase(key);
        EXPECT_THROW(SampleItem::fromJson(missing, DateForm::iso8601), JsonError) << key;
    }
    auto fails = [](const char* key, Json value) {
        Json object = coreSample();
        object[key] = std::move(value);
        EXPECT_THROW(SampleItem::fromJson(object, DateForm::iso8601), JsonError) << key;
    };
    fails("id", "not-a-uuid");
    fails("byteCount", 12.5);
    fails("channelCount", "2");
    fails("createdAt", 12345);
    fails("isFavorite", "yes");
    fails("analysis", Json::object()); // the confidences are required
    fails("chops", Json::array({Json{{"id", "0A1B2C3D-0000-4000-8000-00000000ABCD"}}}));

    Json nulls = coreSample();
    nulls["isFavorite"] = nullptr;
    nulls["chops"] = nullptr;
    EXPECT_NO_THROW(SampleItem::fromJson(nulls, DateForm::iso8601));

    SampleItem sample = SampleItem::fromJson(coreSample(), DateForm::iso8601);
    sample.duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(sample.toJson(DateForm::iso8601), JsonError);
}

// A list of a million bad elements is refused at the first one, without first making room for
// a million samples.
TEST(SampleItemJson, AListIsNotSizedByItsClaimedLength) {
    std::string text = "[0";
    for (int i = 1; i < 1'000'000; ++i)
        text += ",0";
    text += "]";
    const auto document = vt::json::parse(text);
    vt::test::AllocationProbe probe;
    EXPECT_THROW(SampleItem::listFromJson(document, DateForm::iso8601), vt::json::JsonError);
    EXPECT_LT(probe.largest(), 64u << 10);
}

TEST(EditJson, WritesSparselyAndReadsEveryKeyAsOptional) {
    EXPECT_EQ(BridgeSampleEdit{}.toJson(), Json::object());
    BridgeSampleEdit tiny{0.0005, std::nullopt, 0, 0.25, false, false};
    EXPECT_EQ(tiny.toJson(), (Json{{"fadeOut", 0.25}}));
    BridgeSampleEdit normalizeOnly{0, std::nullopt, 0, 0, true, false};
    EXPECT_EQ(normalizeOnly.toJson(), (Json{{"normalize", true}}));

    BridgeSampleEdit full{1.5, 3.0, 0.1, 0.2, true, true};
    EXPECT_EQ(BridgeSampleEdit::fromJson(full.toJson()), full);
    EXPECT_EQ(BridgeSampleEdit::fromJson(Json::object()), BridgeSampleEdit{});
    BridgeSampleEdit negative{-2, std::nullopt, -1, 0.001, false, false};
    EXPECT_EQ(BridgeSampleEdit::fromJson(negative.toJson()), BridgeSampleEdit{});
    EXPECT_THROW(BridgeSampleEdit::fromJson(Json{{"denoise", 1}}), JsonError);
}

TEST(MetadataJson, WritesOnlyWhatCarriesInformation) {
    BridgeSampleMetadata sensitivityOnly;
    sensitivityOnly.chopSensitivity = 0.3;
    EXPECT_EQ(sensitivityOnly.toJson(DateForm::referenceSeconds), Json::object());
    EXPECT_EQ(BridgeSampleMetadata::fromJson(Json::object(), DateForm::referenceSeconds).chopSensitivity,
              0.65);

    BridgeSampleMetadata chopped = sensitivityOnly;
    chopped.chops = {chop(0.25, 0.5)};
    Json written = chopped.toJson(DateForm::referenceSeconds);
    EXPECT_EQ(written["chopSensitivity"], 0.3);
    EXPECT_EQ(written["chops"].size(), 1u);

    BridgeSampleMetadata blank;
    blank.titleOverride = "   ";
    EXPECT_TRUE(blank.isEmpty());
    EXPECT_EQ(blank.toJson(DateForm::referenceSeconds), (Json{{"titleOverride", "   "}}));
    blank.titleOverride = "\u00a0\n\u3000";
    EXPECT_TRUE(blank.isEmpty());
    blank.favoriteOverride = false;
    EXPECT_FALSE(blank.isEmpty());
    EXPECT_EQ(blank.toJson(DateForm::referenceSeconds)["favoriteOverride"], false);

    BridgeSampleMetadata full;
    full.titleOverride = "Snare";
    full.isFavorite = true;
    full.isDeleted = true;
    full.edit = {0.5, 1.0, 0, 0, false, true};
    full.analysis = {120.0, 0.9, "C", 0.5, "C major", 0.7, "fp", vt::dateFromReferenceSeconds(7.5)};
    full.chopSource = "bridge";
    full.chops = {chop(0, 0.5, 0), chop(0.5, 1, 1)};
    Json encoded = full.toJson(DateForm::referenceSeconds);
    EXPECT_EQ(encoded["analysis"]["analyzedAt"], 7.5);
    EXPECT_EQ(BridgeSampleMetadata::fromJson(encoded, DateForm::referenceSeconds), full);
    // ISO 8601 text keeps whole seconds only.
    BridgeSampleMetadata wholeSeconds = full;
    wholeSeconds.analysis.analyzedAt = vt::dateFromReferenceSeconds(7);
    EXPECT_EQ(BridgeSampleMetadata::fromJson(full.toJson(DateForm::iso8601), DateForm::iso8601),
              wholeSeconds);
}

TEST(EditRules, SanitizingClampsToTheSource) {
    auto sanitized = [](BridgeSampleEdit edit, double duration) { return edit.sanitized(duration); };
    EXPECT_DOUBLE_EQ(sanitized({12, std::nullopt}, 10).startTime, 9.95);
    EXPECT_EQ(sanitized({-1, std::nullopt}, 10).startTime, 0);
    EXPECT_EQ(sanitized({0, 9.9995}, 10).endTime, std::nullopt);
    EXPECT_DOUBLE_EQ(*sanitized({1.98, 2.0}, 10).endTime, 2.03);
    BridgeSampleEdit fades = sanitized({0, 4.0, 3, 3}, 10);
    EXPECT_EQ(fades.fadeIn, 2);
    EXPECT_EQ(fades.fadeOut, 2);
    BridgeSampleEdit tiny = sanitized({0.03, 0.04}, 0.01);
    EXPECT_EQ(tiny.startTime, 0);
    EXPECT_EQ(tiny.endTime, std::nullopt);

    double nan = std::numeric_limits<double>::quiet_NaN();
    BridgeSampleEdit garbage = sanitized({nan, nan, nan, -1, true, false}, nan);
    EXPECT_EQ(garbage, (BridgeSampleEdit{0, std::nullopt, 0, 0, true, false}));

    BridgeSampleEdit messy{3.3, 5.0, 7, 0.4, false, true};
    EXPECT_EQ(sanitized(sanitized(messy, 6), 6), sanitized(messy, 6));

    EXPECT_FALSE(BridgeSampleEdit{}.isActive(10));
    EXPECT_FALSE((BridgeSampleEdit{0, 10.0}).isActive(10)); // the end is dropped at the source's end
    EXPECT_TRUE((BridgeSampleEdit{0, 9.0}).isActive(10));
    EXPECT_DOUBLE_EQ((BridgeSampleEdit{5, 3.0}).effectiveEnd(10), 5.05);
    EXPECT_EQ((BridgeSampleEdit{12, std::nullopt}).editedDuration(10), 0);
    EXPECT_DOUBLE_EQ((BridgeSampleEdit{2, 4.0}).editedDuration(10), 2);
}

TEST(ChopRules, TitlesAndEdits) {
    EXPECT_EQ(chop(0, 1, 0).displayTitle(), "Chop 01");
    EXPECT_EQ(chop(0, 1, 9).displayTitle(), "Chop 10");
    EXPECT_EQ(chop(0, 1, 99).displayTitle(), "Chop 100");
    EXPECT_EQ(chop(0, 1, std::numeric_limits<std::int64_t>::max()).displayTitle(),
              "Chop 9223372036854775808");

    BridgeSampleEdit shortEdit = chop(1, 1.01).edit();
    EXPECT_NEAR(shortEdit.fadeIn, 0.0025, 1e-12);
    EXPECT_EQ(shortEdit.fadeIn, shortEdit.fadeOut);
    BridgeSampleEdit longEdit = chop(1, 2).edit();
    EXPECT_EQ(longEdit, (BridgeSampleEdit{1, 2.0, 0.004, 0.004, false, false}));
    EXPECT_EQ(chop(1, 2).edit(-1).fadeIn, 0);
    EXPECT_EQ(chop(1, 2).edit(std::nan("")).fadeIn, 0);
    EXPECT_EQ(chop(2, 1).edit().fadeOut, 0);
    EXPECT_EQ(chop(2, 1).duration(), 0);
}

TEST(AnalysisRules, LabelsNeedTheirConfidence) {
    BridgeSampleAnalysis analysis{119.5, 0.42, "F#", 0.43, "F# minor", 0.5, std::nullopt, std::nullopt};
    EXPECT_EQ(analysis.tempoLabel(), "120 BPM");
    EXPECT_EQ(analysis.rootLabel(), "Root F#");
    EXPECT_EQ(analysis.keyLabel(), "Key F# minor");
    analysis.bpm = 120.5;
    EXPECT_EQ(analysis.tempoLabel(), "121 BPM");
    analysis.bpmConfidence = 0.41;
    analysis.rootConfidence = 0.4299;
    analysis.keyConfidence = 0.4999;
    EXPECT_EQ(analysis.tempoLabel(), std::nullopt);
    EXPECT_EQ(analysis.rootLabel(), std::nullopt);
    EXPECT_EQ(analysis.keyLabel(), std::nullopt);
    EXPECT_FALSE(analysis.hasVisibleResult());
    EXPECT_FALSE(analysis.isEmpty());

    BridgeSampleAnalysis huge{1e300, 1, std::nullopt, 0, std::nullopt, 0, std::nullopt, std::nullopt};
    EXPECT_EQ(huge.tempoLabel(), std::nullopt);
    BridgeSampleAnalysis confidentButEmpty{std::nullopt, 1, std::nullopt, 1,
                                           std::nullopt, 1, std::nullopt, std::nullopt};
    EXPECT_TRUE(confidentButEmpty.isEmpty());
}

TEST(MetadataRules, EffectiveFavorite) {
    BridgeSampleMetadata metadata;
    metadata.favoriteOverride = false;
    EXPECT_FALSE(metadata.effectiveFavorite(true));
    metadata.favoriteOverride = std::nullopt;
    EXPECT_TRUE(metadata.effectiveFavorite(true));
    EXPECT_FALSE(metadata.effectiveFavorite(false));
    metadata.isFavorite = true;
    EXPECT_TRUE(metadata.effectiveFavorite(false));
}

TEST(PhoneRecords, DevicesFromBrowseResults) {
    auto service = VellumtideEndpoint::service("Pocket", "_vellumtide._tcp", "local.");
    auto withTxt = VellumtideDevice::make(
        {service, std::map<std::string, std::string>{{"deviceID", "ABC"}, {"device", "Studio Phone"}}});
    ASSERT_TRUE(withTxt);
    EXPECT_EQ(withTxt->id, "phone|ABC");
    EXPECT_EQ(withTxt->name, "Studio Phone");
    EXPECT_EQ(withTxt->pairingID, "ABC");

    auto bare = VellumtideDevice::make({service, std::nullopt});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->id, "Pocket|_vellumtide._tcp|local.|local");
    EXPECT_EQ(bare->name, "Pocket");
    EXPECT_EQ(bare->detail, "local. via local");
    EXPECT_EQ(bare->pairingID, std::nullopt);

    auto onInterface = VellumtideDevice::make(
        {VellumtideEndpoint::service("Pocket", "_vellumtide._tcp", "local.", "eth0"), {}});
    EXPECT_EQ(onInterface->detail, "local. via eth0");
    EXPECT_EQ(VellumtideDevice::make({VellumtideEndpoint::hostPort("10.0.0.2", 51234), {}}), std::nullopt);

    VellumtideDevice other = *bare;
    other.detail = "elsewhere";
    EXPECT_EQ(other.id, bare->id);
    EXPECT_NE(other, *bare);
    EXPECT_EQ(VellumtideEndpoint::hostPort("::1", 80).description(), "[::1]:80");
}

TEST(PhoneRecords, RepliesDecodeStrictly) {
    auto health = VellumtidePhoneHealth::fromJson(vt::json::parse(R"({"status":"ok","extra":1})"));
    EXPECT_EQ(health.status, "ok");
    EXPECT_FALSE(health.deviceID || health.deviceName || health.pairing);
    EXPECT_EQ(VellumtidePhoneHealth::fromJson(vt::json::parse(R"({"status":"ok","deviceID":null})")).deviceID,
              std::nullopt);
    EXPECT_THROW(VellumtidePhoneHealth::fromJson(vt::json::parse(R"({"deviceID":"A"})")), JsonError);
    EXPECT_THROW(VellumtidePhoneHealth::fromJson(vt::json::parse(R"({"status":"ok","pairing":3})")),
                 JsonError);

    auto pairing = VellumtidePhonePairingResponse::fromJson(
        vt::json::parse(R"({"deviceID":"A","deviceName":"Phone","token":"t0k"})"));
    EXPECT_EQ(pairing.token, "t0k");
    EXPECT_THROW(
        VellumtidePhonePairingResponse::fromJson(vt::json::parse(R"({"deviceID":"A","deviceName":"P"})")),
        JsonError);
}

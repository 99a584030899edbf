// The desktop program's own library writer fills a library folder and its mirror; the plug-in's
// reader must read back what it wrote.

#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"
#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <gtest/gtest.h>

namespace {

using Path = std::filesystem::path;

SampleItem makeSample(const char* id, std::string title, std::string fileName, double createdAt) {
    SampleItem sample;
    sample.id = *vt::Uuid::parse(id);
    sample.title = std::move(title);
    sample.createdAt = vt::Date{createdAt};
    sample.fileName = std::move(fileName);
    sample.duration = 10;
    sample.sampleRate = 48000;
    sample.channelCount = 1;
    sample.byteCount = 4;
    sample.peaks = {0.125f, 0.5f, 1.0f};
    return sample;
}

class CrossRead : public testing::Test {
protected:
    CrossRead() {
        paths.home = temp / "home" / "ann";
        paths.music = paths.home / "Music";
    }

    LibraryEnvironment environment() const {
        LibraryEnvironment environment;
        environment.homesFolder = temp / "home";
        environment.home = paths.home;
        environment.accountHome = paths.home;
        environment.musicFolder = paths.music;
        environment.userName = "ann";
        return environment;
    }

    VellumtidePluginLibrary openLibrary() const { return VellumtidePluginLibrary(environment()); }

    vt::test::TemporaryFolder temp;
    vt::Paths paths = vt::Paths::underRoot(temp.path());
};

TEST(CrossReadConstants, BothProgramsNameTheSameMirrorFolder) {
    EXPECT_EQ(VellumtidePluginLibrary::mirrorRelativePath, BridgeSampleCache::mirrorRelativePath);
    EXPECT_EQ(VellumtidePluginLibrary::manifestFileName, BridgeSampleCache::manifestFileName);
    EXPECT_EQ(VellumtidePluginLibrary::metadataFileName, BridgeSampleCache::metadataFileName);
}

TEST_F(CrossRead, TheReaderSeesWhatTheDesktopProgramMirrored) {
    BridgeSampleCache cache(paths, paths.music / "Vellumtide");
    SampleItem plain = makeSample("11111111-1111-1111-1111-111111111111", "Kick", "kick.m4a", 1.7e9);
    SampleItem edited = makeSample("22222222-2222-2222-2222-222222222222", "Snare", "snare.wav", 1.7e9 + 60);
    SampleItem deleted = makeSample("33333333-3333-3333-3333-333333333333", "Hat", "hat.wav", 1.7e9 + 120);
    SampleItem unsynced =
        makeSample("44444444-4444-4444-4444-444444444444", "Later", "later.wav", 1.7e9 - 60);
    plain.isFavorite = true;
    for (const auto* sample : {&plain, &edited, &deleted})
        cache.saveSampleData("RIFF", *sample);

    BridgeMetadataMap metadata;
    auto& kick = metadata[plain.id];
    kick.titleOverride = "  Big Kick ";
    kick.favoriteOverride = false;
    kick.analysis.bpm = 119.5;
    kick.analysis.bpmConfidence = 0.9;
    kick.analysis.rootNote = "C";
    kick.analysis.rootConfidence = 0.2;
    kick.analysis.musicalKey = "A minor";
    kick.analysis.keyConfidence = 0.8;
    kick.analysis.sourceFingerprint = "print";
    kick.analysis.analyzedAt = vt::Date{1.7e9};
    kick.chopSource = std::string(BridgeSampleMetadata::chopSourceBridge);
    kick.chops = {
        BridgeSampleChop{*vt::Uuid::parse("AAAAAAAA-0000-0000-0000-000000000001"), 0, 0.5, 1.25, 0.8},
        BridgeSampleChop{*vt::Uuid::parse("AAAAAAAA-0000-0000-0000-000000000002"), 1, 1.25, 3, 0.4}};
    auto& snare = metadata[edited.id];
    snare.edit = BridgeSampleEdit{2, 5, 0.25, 0, true, false};
    snare.isFavorite = true;
    metadata[deleted.id].isDeleted = true;

    vt::writeFileAtomically(cache.editedSampleURL(edited), "RIFF");
    vt::writeFileAtomically(cache.chopSampleURL(plain, kick.chops[0]), "RIFF");
    const std::vector<SampleItem> samples{plain, edited, deleted, unsynced};
    cache.mirrorLibrary(samples, metadata);

    auto library = openLibrary();
    const Path mirror = paths.home / VellumtidePluginLibrary::mirrorRelativePath;
    EXPECT_EQ(library.rootURL(), mirror);
    EXPECT_EQ(library.status(), "3 samples, 1 missing file");
    ASSERT_EQ(library.samples().size(), 3u);

    const auto& snareRead = library.samples()[0];
    EXPECT_EQ(snareRead.id, edited.id);
    EXPECT_EQ(snareRead.title, "Snare");
    EXPECT_TRUE(snareRead.isFavorite);
    EXPECT_TRUE(snareRead.isEdited);
    EXPECT_EQ(snareRead.audioURL, mirror / "Edited" / (edited.id.string() + ".wav"));
    EXPECT_DOUBLE_EQ(snareRead.duration, snare.edit.editedDuration(edited.duration));
    const BridgeSampleEdit kept = snare.edit.sanitized(edited.duration);
    EXPECT_EQ(snareRead.edit, (VellumtidePluginEdit{kept.startTime, kept.endTime, kept.fadeIn, kept.fadeOut,
                                                    kept.normalize, kept.denoise}));

    const auto& kickRead = library.samples()[1];
    EXPECT_EQ(kickRead.title, "Big Kick");
    EXPECT_FALSE(kickRead.isFavorite);
    EXPECT_FALSE(kickRead.isEdited);
    EXPECT_TRUE(kickRead.isAvailable);
    EXPECT_EQ(kickRead.audioURL, mirror / "Samples" / "kick.m4a");
    EXPECT_EQ(kickRead.subtitle(), plain.subtitle());
    EXPECT_EQ(kickRead.tempoLabel, kick.analysis.tempoLabel());
    EXPECT_EQ(kickRead.rootLabel, kick.analysis.rootLabel());
    EXPECT_EQ(kickRead.keyLabel, kick.analysis.keyLabel());
    ASSERT_EQ(kickRead.chops.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(kickRead.chops[i].id, kick.chops[i].id);
        EXPECT_EQ(kickRead.chops[i].title, kick.chops[i].displayTitle());
        EXPECT_DOUBLE_EQ(kickRead.chops[i].duration, kick.chops[i].duration());
        EXPECT_EQ(kickRead.chops[i].audioURL,
                  mirror / "Chops" / cache.chopSampleURL(plain, kick.chops[i]).filename());
    }
    EXPECT_TRUE(kickRead.chops[0].isAvailable);
    EXPECT_FALSE(kickRead.chops[1].isAvailable);

    EXPECT_EQ(library.samples()[2].title, "Later");
    EXPECT_FALSE(library.samples()[2].isAvailable);
}

// Creation dates at and beyond the ends of the four-digit years: what the desktop program writes,
// both programs read back, and a phone's date that cannot be written back is refused on reading.
TEST_F(CrossRead, DatesAtTheEdgesOfTheYearRangeReadBackInBothPrograms) {
    BridgeSampleCache cache(paths, paths.music / "Vellumtide");
    const double first = vt::earliestISO8601Date().secondsSince1970;
    const double last = vt::latestISO8601Date().secondsSince1970;
    const std::vector<double> instants{first, last + 0.999, first - 86400 * 400.0, last + 1e12};
    std::vector<SampleItem> samples;
    for (std::size_t i = 0; i < instants.size(); ++i) {
        std::string id = "55555555-5555-5555-5555-55555555555" + std::to_string(i);
        samples.push_back(makeSample(id.c_str(), "Edge " + std::to_string(i), "edge.wav", instants[i]));
    }
    cache.mirrorLibrary(samples, {});

    const auto readBack = cache.loadManifest();
    ASSERT_EQ(readBack.size(), samples.size());
    EXPECT_EQ(readBack[0].createdAt, vt::earliestISO8601Date());
    EXPECT_EQ(readBack[1].createdAt, vt::latestISO8601Date());
    EXPECT_EQ(openLibrary().samples().size(), samples.size());

    const std::string beforeYearOne = R"([{"id":"66666666-6666-6666-6666-666666666666","title":"Old",
        "createdAt":"0000-01-01T00:00:00+01:00","fileName":"old.wav","duration":1,"sampleRate":44100,
        "channelCount":1,"byteCount":4,"peaks":[]}])";
    EXPECT_THROW(SampleItem::listFromJson(vt::json::parse(beforeYearOne), DateForm::iso8601),
                 vt::json::JsonError);
    vt::writeFileAtomically(paths.home / VellumtidePluginLibrary::mirrorRelativePath / "library.json",
                            beforeYearOne);
    EXPECT_EQ(openLibrary().status(), "Bridge library could not be read");
}

} // namespace

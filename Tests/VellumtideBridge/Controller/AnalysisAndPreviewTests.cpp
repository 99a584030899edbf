// Analysis scheduling and the preview player.

#include "Platform/Core/AtomicFile.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

#include <QLocale>
#include <QProcess>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

// A comma for the decimal point in printf and strtod (a locale compiled into the temporary
// folder, since none may be installed), in C++ streams and in Qt's default locale.
class CommaDecimalLocale {
public:
    explicit CommaDecimalLocale(const std::filesystem::path& folder) {
        std::filesystem::path definition = folder / "comma.def";
        writeFile(definition, "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_NUMERIC\n"
                              "decimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3;3\n"
                              "END LC_NUMERIC\n");
        QProcess::execute("localedef",
                          {"-c", "-i", QString::fromStdString(definition.string()), "-f", "ANSI_X3.4-1968",
                           QString::fromStdString((folder / "vt_COMMA").string())});
        setenv("LOCPATH", folder.c_str(), 1);
        std::setlocale(LC_NUMERIC, "vt_COMMA");
        std::locale::global(std::locale(std::locale::classic(), new Comma));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~CommaDecimalLocale() {
        std::setlocale(LC_NUMERIC, "C");
        std::locale::global(std::locale::classic());
        QLocale::setDefault(QLocale::c());
        unsetenv("LOCPATH");
    }
    // Whether printf itself now writes a comma.
    static bool printfUsesComma() {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 0.5);
        return std::string(text) == "0,5";
    }

private:
    struct Comma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
};

TEST_F(ControllerTest, FingerprintsUnderACommaDecimalLocale) {
    auto take = makeSample("take", 100, "take.m4a");
    take.byteCount = 880;
    take.duration = 0.5;
    seedLibrary({take});
    const std::string neutralPrint = "take.m4a|880|0.500|0.000|full|0.000|0.000|raw|no-denoise";
    CommaDecimalLocale comma(folder.path());
    if (!CommaDecimalLocale::printfUsesComma())
        GTEST_LOG_(INFO) << "localedef unavailable: only C++ streams and Qt use a comma here";

    EXPECT_EQ(BridgeViewModel::analysisFingerprint(take, {}), neutralPrint);
    BridgeSampleEdit edit;
    edit.startTime = 0.1;
    edit.endTime = 0.4;
    edit.fadeIn = 0.0125;
    edit.normalize = true;
    edit.denoise = true;
    EXPECT_EQ(BridgeViewModel::analysisFingerprint(take, edit),
              "take.m4a|880|0.500|0.100|0.400|0.013|0.000|norm|denoise");

    // The stored print matches the next run's, also after a restart: no endless re-analysis.
    auto& m = start();
    ASSERT_TRUE(
        turnLoopUntil([&] { return audio.analyses == 1 && m.analyzingSampleIDs().empty(); }, patience));
    EXPECT_EQ(probe(m).sampleMetadata[take.id].analysis.sourceFingerprint, neutralPrint);
    model.reset();
    start();
    settle();
    drainPostedEvents();
    awaitVoid(model->analyzeSamplesIfNeeded(probe(*model).librarySamples, {}, false));
    EXPECT_EQ(audio.analyses, 1);
    EXPECT_EQ(probe(*model).sampleMetadata[take.id].analysis.sourceFingerprint, neutralPrint);
}

TEST_F(ControllerTest, StartupAnalysisIsQuietAndSkipsUnchangedFingerprints) {
    auto a = makeSample("a", 100), missing = makeSample("missing", 50);
    seedLibrary({a});
    BridgeSampleCache(paths, libraryRoot()).saveManifest({a, missing});
    audio.result.bpm = 120;
    auto& m = start();
    record();
    ASSERT_TRUE(
        turnLoopUntil([&] { return audio.analyses == 1 && m.analyzingSampleIDs().empty(); }, patience));
    settle();
    EXPECT_EQ(m.statusMessage(), "Searching for Vellumtide");
    EXPECT_EQ(probe(m).sampleMetadata[a.id].analysis.bpm, 120);
    EXPECT_EQ(probe(m).sampleMetadata[a.id].analysis.sourceFingerprint,
              BridgeViewModel::analysisFingerprint(a, {}));
    EXPECT_FALSE(probe(m).sampleMetadata.count(missing.id));
    EXPECT_EQ(std::count(changes.begin(), changes.end(), BridgeViewModel::Field::analyzingSampleIDs), 2);

    awaitVoid(m.analyzeSamplesIfNeeded(probe(m).librarySamples, {}, false));
    EXPECT_EQ(audio.analyses, 1);
    awaitVoid(m.analyzeSamplesIfNeeded(probe(m).librarySamples, {a.id}, false));
    EXPECT_EQ(audio.analyses, 2);
    EXPECT_EQ(m.statusMessage(), "Analysis updated");

    audio.failAnalysis = true;
    awaitVoid(m.analyzeSamplesIfNeeded(probe(m).librarySamples, {a.id}, false));
    EXPECT_EQ(m.statusMessage(), "Analyzing a");
    EXPECT_FALSE(probe(m).sampleMetadata[a.id].analysis.bpm);
    EXPECT_TRUE(probe(m).sampleMetadata[a.id].analysis.sourceFingerprint);
    EXPECT_TRUE(probe(m).sampleMetadata[a.id].analysis.analyzedAt);
}

// Results that arrive together share one metadata save and one display-list rebuild; a result
// whose save still waits when the program quits is written by the quit.
TEST_F(ControllerTest, AnalysisResultsShareOneSaveAndAQuitWritesThem) {
    auto a = makeSample("a", 100), b = makeSample("b", 90), c = makeSample("c", 80);
    seedLibrary({a, b, c});
    audio.result.bpm = 120;
    auto& m = start();
    record();
    ASSERT_TRUE(
        turnLoopUntil([&] { return audio.analyses == 3 && m.analyzingSampleIDs().empty(); }, patience));
    settle();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), BridgeViewModel::Field::samples), 1);
    auto onDisk = BridgeSampleCache(paths, libraryRoot()).loadLocalMetadata();
    for (const auto& sample : {a, b, c})
        EXPECT_EQ(onDisk[sample.id].analysis.bpm, 120) << sample.title;

    // The run holds at b's analysis: a's new result is in memory, its save waits for the window.
    Completion<bool> first, second;
    audio.analysisGate = first;
    audio.result.bpm = 77;
    auto run = m.analyzeSamplesIfNeeded({a, b}, {a.id, b.id}, true);
    audio.analysisGate = second;
    first.resolve(true);
    ASSERT_TRUE(turnLoopUntil([&] { return m.analyzingSampleIDs().count(b.id) > 0; }, patience));
    EXPECT_EQ(probe(m).sampleMetadata[a.id].analysis.bpm, 77);
    model.reset();
    second.resolve(true);
    awaitVoid(std::move(run));
    onDisk = BridgeSampleCache(paths, libraryRoot()).loadLocalMetadata();
    EXPECT_EQ(onDisk[a.id].analysis.bpm, 77);
    EXPECT_EQ(onDisk[b.id].analysis.bpm, 120);
}

TEST_F(ControllerTest, RenameOrDeleteDuringARunningAnalysis) {
    auto a = makeSample("a", 100), b = makeSample("b", 90);
    seedLibrary({a, b});
    audio.analysisGate = Completion<bool>();
    audio.result.bpm = 99;
    auto& m = start();
    ASSERT_TRUE(turnLoopUntil([&] { return m.analyzingSampleIDs().count(a.id) > 0; }, patience));
    m.renameSample(m.samples()[0], "Renamed");
    audio.analysisGate->resolve(true);
    ASSERT_TRUE(
        turnLoopUntil([&] { return audio.analyses == 2 && m.analyzingSampleIDs().empty(); }, patience));
    EXPECT_EQ(probe(m).sampleMetadata[a.id].titleOverride, "Renamed");
    EXPECT_EQ(probe(m).sampleMetadata[a.id].analysis.bpm, 99);

    audio.analysisGate = Completion<bool>();
    auto run = m.analyzeSamplesIfNeeded({b}, {b.id}, false);
    ASSERT_TRUE(m.analyzingSampleIDs().count(b.id));
    m.deleteSample(m.displaySamples({b})[0]);
    audio.analysisGate->resolve(true);
    awaitVoid(std::move(run));
    EXPECT_TRUE(probe(m).sampleMetadata[b.id].isDeleted);
    EXPECT_TRUE(probe(m).sampleMetadata[b.id].analysis.isEmpty());
    EXPECT_TRUE(m.analyzingSampleIDs().empty());
}

TEST_F(ControllerTest, PreviewPlaysKeepsPlayingOnTheFirstTickAndStopsAtTheEnd) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    makePlayable(take, 1.0);
    auto& m = start();
    m.setPreviewLevel(-0.3);
    m.togglePreview(m.samples()[0]);
    EXPECT_EQ(m.playingSampleID(), take.id);
    EXPECT_EQ(m.statusMessage(), "Previewing take");
    EXPECT_FLOAT_EQ(players->last().volume, 0.0f);
    EXPECT_EQ(players->last().loops, 0);
    EXPECT_DOUBLE_EQ(m.previewDuration(), 1.0);

    scheduler->advanceBy(40ms);
    settle();
    EXPECT_EQ(m.playingSampleID(), take.id) << "the first tick right after play() keeps playing";
    scheduler->advanceBy(480ms);
    settle();
    EXPECT_NEAR(m.previewProgress(), 0.52, 1e-9);
    m.setIsPreviewLooping(true);
    EXPECT_EQ(players->last().loops, -1);
    m.setIsPreviewLooping(false);
    EXPECT_EQ(players->last().loops, 0);

    // The natural end: the player stops playing and reports its finish.
    scheduler->advanceBy(500ms);
    settle();
    EXPECT_FALSE(m.playingSampleID());
    EXPECT_EQ(m.statusMessage(), "Watch waiting for iPhone");
    EXPECT_FALSE(probe(m).previewTimer);

    // Looping, the preview plays on past the end until it is stopped.
    m.setIsPreviewLooping(true);
    m.togglePreview(m.samples()[0]);
    scheduler->advanceBy(2500ms);
    settle();
    EXPECT_EQ(m.playingSampleID(), take.id);
    EXPECT_NEAR(m.previewCurrentTime(), 0.5, 0.041);
    m.togglePreview(m.samples()[0]);
    EXPECT_FALSE(m.playingSampleID());
    EXPECT_FALSE(players->last().playing);
}

TEST_F(ControllerTest, PreviewFailuresLeaveThePlayerIdle) {
    auto take = makeSample("take", 100), absent = makeSample("absent", 90);
    seedLibrary({take});
    BridgeSampleCache(paths, libraryRoot()).saveManifest({take, absent});
    auto& m = start();
    m.togglePreview(m.displaySamples({absent})[0]);
    EXPECT_EQ(m.statusMessage(), "Preview unavailable");
    EXPECT_EQ(m.errorMessage(),
              "The audio file is not in the cache yet. Sync the iPhone again, then preview it.");
    auto chop = makeChop(0, 0, 0.5);
    m.toggleChopPreview(m.samples()[0], chop);
    EXPECT_EQ(m.statusMessage(), "Chop preview unavailable");

    // The seeded file is four bytes of no audio: it fails to open.
    m.togglePreview(m.samples()[0]);
    EXPECT_EQ(m.statusMessage(), "Preview failed");
    EXPECT_FALSE(m.errorMessage().value_or("").empty());
    makePlayable(take);
    players->setServerReachable(false);
    m.togglePreview(m.samples()[0]);
    EXPECT_EQ(m.errorMessage(), "The sample could not be played.");
    EXPECT_FALSE(probe(m).previewPlayer);
    EXPECT_FALSE(m.playingSampleID());

    // The sound server dropping the stream ends the preview with its error.
    players->setServerReachable(true);
    m.setErrorMessage(std::nullopt);
    m.togglePreview(m.samples()[0]);
    players->failPlayingStreams();
    settle();
    EXPECT_FALSE(m.playingSampleID());
    EXPECT_FALSE(probe(m).previewPlayer);
    EXPECT_EQ(m.errorMessage(), "The sound output failed: Entity killed");

    // A stop during a user sync leaves the sync's text alone.
    m.togglePreview(m.samples()[0]);
    m.setIsSyncing(true);
    m.setStatusMessage("Syncing");
    m.togglePreview(m.samples()[0]);
    EXPECT_EQ(m.statusMessage(), "Syncing");
}

TEST_F(ControllerTest, FavouriteFilterStopsAHiddenSamplePreviewButNotAChop) {
    auto take = makeSample("take", 100);
    auto chop = makeChop(0, 0, 0.5);
    seedLibrary({take});
    makePlayable(take);
    writeSound(libraryRoot() / "Chops" / (take.id.string() + "-chop-" + chop.id.string() + ".wav"), 0.5);
    auto& m = start();
    m.togglePreview(m.samples()[0]);
    ASSERT_EQ(m.playingSampleID(), take.id);
    m.setStatusMessage("kept");
    m.toggleFavoriteFilter();
    EXPECT_FALSE(m.playingSampleID());
    EXPECT_EQ(m.statusMessage(), "kept");
    m.toggleChopPreview(m.samples()[0], chop);
    m.toggleFavoriteFilter();
    m.toggleFavoriteFilter();
    EXPECT_EQ(m.playingChopID(), chop.id);
    EXPECT_EQ(m.statusMessage(), "Previewing Chop 01");
}

} // namespace
} // namespace vt::test

// Library folder choice, automatic chopping and edit application.

#include "Platform/Core/AtomicFile.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;

std::filesystem::path chopFile(const std::filesystem::path& root, const SampleItem& sample,
                               const BridgeSampleChop& chop) {
    return root / "Chops" / (sample.id.string() + "-chop-" + chop.id.string() + ".wav");
}

TEST_F(ControllerTest, FolderChoiceCopyExistingUseEmptyAndCancel) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    auto copied = folder / "copied", empty = folder / "empty";

    chooser->answer = folder / "elsewhere" / ".." / "copied";
    auto choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    EXPECT_EQ(chooser->lastChoice.title, "Choose Vellumtide Sample Folder");
    EXPECT_EQ(alerts->requests.back().messageText, "Use this sample folder?");
    EXPECT_EQ(alerts->requests.back().buttons.size(), 3u);
    EXPECT_TRUE(alerts->requests.back().informativeText.startsWith("Current:\n~/Music/Vellumtide\n\n"));
    alerts->answer(0);
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.statusMessage(), "Sample folder changed and copied");
    EXPECT_EQ(m.cacheURL(), copied);
    EXPECT_EQ(m.samples().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(copied / "Samples" / take.fileName));
    EXPECT_EQ(settings->value("VellumtideBridge.sampleFolderPath")->toString().toStdString(),
              copied.string());
    EXPECT_EQ(m.watchMessage(), "Background sync on");

    chooser->answer = empty;
    choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    alerts->answer(2);
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.statusMessage(), "Sample folder unchanged");
    EXPECT_EQ(m.cacheURL(), copied);

    choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    alerts->answer(1);
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.statusMessage(), "Sample folder changed");
    EXPECT_TRUE(m.samples().empty());

    EXPECT_EQ(m.cacheURL(), empty);
    chooser->answer = empty / ".";
    awaitVoid(m.chooseSampleFolder());
    EXPECT_EQ(m.statusMessage(), "Sample folder unchanged");

    auto resetting = m.resetSampleFolderToDefault();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    alerts->answer(1);
    awaitVoid(std::move(resetting));
    EXPECT_TRUE(m.isUsingDefaultSampleFolder());
    EXPECT_FALSE(settings->value("VellumtideBridge.sampleFolderPath"));
}

TEST_F(ControllerTest, FolderSwitchIsRefusedWhileBusyAlsoWhenBusyStartsDuringTheQuestion) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    m.setIsSyncing(true);
    awaitVoid(m.resetSampleFolderToDefault()); // unchanged wins over busy
    chooser->answer = folder / "other";
    awaitVoid(m.chooseSampleFolder());
    EXPECT_EQ(m.statusMessage(), "Sync in progress");
    EXPECT_EQ(m.errorMessage(), "Wait for the current sync to finish, then change the sample folder.");
    m.setIsSyncing(false);

    auto choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    m.modifyChoppingSampleIDs([&](auto& ids) { ids.insert(take.id); });
    alerts->answer(0);
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.statusMessage(), "Library is busy");
    EXPECT_EQ(m.errorMessage(),
              "Wait until the current edit or chop render finishes, then change the sample folder.");
    EXPECT_TRUE(m.isUsingDefaultSampleFolder());
}

TEST_F(ControllerTest, AutoChopStoresBridgeChopsAndKeepsChangesMadeMeanwhile) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    auto old = makeChop(0, 0, 1);
    writeFile(chopFile(libraryRoot(), take, old), "old");
    audio.chopsToFind = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1.2)};
    audio.renderGate = Completion<bool>();

    auto run = m.autoChop(m.samples()[0], 1.7);
    EXPECT_EQ(m.statusMessage(), "Finding transients in take");
    auto second = m.autoChop(m.samples()[0], 0.2);
    ASSERT_TRUE(turnLoopUntil([&] { return audio.renders == 1; }, patience));
    m.deleteSample(m.samples()[0]);
    EXPECT_EQ(m.statusMessage(), "Sample is busy");
    m.renameSample(m.samples()[0], "Loop");
    audio.renderGate->resolve(true);
    awaitVoid(std::move(run));
    awaitVoid(std::move(second));

    EXPECT_EQ(audio.detections, 1);
    EXPECT_EQ(m.statusMessage(), "Made 2 chops");
    const auto& entry = probe(m).sampleMetadata[take.id];
    EXPECT_EQ(entry.chopSource, "bridge");
    EXPECT_EQ(entry.chopSensitivity, 1.0);
    EXPECT_EQ(entry.titleOverride, "Loop");
    EXPECT_EQ(m.samples()[0].chops.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(chopFile(libraryRoot(), take, old)));
    for (const auto& chop : entry.chops) {
        EXPECT_TRUE(std::filesystem::exists(chopFile(libraryRoot(), take, chop)));
        EXPECT_TRUE(std::filesystem::exists(chopFile(probe(m).cache->auMirrorRootURL(), take, chop)));
    }
    EXPECT_TRUE(m.choppingSampleIDs().empty());

    audio.chopsToFind = {makeChop(0, 0, 2)};
    awaitVoid(m.autoChop(m.samples()[0], -1));
    EXPECT_EQ(m.statusMessage(), "Made 1 chop");
    EXPECT_EQ(probe(m).sampleMetadata[take.id].chopSensitivity, 0.0);
    audio.chopsToFind = {};
    awaitVoid(m.autoChop(m.samples()[0], 0.5));
    EXPECT_EQ(m.statusMessage(), "No clear transients found");
    EXPECT_TRUE(std::filesystem::is_empty(libraryRoot() / "Chops"));
}

TEST_F(ControllerTest, FailedAutoChopKeepsTheEarlierChopsPlayable) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    audio.chopsToFind = {makeChop(0, 0, 1)};
    awaitVoid(m.autoChop(m.samples()[0], 0.5));
    auto earlier = probe(m).sampleMetadata[take.id].chops;

    audio.chopsToFind = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1), makeChop(2, 1, 2)};
    audio.failRenderAt = audio.renders + 2;
    awaitVoid(m.autoChop(m.samples()[0], 0.9));
    EXPECT_EQ(m.statusMessage(), "Auto chop failed");
    EXPECT_EQ(m.errorMessage(), "The sample audio could not be read.");
    EXPECT_EQ(probe(m).sampleMetadata[take.id].chops, earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(libraryRoot() / "Chops"), {}), 1);
    m.toggleChopPreview(m.samples()[0], earlier[0]);
    EXPECT_EQ(m.playingChopID(), earlier[0].id);

    BridgeSampleCache(paths, libraryRoot()).saveManifest({});
    auto orphan = take;
    orphan.id = Uuid::random();
    awaitVoid(m.autoChop(orphan, 0.5));
    EXPECT_EQ(m.errorMessage(), "The original sample is missing from the Bridge library.");
}

TEST_F(ControllerTest, ApplyEditRendersStoresResetsAndRefuses) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    BridgeSampleEdit edit;
    edit.startTime = 0.25;
    edit.endTime = 5.0; // past the end: stored without an end
    EXPECT_TRUE(await(m.applyEdit(edit, m.samples()[0])));
    EXPECT_EQ(m.statusMessage(), "Edited take");
    EXPECT_FALSE(probe(m).sampleMetadata[take.id].edit.endTime);
    EXPECT_DOUBLE_EQ(probe(m).sampleMetadata[take.id].edit.startTime, 0.25);
    EXPECT_TRUE(std::filesystem::exists(libraryRoot() / "Edited" / (take.id.string() + ".wav")));
    EXPECT_TRUE(
        std::filesystem::exists(probe(m).cache->auMirrorEditedDirectory() / (take.id.string() + ".wav")));
    EXPECT_FALSE(m.renderingEditSampleID());
    int analysed = audio.analyses;
    EXPECT_GE(analysed, 1);

    // A second application while one renders is refused, and so is a delete.
    audio.renderGate = Completion<bool>();
    auto first = m.applyEdit(edit, m.samples()[0]);
    EXPECT_EQ(m.renderingEditSampleID(), take.id);
    EXPECT_FALSE(await(m.applyEdit(edit, m.samples()[0])));
    EXPECT_EQ(m.statusMessage(), "Sample is busy");
    m.deleteSample(m.samples()[0]);
    EXPECT_EQ(m.samples().size(), 1u);
    audio.renderGate->resolve(true);
    EXPECT_TRUE(await(std::move(first)));
    EXPECT_EQ(audio.analyses, analysed + 1) << "forced even with an unchanged fingerprint";
    audio.renderGate.reset();

    audio.failRenderAt = audio.renders + 1;
    BridgeSampleEdit other = edit;
    other.fadeIn = 0.1;
    EXPECT_FALSE(await(m.applyEdit(other, m.samples()[0])));
    EXPECT_EQ(m.statusMessage(), "Edit render failed");
    EXPECT_EQ(probe(m).sampleMetadata[take.id].edit.fadeIn, 0.0);

    EXPECT_TRUE(await(m.applyEdit(BridgeSampleEdit{}, m.samples()[0])));
    EXPECT_EQ(m.statusMessage(), "Reset edit");
    EXPECT_FALSE(std::filesystem::exists(libraryRoot() / "Edited" / (take.id.string() + ".wav")));

    std::filesystem::remove(libraryRoot() / "bridge-metadata.json");
    std::filesystem::create_directory(libraryRoot() / "bridge-metadata.json");
    EXPECT_FALSE(await(m.applyEdit(edit, m.samples()[0])));
    EXPECT_EQ(m.statusMessage(), "Metadata save failed");
}

} // namespace
} // namespace vt::test

namespace vt::test {
namespace {

TEST_F(ControllerTest, OverlappingEditApplicationsKeepEverySampleBusyUntilItsOwnEnds) {
    auto a = makeSample("a", 100), b = makeSample("b", 90);
    seedLibrary({a, b});
    auto& m = start();
    settle();
    BridgeSampleEdit trim;
    trim.startTime = 0.5;

    Completion<bool> gateA, gateB;
    audio.renderGate = gateA;
    auto applyingA = m.applyEdit(trim, m.displaySamples({a})[0]);
    audio.renderGate = gateB;
    auto applyingB = m.applyEdit(trim, m.displaySamples({b})[0]);
    ASSERT_TRUE(turnLoopUntil([&] { return audio.renders == 2; }, patience));
    EXPECT_EQ(m.renderingEditSampleID(), b.id) << "the latest application is the published one";

    m.deleteSample(m.displaySamples({a})[0]);
    EXPECT_EQ(m.statusMessage(), "Sample is busy") << "a is still rendering though b is published";
    gateB.resolve(true);
    EXPECT_TRUE(await(std::move(applyingB)));
    EXPECT_EQ(m.renderingEditSampleID(), a.id);
    m.deleteSample(m.displaySamples({a})[0]);
    EXPECT_EQ(m.statusMessage(), "Sample is busy");

    gateA.resolve(true);
    EXPECT_TRUE(await(std::move(applyingA)));
    EXPECT_FALSE(m.renderingEditSampleID());
    m.deleteSample(m.displaySamples({a})[0]);
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Deleted a");
}

} // namespace
} // namespace vt::test

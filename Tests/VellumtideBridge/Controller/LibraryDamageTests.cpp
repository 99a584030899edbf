// What the controller tells, and what it keeps, when the library folder is damaged, full or
// changed under running work: leftovers of a crash, unreadable JSON files, files that cannot be
// copied, saves that fail, an edit at the edge of what the file stores, and results of work
// started on another folder.

#include "Platform/Audio/AudioFile.h"
#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool contains(const std::optional<std::string>& text, const std::string& part) {
    return text && text->find(part) != std::string::npos;
}

// A folder where the file belongs: every write of it fails, as on a full disk.
void blockFile(const fs::path& file) {
    fs::remove(file);
    fs::create_directories(file / "in-the-way");
}

TEST_F(ControllerTest, StartSweepsLeftoverTemporariesAndNamesTheDamagedFilesItSetAside) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    const fs::path mirror = paths.home / BridgeSampleCache::mirrorRelativePath;
    const std::vector<fs::path> leftovers = {
        libraryRoot() / ".library.json.tmp-Xy12Zq", libraryRoot() / ".vt-tmp-a1B2c3",
        libraryRoot() / "Edited" / ".vt-tmp-000000", libraryRoot() / "Chops" / ".vt-tmp-ZZZZZZ",
        mirror / ".vt-tmp-abcdef"};
    for (const auto& file : leftovers)
        writeFile(file, "partial");
    writeFile(libraryRoot() / "Chops" / ".keep-me", "mine");
    writeFile(libraryRoot() / "bridge-metadata.json", "{\"not\": json");

    auto& m = start();
    settleWrites();
    for (const auto& file : leftovers)
        EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_TRUE(fs::exists(libraryRoot() / "Chops" / ".keep-me"));

    const std::string keptAs = "bridge-metadata.unreadable-20231114T221320Z.json";
    EXPECT_EQ(m.statusMessage(), "Damaged library file set aside");
    EXPECT_TRUE(contains(m.errorMessage(),
                         "\"bridge-metadata.json\" could not be read and was kept as \"" + keptAs + "\""))
        << m.errorMessage().value_or("");
    EXPECT_EQ(vt::readWholeFile(libraryRoot() / keptAs), "{\"not\": json");
    EXPECT_EQ(m.samples().size(), 1u);
}

// A record of the list that does not decode is left out and named; the others stay listed.
TEST_F(ControllerTest, ADamagedSampleRecordIsLeftOutAndNamed) {
    auto kept = makeSample("kept", 100);
    seedLibrary({kept});
    const std::string listed = *vt::readWholeFile(libraryRoot() / "library.json");
    const std::string damaged = "[{\"title\": \"Broken take\", \"id\": 1}," + listed.substr(1);
    writeFile(libraryRoot() / "library.json", damaged);
    auto& m = start();
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Damaged library file set aside");
    EXPECT_TRUE(contains(m.errorMessage(),
                         "\"library.json\" was kept as \"library.unreadable-20231114T221320Z.json\" "
                         "beside it: 1 sample record in it could not be read (\"Broken take\")"))
        << m.errorMessage().value_or("");
    EXPECT_EQ(vt::readWholeFile(libraryRoot() / "library.unreadable-20231114T221320Z.json"), damaged);
    ASSERT_EQ(m.samples().size(), 1u);
    EXPECT_EQ(m.samples()[0].id, kept.id);
}

// One overlay entry of a wrong type costs only that entry: the other samples keep their renames,
// edits and chops, the whole file is kept aside, and no render is ever removed for want of the
// entry that could not be read, at this start or a later one.
TEST_F(ControllerTest, ADamagedOverlayEntryLosesOnlyThatEntry) {
    auto damaged = makeSample("damaged", 100), kept = makeSample("kept", 90);
    seedLibrary({damaged, kept});
    audio.chopsToFind = {makeChop(0, 0, 0.5)};
    std::vector<fs::path> renders;
    {
        auto& m = start();
        settle();
        BridgeSampleEdit edit;
        edit.startTime = 0.25;
        for (const auto& sample : {damaged, kept}) {
            ASSERT_TRUE(await(m.applyEdit(edit, m.displaySamples({sample})[0])));
            awaitVoid(m.autoChop(m.displaySamples({sample})[0], 0.5));
            renders.push_back(probe(m).cache->editedSampleURL(sample));
            renders.push_back(
                probe(m).cache->chopSampleURL(sample, probe(m).sampleMetadata.at(sample.id).chops[0]));
        }
        m.renameSample(m.displaySamples({kept})[0], "Renamed");
        settleWrites();
        model.reset();
    }
    auto overlay = vt::json::parse(*vt::readWholeFile(libraryRoot() / "bridge-metadata.json"));
    overlay[damaged.id.string()]["edit"]["startTime"] = "0.25";
    const std::string damagedText = vt::json::dump(overlay, 2);
    writeFile(libraryRoot() / "bridge-metadata.json", damagedText);

    auto& m = start();
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Damaged library file set aside");
    EXPECT_TRUE(contains(m.errorMessage(), "the saved changes of \"damaged\" could not be read"))
        << m.errorMessage().value_or("");
    EXPECT_EQ(vt::readWholeFile(libraryRoot() / "bridge-metadata.unreadable-20231114T221320Z.json"),
              damagedText);
    EXPECT_TRUE(m.displaySamples({damaged})[0].edit.isNeutral());
    const auto& entry = probe(m).sampleMetadata.at(kept.id);
    EXPECT_EQ(entry.titleOverride, "Renamed");
    EXPECT_DOUBLE_EQ(entry.edit.startTime, 0.25);
    EXPECT_EQ(entry.chops.size(), 1u);

    for (int restart = 0; restart < 2; ++restart) {
        model.reset();
        auto& again = start();
        settleWrites();
        EXPECT_NE(again.statusMessage(), "Damaged library file set aside") << "named once";
        for (const auto& file : renders)
            EXPECT_TRUE(fs::exists(file)) << file;
    }
}

// "bridge-metadata.json" or "library.json" missing at start: taken back from the plug-in's copy
// when it has one, and said; otherwise said, and nothing is removed, neither at that start nor at
// the next, in the library folder or the copy, so that putting the file back brings every rename,
// edit and chop back with its audio.
TEST_F(ControllerTest, ALostLibraryFileIsTakenBackOrToldAndNothingTheUserMadeIsRemoved) {
    auto first = makeSample("first", 100), second = makeSample("second", 90);
    seedLibrary({first, second});
    audio.chopsToFind = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1)};
    // Each sample edited and chopped, one renamed: every rendered file, in the library folder and
    // in the plug-in's copy.
    std::vector<fs::path> renders;
    {
        auto& m = start();
        settle();
        BridgeSampleEdit edit;
        edit.startTime = 0.25;
        for (const auto& sample : {first, second}) {
            ASSERT_TRUE(await(m.applyEdit(edit, m.displaySamples({sample})[0])));
            awaitVoid(m.autoChop(m.displaySamples({sample})[0], 0.5));
            const auto& cache = *probe(m).cache;
            for (const auto& chop : probe(m).sampleMetadata.at(sample.id).chops)
                renders.insert(renders.end(), {cache.chopSampleURL(sample, chop),
                                               cache.mirroredChopSampleURL(sample, chop)});
            renders.insert(renders.end(),
                           {cache.editedSampleURL(sample), cache.mirroredEditedSampleURL(sample)});
        }
        m.renameSample(m.displaySamples({first})[0], "Renamed");
        settleWrites();
    }
    ASSERT_EQ(renders.size(), 12u);
    model.reset();
    const fs::path mirror = paths.home / BridgeSampleCache::mirrorRelativePath;
    std::vector<fs::path> files = renders;
    for (const auto& sample : {first, second})
        files.insert(files.end(),
                     {libraryRoot() / "Samples" / sample.fileName, mirror / "Samples" / sample.fileName});
    auto everythingIsThere = [&] {
        for (const auto& file : files)
            EXPECT_TRUE(fs::exists(file)) << file;
    };
    auto everythingIsShown = [&](BridgeViewModel& m) {
        ASSERT_EQ(m.samples().size(), 2u);
        EXPECT_EQ(m.displaySamples({first})[0].title, "Renamed");
        for (const auto& sample : {first, second}) {
            EXPECT_DOUBLE_EQ(m.displaySamples({sample})[0].edit.startTime, 0.25);
            EXPECT_EQ(m.displaySamples({sample})[0].chops.size(), 2u);
        }
    };
    auto restartTwice = [&] {
        for (int restart = 0; restart < 2; ++restart) {
            model.reset();
            start();
            settleWrites();
            everythingIsThere();
        }
        model.reset();
    };

    for (const std::string name : {"bridge-metadata.json", "library.json"}) {
        SCOPED_TRACE(name);
        const bool manifest = name == "library.json";
        const std::string saved = *vt::readWholeFile(libraryRoot() / name);

        // The plug-in's copy has it: taken back, and said.
        fs::remove(libraryRoot() / name);
        {
            auto& m = start();
            settleWrites();
            EXPECT_EQ(m.statusMessage(), "Library file taken back from the plug-in's copy");
            EXPECT_TRUE(contains(m.errorMessage(), "\"" + name +
                                                       "\" was missing from the library folder and "
                                                       "was taken back from the plug-in's copy"))
                << m.errorMessage().value_or("");
            everythingIsShown(m);
        }
        restartTwice();
        EXPECT_EQ(vt::readWholeFile(libraryRoot() / name), saved);

        // Neither has it: said, and nothing is removed; the file put back brings everything back.
        fs::remove(libraryRoot() / name);
        fs::remove(mirror / name);
        {
            auto& m = start();
            settleWrites();
            EXPECT_EQ(m.statusMessage(), manifest ? "Sample list not found" : "Saved changes not found");
            EXPECT_TRUE(contains(m.errorMessage(), "\"" + name +
                                                       "\" was not found in the library folder or the "
                                                       "plug-in's copy"))
                << m.errorMessage().value_or("");
            everythingIsThere();
        }
        restartTwice();
        writeFile(libraryRoot() / name, saved);
        auto& m = start();
        settleWrites();
        everythingIsShown(m);
        everythingIsThere();
        EXPECT_FALSE(m.errorMessage()) << *m.errorMessage();
        model.reset();
    }

    // A file that cannot be read at all is kept aside and the plug-in's copy takes its place.
    writeFile(libraryRoot() / "bridge-metadata.json", "{\"cut\": short");
    auto& m = start();
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Damaged library file set aside");
    EXPECT_TRUE(contains(m.errorMessage(), "\"bridge-metadata.json\" could not be read and was kept as "
                                           "\"bridge-metadata.unreadable-20231114T221320Z.json\" beside it. "
                                           "The plug-in's copy of it was taken back in its place."))
        << m.errorMessage().value_or("");
    everythingIsShown(m);
    EXPECT_EQ(vt::readWholeFile(libraryRoot() / "bridge-metadata.unreadable-20231114T221320Z.json"),
              "{\"cut\": short");
}

TEST_F(ControllerTest, AFileTheMirrorCannotTakeIsNamedAndTheOthersAreMirrored) {
    auto blocked = makeSample("blocked", 100), other = makeSample("other", 90);
    seedLibrary({blocked, other});
    const fs::path mirrorSamples = paths.home / BridgeSampleCache::mirrorRelativePath / "Samples";
    fs::create_directories(mirrorSamples / blocked.fileName / "in-the-way");

    auto& m = start();
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Plug-in library incomplete");
    EXPECT_TRUE(contains(m.errorMessage(), blocked.fileName)) << m.errorMessage().value_or("");
    EXPECT_TRUE(fs::exists(mirrorSamples / other.fileName));

    // Deleting another sample still works; the alert names the file the mirror lacks.
    m.setErrorMessage(std::nullopt);
    m.deleteSample(m.displaySamples({other})[0]);
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Deleted other");
    EXPECT_TRUE(probe(m).sampleMetadata.at(other.id).isDeleted);
    EXPECT_TRUE(contains(m.errorMessage(), blocked.fileName));
}

TEST_F(ControllerTest, AFolderChangeGoesOnPastAFileItCannotCopyAndNamesIt) {
    auto blocked = makeSample("blocked", 100), other = makeSample("other", 90);
    seedLibrary({blocked, other});
    auto& m = start();
    settle();
    const fs::path target = folder / "copied";
    fs::create_directories(target / "Samples" / blocked.fileName / "in-the-way");

    chooser->answer = target;
    auto choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    alerts->answer(0);
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.cacheURL(), target);
    EXPECT_EQ(m.statusMessage(), "Sample folder changed, some files not copied");
    EXPECT_TRUE(contains(m.errorMessage(), blocked.fileName)) << m.errorMessage().value_or("");
    EXPECT_TRUE(fs::exists(target / "Samples" / other.fileName));
    EXPECT_EQ(m.samples().size(), 2u);
    EXPECT_TRUE(fs::exists(libraryRoot() / "Samples" / blocked.fileName)); // the old folder keeps it
}

TEST_F(ControllerTest, AnAnalysisThatCannotBeSavedIsNotReportedAsUpdated) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    audio.result.bpm = 120;
    audio.result.bpmConfidence = 0.9;
    auto& m = start();
    settle();
    blockFile(probe(m).cache->metadataURL());
    // Another result: the writer skips a state it has written already.
    audio.result.bpm = 128;

    awaitVoid(m.analyzeSamplesIfNeeded({take}, {take.id}, false));
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Analysis could not be saved");
    EXPECT_TRUE(contains(m.errorMessage(), "bridge-metadata.json"));
}

TEST_F(ControllerTest, AChopRunWhoseOverlayCannotBeSavedLeavesNoChopFilesBehind) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    auto& m = start();
    settle();
    audio.chopsToFind = {makeChop(0, 0, 1)};
    awaitVoid(m.autoChop(m.samples()[0], 0.5));
    const auto earlier = probe(m).sampleMetadata.at(take.id).chops;
    ASSERT_EQ(earlier.size(), 1u);
    const fs::path earlierFile = probe(m).cache->chopSampleURL(take, earlier[0]);

    blockFile(probe(m).cache->metadataURL());
    audio.chopsToFind = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1.5)};
    awaitVoid(m.autoChop(m.samples()[0], 0.5));
    EXPECT_EQ(m.statusMessage(), "Metadata save failed");
    EXPECT_TRUE(m.errorMessage());
    // The overlay on disk names the earlier chop: it stays, in memory and as a file; the new
    // files are gone.
    EXPECT_EQ(probe(m).sampleMetadata.at(take.id).chops, earlier);
    EXPECT_EQ(m.samples()[0].chops, earlier);
    std::vector<std::string> chopFiles;
    for (const auto& entry : fs::directory_iterator(libraryRoot() / "Chops"))
        chopFiles.push_back(entry.path().filename().string());
    EXPECT_EQ(chopFiles, std::vector<std::string>{earlierFile.filename().string()});
}

// An edit or a deletion whose save fails (a full disk) leaves nothing behind: the entry in memory,
// the sample's files and the overlay the next save writes stay as before. A render no overlay
// entry names stays at the next start (its entry may be in a lost file that comes back), as do
// renders that are named and a user's own files.
TEST_F(ControllerTest, AFailedEditLeavesNothingBehindAndRendersNoEntryNamesStay) {
    auto take = makeSample("take", 100);
    auto kept = makeSample("kept", 200);
    seedLibrary({take, kept});
    auto& m = start();
    settle();
    BridgeSampleEdit edit;
    edit.startTime = 0.25;
    ASSERT_TRUE(await(m.applyEdit(edit, m.displaySamples({kept})[0])));
    const fs::path keptRender = probe(m).cache->editedSampleURL(kept);
    const auto keptBytes = vt::readWholeFile(keptRender);
    ASSERT_TRUE(keptBytes);
    const auto overlay = vt::readWholeFile(probe(m).cache->metadataURL());
    blockFile(probe(m).cache->metadataURL());
    EXPECT_FALSE(await(m.applyEdit(edit, m.displaySamples({take})[0])));
    EXPECT_EQ(m.statusMessage(), "Metadata save failed");
    EXPECT_FALSE(fs::exists(probe(m).cache->editedSampleURL(take)));
    BridgeSampleEdit again = edit;
    again.startTime = 0.5;
    audio.renderedSeconds = 0.5;
    EXPECT_FALSE(await(m.applyEdit(again, m.displaySamples({kept})[0])));
    EXPECT_EQ(probe(m).sampleMetadata[kept.id].edit, edit);
    EXPECT_TRUE(probe(m).sampleMetadata[take.id].edit.isNeutral());
    EXPECT_EQ(m.displaySamples({kept})[0].edit, edit);
    EXPECT_EQ(vt::readWholeFile(keptRender), keptBytes);
    for (const auto& file : fs::directory_iterator(libraryRoot() / "Edited"))
        EXPECT_EQ(file.path(), keptRender) << "left behind";
    // A deletion that cannot be saved keeps the sample whole.
    m.deleteSample(m.displaySamples({kept})[0]);
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Delete failed");
    EXPECT_FALSE(probe(m).sampleMetadata[kept.id].isDeleted);
    EXPECT_EQ(vt::readWholeFile(keptRender), keptBytes);
    EXPECT_TRUE(fs::exists(*probe(m).cache->sampleURL(kept)));

    // The next save that succeeds stores the overlay as it was.
    fs::remove_all(probe(m).cache->metadataURL());
    m.renameSample(m.displaySamples({take})[0], "Take");
    settleWrites();
    const auto stored = probe(m).cache->loadLocalMetadata();
    EXPECT_EQ(stored.at(kept.id).edit, edit);
    EXPECT_TRUE(stored.at(take.id).edit.isNeutral());

    fs::remove_all(probe(m).cache->metadataURL());
    writeFile(probe(m).cache->metadataURL(), *overlay);
    const std::string stray = vt::Uuid::random().string();
    const std::vector<fs::path> unnamed = {libraryRoot() / "Edited" / (stray + ".wav"),
                                           libraryRoot() / "Chops" /
                                               (kept.id.string() + "-chop-" + stray + ".wav")};
    const std::vector<fs::path> others = {libraryRoot() / "Edited" / "mine.wav",
                                          libraryRoot() / "Edited" / (vt::Uuid::random().string() + ".aif"),
                                          libraryRoot() / "Chops" / (stray + "-chop-mine.wav")};
    for (const auto& file : unnamed)
        writeFile(file, "render");
    for (const auto& file : others)
        writeFile(file, "mine");
    model.reset();
    start();
    settle();
    for (const auto& file : unnamed)
        EXPECT_TRUE(fs::exists(file)) << file;
    for (const auto& file : others)
        EXPECT_TRUE(fs::exists(file)) << file;
    EXPECT_TRUE(fs::exists(keptRender));
}

// A start or fade of 1 ms or less is stored as none: the render, and the edit the window holds,
// are those of the edit as the next start reads it back, not the edit as the sheet gave it.
TEST_F(ControllerTest, AnEditAtTheMillisecondEdgeIsRenderedAsItIsStored) {
    auto kick = makeSample("kick", 100);
    kick.duration = 1.0;
    seedLibrary({kick});
    writeWav(libraryRoot() / "Samples" / kick.fileName, 44100, {sineWave(60, 44100, 44100, 0.9)});
    realAudio = BridgeAudioServices::standard();
    auto& m = start();
    settle();
    BridgeSampleEdit atTheEdge, belowWithFade, fadeBelow;
    atTheEdge.startTime = 0.001;
    atTheEdge.normalize = true;
    belowWithFade.startTime = 0.0005;
    belowWithFade.fadeOut = 0.25;
    fadeBelow.startTime = 0.25;
    fadeBelow.fadeIn = 0.0008;
    for (const auto& edit : {atTheEdge, belowWithFade, fadeBelow}) {
        SCOPED_TRACE(edit.toJson().dump());
        ASSERT_TRUE(await(m.applyEdit(edit, m.displaySamples({kick})[0])));
        settleWrites();
        const BridgeSampleEdit reloaded = probe(m).cache->loadLocalMetadata().at(kick.id).edit;
        EXPECT_EQ(probe(m).sampleMetadata.at(kick.id).edit, reloaded);
        EXPECT_EQ(m.displaySamples({kick})[0].edit, reloaded);
        const auto reference = folder / "reference.wav";
        BridgeSampleRenderer::renderSynchronously(*probe(m).cache->sampleURL(kick), reference, reloaded);
        const auto rendered = readAudioFile(probe(m).cache->editedSampleURL(kick)).channels;
        EXPECT_EQ(rendered.front().size(), readAudioFile(reference).channels.front().size());
        EXPECT_TRUE(rendered == readAudioFile(reference).channels);
    }
}

// An analysis started on one folder finishes after the user switched to another: its result
// belongs to the old folder and never reaches the new folder's overlay.
TEST_F(ControllerTest, AnAnalysisOfTheOldFolderIsDroppedAfterAFolderChange) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    audio.analysisGate = Completion<bool>();
    audio.result.bpm = 99;
    audio.result.bpmConfidence = 0.9;
    auto& m = start();
    ASSERT_TRUE(turnLoopUntil([&] { return m.analyzingSampleIDs().count(take.id) > 0; }, patience));

    chooser->answer = folder / "copied";
    auto choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnLoopUntil([&] { return !alerts->pending.empty(); }, patience));
    alerts->answer(0);
    awaitVoid(std::move(choosing));
    ASSERT_EQ(m.cacheURL(), folder / "copied");

    audio.analysisGate->resolve(true);
    ASSERT_TRUE(turnLoopUntil([&] { return m.analyzingSampleIDs().empty(); }, patience));
    settle();
    EXPECT_FALSE(probe(m).sampleMetadata.count(take.id));
    EXPECT_FALSE(BridgeSampleCache(paths, folder / "copied").loadLocalMetadata().count(take.id));
}

} // namespace
} // namespace vt::test

// The plug-in's copy of the library stays faithful while the writes run off the main thread:
// after every kind of change the mirror holds the library's two JSON files and exactly the listed
// audio, edits and chops, and the files on disk hold the latest state. Rapid changes are merged,
// none is lost, and quitting finishes the writes still queued.

#include "Platform/Core/AtomicFile.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"

#include <set>

namespace vt::test {
namespace {

using Mode = BridgeViewModel::SyncMode;
namespace fs = std::filesystem;

std::set<std::string> visibleFiles(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file() && !it->path().filename().string().starts_with("."))
            names.insert(it->path().filename().string());
    return names;
}

// The list as "library.json" holds it: the ten manifest fields, the rest at their defaults.
std::vector<SampleItem> manifestForm(std::vector<SampleItem> samples) {
    for (auto& sample : samples) {
        SampleItem plain;
        plain.id = sample.id;
        plain.title = sample.title;
        plain.createdAt = sample.createdAt;
        plain.fileName = sample.fileName;
        plain.duration = sample.duration;
        plain.sampleRate = sample.sampleRate;
        plain.channelCount = sample.channelCount;
        plain.byteCount = sample.byteCount;
        plain.peaks = sample.peaks;
        plain.isFavorite = sample.isFavorite;
        sample = plain;
    }
    return samples;
}

std::string text(const fs::path& path) {
    return readWholeFile(path).value_or("<missing>");
}

class MirrorTest : public PhoneTest {
protected:
    // The files the plug-in reads, compared with the library folder, once the writes have ended.
    void expectFaithfulMirror(const std::string& after) {
        SCOPED_TRACE("after " + after);
        settleWrites();
        auto m = probe(*model);
        const fs::path library = m.cache->rootURL(), mirror = m.cache->auMirrorRootURL();
        EXPECT_TRUE(m.cache->loadManifest() == manifestForm(m.librarySamples))
            << "the latest list is on disk";
        EXPECT_TRUE(m.cache->loadLocalMetadata() == m.sampleMetadata) << "the latest overlay is on disk";
        for (const char* name : {"library.json", "bridge-metadata.json"})
            EXPECT_EQ(text(mirror / name), text(library / name)) << name;

        std::map<std::string, std::set<std::string>> listed; // folder → names the library lists and has
        for (const SampleItem& sample : m.librarySamples) {
            auto keep = [&](const fs::path& file) {
                if (fs::exists(file))
                    listed[file.parent_path().filename().string()].insert(file.filename().string());
            };
            keep(library / "Samples" / sample.fileName);
            keep(m.cache->editedSampleURL(sample));
            auto entry = m.sampleMetadata.find(sample.id);
            if (entry != m.sampleMetadata.end())
                for (const auto& chop : entry->second.chops)
                    keep(m.cache->chopSampleURL(sample, chop));
        }
        for (const char* folder : {"Samples", "Edited", "Chops"}) {
            EXPECT_EQ(visibleFiles(mirror / folder), listed[folder]) << folder;
            for (const auto& name : listed[folder])
                EXPECT_EQ(text(mirror / folder / name), text(library / folder / name)) << name;
        }
    }
};

TEST_F(MirrorTest, MirrorEqualsTheLibraryAfterEveryKindOfChange) {
    auto kick = offer("kick", 100, "KICK");
    auto snare = offer("snare", 200, "SNARE");
    offered[1].isChopEnabled = true;
    offered[1].chops = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1)};
    phone.setLibrary(offered);
    auto hat = offer("hat", 300, "HAT");
    trust();
    auto& m = start();
    expectFaithfulMirror("start-up");

    syncNow(Mode::manual);
    expectFaithfulMirror("sync with a phone chop import");
    ASSERT_EQ(probe(m).sampleMetadata.at(snare.id).chops.size(), 2u);

    m.renameSample(m.displaySamples({kick})[0], "Kick 2");
    expectFaithfulMirror("rename");
    m.toggleFavorite(m.displaySamples({kick})[0]);
    expectFaithfulMirror("favourite");

    BridgeSampleEdit trim;
    trim.startTime = 0.5;
    EXPECT_TRUE(await(m.applyEdit(trim, m.displaySamples({kick})[0])));
    expectFaithfulMirror("applied edit");
    EXPECT_TRUE(await(m.applyEdit(BridgeSampleEdit::neutral(), m.displaySamples({kick})[0])));
    expectFaithfulMirror("edit reset");

    audio.chopsToFind = {makeChop(0, 0, 0.5), makeChop(1, 0.5, 1), makeChop(2, 1, 1.5)};
    awaitVoid(m.autoChop(m.displaySamples({hat})[0], 0.5));
    expectFaithfulMirror("automatic chop");
    audio.chopsToFind = {makeChop(0, 0, 1)};
    awaitVoid(m.autoChop(m.displaySamples({hat})[0], 0.7));
    expectFaithfulMirror("automatic chop again (old chops withdrawn)");

    m.deleteSample(m.displaySamples({snare})[0]);
    expectFaithfulMirror("delete");
    EXPECT_TRUE(visibleFiles(probe(m).cache->auMirrorChopsDirectory()).size() == 1u);

    chooser->answer = folder.path() / "Elsewhere";
    auto choosing = m.chooseSampleFolder();
    ASSERT_TRUE(turnUntil([&] { return !alerts->pending.empty(); }));
    alerts->answer(0); // "Copy Existing"
    awaitVoid(std::move(choosing));
    EXPECT_EQ(m.statusMessage(), "Sample folder changed and copied");
    expectFaithfulMirror("folder change with a copy");

    writeFile(probe(m).cache->samplesDirectory() / "hat.wav", "HAT!"); // differs from the phone's size
    syncNow(Mode::manual);
    expectFaithfulMirror("sync into the new folder");

    auto resetting = m.resetSampleFolderToDefault();
    ASSERT_TRUE(turnUntil([&] { return !alerts->pending.empty(); }));
    alerts->answer(1); // "Use Empty": the default folder as it stands
    awaitVoid(std::move(resetting));
    EXPECT_EQ(m.statusMessage(), "Sample folder changed");
    expectFaithfulMirror("folder change back");
}

TEST_F(MirrorTest, RapidChangesAreMergedAndQuittingFinishesQueuedWrites) {
    std::vector<SampleItem> takes;
    for (int i = 0; i < 12; ++i)
        takes.push_back(makeSample("take " + std::to_string(i), 100 + i));
    seedLibrary(takes);
    auto& m = start();
    settle();

    // Back to back, without the loop turning: every rename reaches the disk, each reports.
    std::vector<std::string> statuses;
    QObject::connect(&m, &BridgeViewModel::changed, &m, [&](BridgeViewModel::Field field) {
        if (field == BridgeViewModel::Field::statusMessage)
            statuses.push_back(m.statusMessage());
    });
    for (const auto& take : takes)
        m.renameSample(m.displaySamples({take})[0], "Renamed " + take.title);
    m.deleteSample(m.displaySamples({takes[0]})[0]);
    settleWrites();
    EXPECT_EQ(statuses.size(), takes.size() + 1);
    EXPECT_EQ(statuses.back(), "Deleted Renamed take 0");
    auto onDisk = probe(m).cache->loadLocalMetadata();
    for (std::size_t i = 1; i < takes.size(); ++i)
        EXPECT_EQ(onDisk[takes[i].id].titleOverride, "Renamed " + takes[i].title);
    EXPECT_TRUE(onDisk[takes[0].id].isDeleted);
    EXPECT_FALSE(fs::exists(probe(m).cache->auMirrorSamplesDirectory() / takes[0].fileName));

    // Quitting with writes queued: they finish before the controller is gone.
    m.renameSample(m.displaySamples({takes[1]})[0], "Last word");
    m.deleteSample(m.displaySamples({takes[2]})[0]);
    const fs::path metadataFile = probe(m).cache->metadataURL(),
                   mirrorFolder = probe(m).cache->auMirrorSamplesDirectory();
    model.reset();
    BridgeSampleCache reread(paths, libraryRoot());
    auto afterQuit = reread.loadLocalMetadata();
    EXPECT_EQ(afterQuit[takes[1].id].titleOverride, "Last word");
    EXPECT_TRUE(afterQuit[takes[2].id].isDeleted);
    EXPECT_FALSE(fs::exists(mirrorFolder / takes[2].fileName));
    EXPECT_EQ(text(metadataFile), text(reread.auMirrorRootURL() / "bridge-metadata.json"));
}

} // namespace
} // namespace vt::test

#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using vt::test::writeFile;

namespace {

class FixedClock final : public vt::WallClock {
public:
    vt::Date now() const override { return vt::Date{1709622489}; } // 2024-03-05T07:08:09Z
};

class SampleCacheTest : public ::testing::Test {
protected:
    vt::test::TemporaryFolder folder;
    vt::Paths paths = vt::Paths::underRoot(folder.path());
    vt::MemorySettingsStore settings;
    BridgeSampleCache cache{paths, settings, std::make_shared<FixedClock>()};

    fs::path mirror() const { return cache.auMirrorRootURL(); }

    static SampleItem sample(std::string fileName, std::int64_t byteCount = 4) {
        SampleItem item;
        item.id = vt::Uuid::random();
        item.title = "Take";
        item.createdAt = vt::Date{1709622489};
        item.fileName = std::move(fileName);
        item.duration = 1.25;
        item.sampleRate = 48000;
        item.channelCount = 1;
        item.byteCount = byteCount;
        item.peaks = {0.5f, 0.125f};
        return item;
    }

    static std::vector<std::string> names(const fs::path& dir) {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(dir))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

    static std::string read(const fs::path& path) { return vt::readWholeFile(path).value_or("<missing>"); }
};

const QString folderKey = "VellumtideBridge.sampleFolderPath";

} // namespace

TEST_F(SampleCacheTest, RootFolderChoiceAndAbbreviation) {
    fs::path defaultRoot = paths.music / "Vellumtide";
    EXPECT_EQ(cache.rootURL(), defaultRoot);
    EXPECT_EQ(cache.auMirrorRootURL(),
              paths.home / ".local/share/com.kestrelworks.vellumtide.bridge.au/Data/Music/Vellumtide");
    EXPECT_TRUE(fs::is_directory(cache.samplesDirectory()) &&
                fs::is_directory(cache.auMirrorChopsDirectory()));

    settings.setValue(folderKey, "  \n");
    EXPECT_EQ(BridgeSampleCache::savedRootURL(paths, settings), defaultRoot);
    settings.setValue(folderKey, (folder.path() / "Elsewhere/./Lib/").c_str());
    EXPECT_EQ(BridgeSampleCache::savedRootURL(paths, settings), folder.path() / "Elsewhere/Lib");

    BridgeSampleCache::saveRootURL(folder.path() / "Other", paths, settings);
    EXPECT_EQ(settings.value(folderKey)->toString().toStdString(), (folder.path() / "Other").string());
    BridgeSampleCache::saveRootURL(paths.music / "Vellumtide/", paths, settings);
    EXPECT_FALSE(settings.value(folderKey));

    vt::Paths anna;
    anna.home = "/home/ann";
    EXPECT_EQ(BridgeSampleCache::abbreviatedPath("/home/ann/Music/Vellumtide", anna), "~/Music/Vellumtide");
    EXPECT_EQ(BridgeSampleCache::abbreviatedPath("/home/ann", anna), "~");
    EXPECT_EQ(BridgeSampleCache::abbreviatedPath("/home/anna/Music", anna), "/home/anna/Music");
    EXPECT_EQ(BridgeSampleCache::abbreviatedPath("/srv/library", anna), "/srv/library");
}

TEST_F(SampleCacheTest, ManifestRoundTripsIntoBothFolders) {
    EXPECT_TRUE(cache.loadManifest().empty());
    EXPECT_FALSE(cache.hasLibraryContent());
    std::vector<SampleItem> samples = {sample("a.m4a"), sample("b.wav")};
    cache.saveManifest(samples);
    EXPECT_EQ(cache.loadManifest(), samples);
    EXPECT_TRUE(cache.hasLibraryContent());

    std::string text = read(cache.manifestURL());
    EXPECT_EQ(text, read(mirror() / "library.json"));
    vt::json::Json whole = vt::json::Json::array();
    for (const auto& item : samples)
        whole.push_back(item.toJson(DateForm::iso8601));
    EXPECT_EQ(text, vt::json::dump(whole, 2)); // written a record at a time, laid out as one document
    EXPECT_LT(text.find("\"byteCount\""), text.find("\"title\"")); // sorted keys
    EXPECT_NE(text.find("\n  "), std::string::npos);               // pretty-printed
    EXPECT_NE(text.find("\"2024-03-05T07:08:09Z\""), std::string::npos);
    EXPECT_EQ(names(cache.rootURL()),
              (std::vector<std::string>{"Chops", "Edited", "Samples", "library.json"}));

    writeFile(cache.manifestURL(), R"([{"id":"0A1B2C3D-0000-4000-8000-00000000ABCD","title":"x",
        "createdAt":"2024-03-05T07:08:09Z","fileName":"x","duration":1,"sampleRate":1,"channelCount":1,
        "peaks":[]}])");
    EXPECT_TRUE(cache.loadManifest().empty());
}

TEST_F(SampleCacheTest, MetadataDropsBadKeysAndEmptyEntries) {
    vt::Uuid kept = vt::Uuid::random();
    std::string lower = kept.string();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    writeFile(cache.metadataURL(), "{\"not-a-uuid\": {\"isDeleted\": true}, \"" +
                                       vt::Uuid::random().string() + "\": {}, \"" + lower +
                                       "\": {\"titleOverride\": \"Keep\"}}");
    BridgeMetadataMap loaded = cache.loadLocalMetadata();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded.at(kept).titleOverride, "Keep");

    cache.saveLocalMetadata(loaded);
    EXPECT_NE(read(cache.metadataURL()).find(kept.string()), std::string::npos);
    EXPECT_EQ(read(cache.metadataURL()), read(mirror() / "bridge-metadata.json"));

    BridgeSampleMetadata blank;
    blank.titleOverride = "   ";
    cache.saveLocalMetadata({{vt::Uuid::random(), blank}});
    EXPECT_EQ(read(cache.metadataURL()), "{}");

    BridgeSampleMetadata analysed;
    analysed.analysis.analyzedAt = vt::dateFromReferenceSeconds(100.5);
    analysed.analysis.bpm = 90;
    analysed.chops = {{vt::Uuid::random(), 0, 0, 0.5, 0.75}};
    BridgeMetadataMap map = {{kept, analysed}, {vt::Uuid::random(), loaded.at(kept)}};
    cache.saveLocalMetadata(map);
    EXPECT_NE(read(cache.metadataURL()).find("\"analyzedAt\": 100.5"), std::string::npos);
    EXPECT_EQ(cache.loadLocalMetadata(), map);
    vt::json::Json whole = vt::json::Json::object();
    for (const auto& [id, entry] : map)
        whole[id.string()] = entry.toJson(DateForm::referenceSeconds);
    EXPECT_EQ(read(cache.metadataURL()), vt::json::dump(whole, 2));

    writeFile(cache.metadataURL(), "{\"" + kept.string() + "\": {\"isDeleted\": \"yes\"}}");
    EXPECT_TRUE(cache.loadLocalMetadata().empty());
}

TEST_F(SampleCacheTest, UnreadableFilesAreKeptBeforeTheyAreReplaced) {
    writeFile(cache.manifestURL(), "[{\"truncated\": ");
    writeFile(cache.metadataURL(), "{\"user edits\": [");
    EXPECT_TRUE(cache.loadManifest().empty());
    EXPECT_TRUE(cache.loadLocalMetadata().empty());

    std::vector<SampleItem> samples = {sample("a.m4a")};
    cache.saveManifest(samples);
    cache.saveLocalMetadata({});
    EXPECT_EQ(read(cache.rootURL() / "library.unreadable-20240305T070809Z.json"), "[{\"truncated\": ");
    EXPECT_EQ(read(cache.rootURL() / "bridge-metadata.unreadable-20240305T070809Z.json"),
              "{\"user edits\": [");
    EXPECT_EQ(cache.loadManifest(), samples);

    // Only the first write sets the file aside; a second unreadable file in the same second gets its own
    // name.
    cache.saveManifest(samples);
    writeFile(cache.manifestURL(), "garbage");
    cache.loadManifest();
    cache.saveManifest(samples);
    EXPECT_EQ(read(cache.rootURL() / "library.unreadable-20240305T070809Z-2.json"), "garbage");
    EXPECT_EQ(names(cache.rootURL()).size(), 8u);
}

TEST_F(SampleCacheTest, UnsafeFileNamesNeverReachTheDisk) {
    writeFile(cache.samplesDirectory() / "keep.wav", "data");
    cache.saveManifest({sample("keep.wav")});
    for (std::string name :
         std::vector<std::string>{"", ".", "..", "../library.json", "a/b", std::string("x\0y", 3)}) {
        SampleItem item = sample(name);
        EXPECT_EQ(cache.sampleURL(item), std::nullopt) << name;
        EXPECT_FALSE(cache.needsDownload(item)) << name;
        EXPECT_THROW(cache.saveSampleData("evil", item), BridgeLibraryError) << name;
        cache.removeSampleFiles(item);
        EXPECT_NO_THROW(cache.mirrorLibrary({item}, {})) << name;
    }
    EXPECT_EQ(names(cache.samplesDirectory()), (std::vector<std::string>{"keep.wav"}));
    EXPECT_TRUE(fs::exists(cache.manifestURL()));
    EXPECT_EQ(names(mirror() / "Samples"), std::vector<std::string>{});
}

TEST_F(SampleCacheTest, DownloadsAreCompleteWhenTheSizeMatches) {
    SampleItem item = sample("take.m4a", 5);
    EXPECT_TRUE(cache.needsDownload(item));
    writeFile(*cache.sampleURL(item), "abcd");
    EXPECT_TRUE(cache.needsDownload(item));
    writeFile(*cache.sampleURL(item), "zzzzz");
    EXPECT_FALSE(cache.needsDownload(item));

    cache.saveSampleData("12345", item);
    EXPECT_EQ(read(*cache.sampleURL(item)), "12345");
    EXPECT_EQ(read(mirror() / "Samples/take.m4a"), "12345");
    EXPECT_EQ(names(cache.samplesDirectory()), (std::vector<std::string>{"take.m4a"})); // no temporaries
    EXPECT_EQ(names(mirror() / "Samples"), (std::vector<std::string>{"take.m4a"}));
}

TEST_F(SampleCacheTest, ABlockedMirrorFailsOnlyTheFullPass) {
    fs::remove_all(mirror());
    writeFile(mirror(), "a regular file where the mirror folder belongs");
    SampleItem item = sample("take.m4a");

    EXPECT_NO_THROW(cache.saveManifest({item}));
    EXPECT_NO_THROW(cache.saveLocalMetadata({}));
    EXPECT_NO_THROW(cache.saveSampleData("data", item));
    EXPECT_EQ(cache.loadManifest(), std::vector<SampleItem>{item});
    EXPECT_EQ(read(*cache.sampleURL(item)), "data");
    EXPECT_THROW(cache.mirrorLibrary({item}, {}), BridgeLibraryError);
    EXPECT_THROW(cache.prepareDirectories(), BridgeLibraryError);
    EXPECT_NO_THROW(cache.mirrorEditedSample(item));

    // Only the mirror's "library.json" is blocked (by a folder): the save still succeeds.
    fs::remove(mirror());
    fs::create_directories(mirror() / "library.json");
    std::vector<SampleItem> two = {item, sample("b.wav")};
    EXPECT_NO_THROW(cache.saveManifest(two));
    EXPECT_EQ(cache.loadManifest(), two);
    EXPECT_TRUE(fs::is_directory(mirror() / "library.json"));
}

TEST_F(SampleCacheTest, MirrorCopiesWhatChangedAndDropsWhatIsGone) {
    SampleItem item = sample("take.m4a");
    SampleItem other = sample("other.m4a");
    BridgeSampleChop listed{vt::Uuid::random(), 0, 0, 0.5, 1};
    BridgeSampleChop unlisted{vt::Uuid::random(), 1, 0.5, 1, 1};
    BridgeSampleChop gone{vt::Uuid::random(), 2, 1, 1.25, 1};
    BridgeSampleMetadata metadata;
    metadata.chops = {listed};
    writeFile(*cache.sampleURL(item), "take");
    writeFile(*cache.sampleURL(other), "other");
    writeFile(cache.editedSampleURL(item), "edited");
    writeFile(cache.chopSampleURL(item, listed), "chop");
    writeFile(cache.chopSampleURL(item, unlisted), "unlisted");
    writeFile(mirror() / "Samples/stale.m4a", "goes");
    writeFile(mirror() / "Samples/.stale.m4a-in-progress", "a write under way stays");
    writeFile(mirror() / "Chops/nested/kept.wav", "no recursion");
    writeFile(cache.mirroredChopSampleURL(item, unlisted), "the library still has it: it stays");
    writeFile(cache.mirroredChopSampleURL(item, gone), "the library's file is gone: it goes");

    cache.mirrorLibrary({item}, {{item.id, metadata}});
    EXPECT_EQ(read(mirror() / "Samples/take.m4a"), "take");
    EXPECT_EQ(read(cache.mirroredEditedSampleURL(item)), "edited");
    EXPECT_EQ(read(cache.mirroredChopSampleURL(item, listed)), "chop");
    EXPECT_EQ(read(mirror() / "library.json"), read(cache.manifestURL()));
    EXPECT_EQ(read(mirror() / "bridge-metadata.json"), read(cache.metadataURL()));
    // Nothing goes for want of an entry (the overlay may be the file that was lost).
    EXPECT_EQ(read(cache.mirroredChopSampleURL(item, unlisted)), "the library still has it: it stays");
    EXPECT_FALSE(fs::exists(cache.mirroredChopSampleURL(item, gone)));
    EXPECT_FALSE(fs::exists(mirror() / "Samples/other.m4a"));
    EXPECT_FALSE(fs::exists(mirror() / "Samples/stale.m4a"));
    EXPECT_TRUE(fs::exists(mirror() / "Samples/.stale.m4a-in-progress"));
    EXPECT_TRUE(fs::exists(mirror() / "Chops/nested/kept.wav"));
    EXPECT_EQ(fs::last_write_time(mirror() / "Samples/take.m4a"),
              fs::last_write_time(*cache.sampleURL(item)));

    // A copy with the source's size and time is taken as unchanged and left alone; a file that
    // changed at the same size is copied again; no temporary is left behind.
    writeFile(mirror() / "Samples/take.m4a", "TAKE");
    fs::last_write_time(mirror() / "Samples/take.m4a", fs::last_write_time(*cache.sampleURL(item)));
    writeFile(cache.editedSampleURL(item), "EDITED");
    fs::last_write_time(cache.editedSampleURL(item),
                        fs::last_write_time(cache.mirroredEditedSampleURL(item)) + std::chrono::seconds(1));
    cache.mirrorFiles({item}, {{item.id, metadata}});
    EXPECT_EQ(read(mirror() / "Samples/take.m4a"), "TAKE");
    EXPECT_EQ(read(cache.mirroredEditedSampleURL(item)), "EDITED");
    EXPECT_EQ(names(mirror() / "Edited"), (std::vector<std::string>{item.id.string() + ".wav"}));

    // A removed edit leaves the mirror too.
    fs::remove(cache.editedSampleURL(item));
    cache.mirrorFiles({item}, {{item.id, metadata}});
    EXPECT_EQ(names(mirror() / "Edited"), std::vector<std::string>{});
    EXPECT_EQ(cache.chopSampleURL(item, listed).filename(),
              item.id.string() + "-chop-" + listed.id.string() + ".wav");

    writeFile(cache.editedSampleURL(item), "EDITED AGAIN");
    cache.mirrorEditedSample(item); // always copies
    EXPECT_EQ(read(cache.mirroredEditedSampleURL(item)), "EDITED AGAIN");
}

TEST_F(SampleCacheTest, CopyLibraryTakesOnlyVisibleFiles) {
    writeFile(cache.samplesDirectory() / "one.wav", "1");
    writeFile(cache.samplesDirectory() / "two.wav", "22");
    writeFile(cache.samplesDirectory() / ".hidden", "h");
    writeFile(cache.samplesDirectory() / "nested/three.wav", "333");
    cache.saveManifest({sample("one.wav")});

    BridgeSampleCache destination(paths, folder.path() / "New Library");
    EXPECT_FALSE(destination.hasLibraryContent());
    cache.copyLibrary(destination);
    EXPECT_EQ(names(destination.samplesDirectory()), (std::vector<std::string>{"one.wav", "two.wav"}));
    EXPECT_EQ(read(destination.manifestURL()), read(cache.manifestURL()));
    EXPECT_FALSE(fs::exists(destination.metadataURL()));
    EXPECT_TRUE(destination.hasLibraryContent());
    EXPECT_NO_THROW(cache.copyLibrary(cache));

    // A hidden entry alone counts as content.
    BridgeSampleCache hidden(paths, folder.path() / "Hidden");
    writeFile(hidden.chopsDirectory() / ".partial", "");
    EXPECT_TRUE(hidden.hasLibraryContent());
}

TEST_F(SampleCacheTest, RemovalsTouchOnlyTheSamplesOwnRegularFiles) {
    SampleItem item = sample("take.m4a");
    SampleItem neighbour = sample("next.m4a");
    BridgeSampleChop chop{vt::Uuid::random(), 0, 0, 1, 1};
    for (const fs::path& path : {*cache.sampleURL(item), mirror() / "Samples/take.m4a",
                                 cache.editedSampleURL(item), cache.mirroredEditedSampleURL(item),
                                 cache.chopSampleURL(item, chop), cache.mirroredChopSampleURL(item, chop),
                                 cache.chopSampleURL(neighbour, chop), cache.editedSampleURL(neighbour)})
        writeFile(path, "x");
    fs::create_directories(cache.chopsDirectory() / (item.id.string() + "-chop-folder"));

    cache.removeChops(item);
    EXPECT_FALSE(fs::exists(cache.chopSampleURL(item, chop)));
    EXPECT_FALSE(fs::exists(cache.mirroredChopSampleURL(item, chop)));
    EXPECT_TRUE(fs::exists(cache.chopSampleURL(neighbour, chop)));
    EXPECT_TRUE(fs::is_directory(cache.chopsDirectory() / (item.id.string() + "-chop-folder")));

    EXPECT_TRUE(cache.hasEditedSample(item));
    cache.removeSampleFiles(item);
    EXPECT_FALSE(cache.hasEditedSample(item));
    EXPECT_FALSE(fs::exists(*cache.sampleURL(item)));
    EXPECT_FALSE(fs::exists(mirror() / "Samples/take.m4a"));
    EXPECT_FALSE(fs::exists(cache.mirroredEditedSampleURL(item)));
    EXPECT_TRUE(cache.hasEditedSample(neighbour));
    EXPECT_NO_THROW(cache.removeSampleFiles(item));
}

TEST_F(SampleCacheTest, LeftoverTemporariesAreSweptByTheirNamesOnly) {
    const std::string uuid = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const std::vector<fs::path> leftovers = {
        cache.rootURL() / ".vt-tmp-a1B2c3",
        cache.rootURL() / ".library.json.tmp-Xy12Zq", // the names earlier versions used
        cache.editedDirectory() / ("." + uuid + "-" + uuid + ".wav"),
        vt::temporaryFolderOf(cache.samplesDirectory()) / "Q1w2E3",
        vt::temporaryFolderOf(mirror() / "Samples") / "anything",
        cache.chopsDirectory() / ".vt-tmp-000000",
        mirror() / ".bridge-metadata.json.tmp-abcdef",
        mirror() / "Chops" / ".vt-tmp-ZZZZZZ",
    };
    const std::vector<fs::path> kept = {
        cache.rootURL() / ".vt-tmp-abc",              // too short
        cache.rootURL() / ".vt-tmp-abcdefg",          // too long
        cache.rootURL() / "vt-tmp-abcdef",            // not hidden
        cache.samplesDirectory() / "take.tmp-abcdef", // not hidden
        cache.samplesDirectory() / ".tmp-abcdef",     // no name before the marker
        cache.samplesDirectory() / (".take-" + uuid.substr(1)),
        cache.samplesDirectory() / (".take-" + std::string("0f8fad5b-d9cb-469f-a165-70867728950e")),
        cache.editedDirectory() / ".DS_Store",
        // In "Samples" the phone's own files may look like the temporaries of earlier versions.
        cache.samplesDirectory() / (".take.m4a-" + uuid),
        cache.samplesDirectory() / ".vt-tmp-AAAAAA",
    };
    for (const auto& path : leftovers)
        writeFile(path, "partial");
    for (const auto& path : kept)
        writeFile(path, "keep");
    fs::create_directories(cache.chopsDirectory() / ".vt-tmp-folder");
    fs::create_directories(cache.chopsDirectory() / ".vt-tmp-FOLDER");

    EXPECT_EQ(cache.removeLeftoverTemporaries(), leftovers.size());
    for (const auto& path : leftovers)
        EXPECT_FALSE(fs::exists(path)) << path;
    for (const auto& path : kept)
        EXPECT_EQ(read(path), "keep") << path;
    EXPECT_TRUE(fs::is_directory(cache.chopsDirectory() / ".vt-tmp-FOLDER"));
    EXPECT_FALSE(fs::exists(vt::temporaryFolderOf(cache.samplesDirectory())));
}

// What a crash leaves between rendering an edit and putting the render in place: at the next
// start the render waiting under the edit the overlay stores replaces the rendered edit; a render
// of any other edit goes; nothing is decided while the overlay cannot be read.
TEST_F(SampleCacheTest, ARenderWaitingForItsEditIsPutInPlaceOnlyWhenTheEditIsStored) {
    const SampleItem stored = sample("stored.wav"), unsaved = sample("unsaved.wav"),
                     gone = sample("gone.wav");
    BridgeSampleEdit edit; // stored with its start of 1 ms or less read back as 0
    edit.startTime = 0.0005;
    edit.fadeOut = 0.25;
    BridgeSampleEdit other;
    other.startTime = 0.5;
    BridgeMetadataMap overlay;
    overlay[stored.id].edit = edit;
    overlay[unsaved.id].edit = other;
    cache.saveLocalMetadata(overlay);
    writeFile(cache.editedSampleURL(stored), "old render");
    writeFile(cache.editedSampleURL(unsaved), "render of other");
    writeFile(cache.pendingEditedSampleURL(stored, edit), "new render");
    writeFile(cache.pendingEditedSampleURL(stored, other), "stale");
    writeFile(cache.pendingEditedSampleURL(unsaved, edit), "unsaved render");
    writeFile(cache.pendingEditedSampleURL(gone, edit), "render of a sample with no entry");

    writeFile(cache.metadataURL(), "{\"damaged");
    cache.loadLocalMetadata();
    EXPECT_EQ(cache.settlePendingEdits({}), 0u);
    cache.saveLocalMetadata(overlay);

    cache.removeLeftoverTemporaries(); // the start-up sweep runs first and leaves them
    EXPECT_EQ(cache.settlePendingEdits(cache.loadLocalMetadata()), 3u);
    EXPECT_EQ(read(cache.editedSampleURL(stored)), "new render");
    EXPECT_EQ(read(cache.editedSampleURL(unsaved)), "render of other");
    // The damaged file kept aside may hold the entry of the sample that has none: its render waits.
    EXPECT_EQ(read(cache.pendingEditedSampleURL(gone, edit)), "render of a sample with no entry");

    for (const auto& name : names(cache.rootURL()))
        if (name.starts_with("bridge-metadata") && name != "bridge-metadata.json")
            fs::remove(cache.rootURL() / name);
    EXPECT_EQ(cache.settlePendingEdits(cache.loadLocalMetadata()), 1u);
    std::vector<std::string> rendered{stored.id.string() + ".wav", unsaved.id.string() + ".wav"};
    std::sort(rendered.begin(), rendered.end());
    EXPECT_EQ(names(cache.editedDirectory()), rendered);

    // A reset holds the rendered edit back until it is stored: a crash before puts it back, one
    // after removes it.
    ASSERT_TRUE(cache.holdRenderedEdit(stored, edit));
    EXPECT_FALSE(cache.hasEditedSample(stored));
    ASSERT_TRUE(cache.holdRenderedEdit(unsaved, other));
    EXPECT_FALSE(cache.holdRenderedEdit(gone, edit)) << "no rendered edit to hold";
    overlay[unsaved.id].edit = BridgeSampleEdit();
    cache.saveLocalMetadata(overlay);
    EXPECT_EQ(cache.settlePendingEdits(cache.loadLocalMetadata()), 2u);
    EXPECT_EQ(names(cache.editedDirectory()), std::vector<std::string>{stored.id.string() + ".wav"});
    EXPECT_EQ(read(cache.editedSampleURL(stored)), "new render");
}

// The same for chops: a render waiting under a chop the overlay stores with the same times takes
// its place, and the sample's files of chops no longer stored go (library and mirror); a render of
// a chop with other times, of a sample not stored or of a deleted one goes.
TEST_F(SampleCacheTest, AChopRenderWaitingForItsChopIsPutInPlaceOnlyWhenTheChopIsStored) {
    const SampleItem stored = sample("stored.wav"), unsaved = sample("unsaved.wav"),
                     deleted = sample("deleted.wav");
    BridgeSampleChop kept{vt::Uuid::random(), 0, 0.1, 0.5, 1}, dropped{vt::Uuid::random(), 1, 0.5, 0.9, 1};
    BridgeSampleChop moved = kept;
    moved.startTime = 0.2;
    BridgeMetadataMap overlay;
    overlay[stored.id].chops = {kept};
    overlay[unsaved.id].chops = {kept};
    overlay[deleted.id].chops = {kept};
    overlay[deleted.id].isDeleted = true;
    cache.saveLocalMetadata(overlay);
    for (const auto& path :
         {cache.chopSampleURL(stored, kept), cache.chopSampleURL(stored, dropped),
          cache.mirroredChopSampleURL(stored, dropped), cache.chopSampleURL(unsaved, kept)})
        writeFile(path, "old render");
    writeFile(cache.pendingChopSampleURL(stored, kept), "new render");
    writeFile(cache.pendingChopSampleURL(unsaved, moved), "unsaved render");
    writeFile(cache.pendingChopSampleURL(deleted, kept), "render of a deleted sample");

    cache.removeLeftoverTemporaries();
    EXPECT_EQ(cache.settlePendingChops(cache.loadLocalMetadata()), 3u);
    EXPECT_EQ(read(cache.chopSampleURL(stored, kept)), "new render");
    EXPECT_EQ(read(cache.chopSampleURL(unsaved, kept)), "old render");
    // No entry names the dropped chop any more: like any such file, it stays.
    EXPECT_EQ(read(cache.chopSampleURL(stored, dropped)), "old render");
    std::vector<std::string> rendered{cache.chopSampleURL(stored, kept).filename().string(),
                                      cache.chopSampleURL(stored, dropped).filename().string(),
                                      cache.chopSampleURL(unsaved, kept).filename().string()};
    std::sort(rendered.begin(), rendered.end());
    EXPECT_EQ(names(cache.chopsDirectory()), rendered);

    // Placed by the import that stored them, the renders replace the chops it replaced, and only
    // those: a chop file no entry named (its entry lost with its file) stays.
    BridgeSampleChop unnamed{vt::Uuid::random(), 2, 0.6, 0.8, 1};
    writeFile(cache.chopSampleURL(unsaved, unnamed), "the user's chop");
    writeFile(cache.pendingChopSampleURL(unsaved, moved), "moved render");
    writeFile(cache.chopSampleURL(unsaved, dropped), "old render");
    writeFile(cache.mirroredChopSampleURL(unsaved, dropped), "old render");
    cache.placePendingChops(unsaved, {moved}, {kept, dropped});
    EXPECT_EQ(read(cache.chopSampleURL(unsaved, moved)), "moved render");
    EXPECT_FALSE(fs::exists(cache.chopSampleURL(unsaved, dropped)));
    EXPECT_FALSE(fs::exists(cache.mirroredChopSampleURL(unsaved, dropped)));
    EXPECT_EQ(read(cache.chopSampleURL(unsaved, unnamed)), "the user's chop");
}

// kill -9 in the middle of saves and mirror passes: no document or mirror copy is ever torn,
// and what is left behind is swept.
TEST_F(SampleCacheTest, AKilledSaveLeavesAWholeDocumentAndASweepableTemporary) {
    std::vector<SampleItem> samples;
    for (int i = 0; i < 3000; ++i)
        samples.push_back(sample("take-" + std::to_string(i) + ".m4a"));
    cache.saveManifest(samples);
    for (int round = 0; round < 3; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (;;)
                    cache.saveManifest(samples);
            } catch (...) {
            }
            _exit(1);
        }
        usleep(30000 + round * 7000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(cache.loadManifest().size(), samples.size());
    }

    // Two library folders hold the same names with different bytes; passes from each in turn
    // replace every mirror copy. Each copy is then missing or whole, one version or the other.
    std::vector<SampleItem> takes(samples.begin(), samples.begin() + 200);
    const std::string versionA(40000, 'a'), versionB(50000, 'b');
    BridgeSampleCache libraryA(paths, folder.path() / "A"), libraryB(paths, folder.path() / "B");
    for (const auto& take : takes) {
        writeFile(*libraryA.sampleURL(take), versionA);
        writeFile(*libraryB.sampleURL(take), versionB);
    }
    for (int round = 0; round < 3; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (;;) {
                    libraryA.mirrorFiles(takes, {});
                    libraryB.mirrorFiles(takes, {});
                }
            } catch (...) {
            }
            _exit(1);
        }
        usleep(40000 + round * 9000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        for (const auto& take : takes) {
            const std::string copy = read(cache.auMirrorSamplesDirectory() / take.fileName);
            EXPECT_TRUE(copy == "<missing>" || copy == versionA || copy == versionB)
                << take.fileName << " holds " << copy.size() << " bytes";
        }
    }
    cache.removeLeftoverTemporaries();
    for (const fs::path& folder : {cache.rootURL(), mirror(), cache.auMirrorSamplesDirectory()})
        for (const auto& name : names(folder))
            EXPECT_FALSE(name.starts_with(".")) << name;
}

// The longest names a folder can hold still download, mirror and copy.
TEST_F(SampleCacheTest, LongestLegalNamesDownloadMirrorAndCopy) {
    for (std::size_t length : {218u, 244u, 255u}) {
        SampleItem item = sample(std::string(length - 4, 'n') + ".wav");
        EXPECT_NO_THROW(cache.saveSampleData("data", item)) << length;
        EXPECT_EQ(read(*cache.sampleURL(item)), "data");
        fs::remove(cache.auMirrorSamplesDirectory() / item.fileName);
        EXPECT_NO_THROW(cache.mirrorLibrary({item}, {})) << length;
        EXPECT_EQ(read(cache.auMirrorSamplesDirectory() / item.fileName), "data");
    }
    BridgeSampleCache destination(paths, folder.path() / "Copy");
    EXPECT_NO_THROW(cache.copyLibrary(destination));
    EXPECT_EQ(names(destination.samplesDirectory()).size(), 3u);
}

// A file that cannot be copied is named, and every other file is still copied.
TEST_F(SampleCacheTest, MirrorAndCopyPassesGoOnPastAFailedFile) {
    SampleItem first = sample("first.wav");
    SampleItem blocked = sample("blocked.wav");
    SampleItem last = sample("last.wav");
    for (const auto* item : {&first, &blocked, &last})
        writeFile(*cache.sampleURL(*item), "data");
    fs::create_directories(cache.auMirrorSamplesDirectory() / "blocked.wav" / "inside");

    try {
        cache.mirrorLibrary({first, blocked, last}, {});
        ADD_FAILURE() << "the blocked file was not reported";
    } catch (const BridgeIncompleteCopyError& error) {
        EXPECT_EQ(error.failedFiles(), std::vector<std::string>{"blocked.wav"});
        EXPECT_NE(std::string(error.what()).find("blocked.wav"), std::string::npos) << error.what();
    }
    EXPECT_EQ(read(cache.auMirrorSamplesDirectory() / "first.wav"), "data");
    EXPECT_EQ(read(cache.auMirrorSamplesDirectory() / "last.wav"), "data");
    EXPECT_EQ(cache.loadManifest().size(), 3u);

    BridgeSampleCache destination(paths, folder.path() / "Copy");
    fs::create_directories(destination.samplesDirectory() / "first.wav" / "inside");
    writeFile(cache.editedSampleURL(first), "edited");
    try {
        cache.copyLibrary(destination);
        ADD_FAILURE() << "the blocked file was not reported";
    } catch (const BridgeIncompleteCopyError& error) {
        EXPECT_EQ(error.failedFiles(), std::vector<std::string>{"first.wav"});
    }
    EXPECT_EQ(read(destination.samplesDirectory() / "last.wav"), "data");
    EXPECT_EQ(read(destination.editedSampleURL(first)), "edited");
    EXPECT_EQ(read(destination.manifestURL()), read(cache.manifestURL()));
}

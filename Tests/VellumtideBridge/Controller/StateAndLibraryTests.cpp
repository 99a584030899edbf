// Start-up, settings, change notification, the display list and the overlay operations.

#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/FileSizeLimit.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

#include <cmath>

namespace vt::test {
namespace {

using Field = BridgeViewModel::Field;

TEST_F(ControllerTest, StartupSettingsAndEqualWritesNotify) {
    auto& m = start();
    EXPECT_DOUBLE_EQ(m.previewLevel(), 0.82);
    EXPECT_FALSE(m.isPreviewLooping());
    EXPECT_FALSE(settings->value(BridgeViewModel::previewLevelKey));
    EXPECT_TRUE(m.samples().empty());
    settleWrites(); // the start-up mirror pass runs off the main thread
    EXPECT_TRUE(std::filesystem::exists(libraryRoot() / "library.json"));
    EXPECT_TRUE(std::filesystem::exists(libraryRoot() / "bridge-metadata.json"));
    EXPECT_EQ(m.sampleFolderPath(), "~/Music/Vellumtide");
    EXPECT_TRUE(m.isUsingDefaultSampleFolder());

    record();
    m.setStatusMessage("Same");
    m.setStatusMessage("Same");
    m.setIsBrowsing(false);
    m.setPreviewLevel(-0.3);
    EXPECT_EQ(changes, (std::vector<Field>{Field::statusMessage, Field::statusMessage, Field::isBrowsing,
                                           Field::previewLevel}));
    EXPECT_DOUBLE_EQ(m.previewLevel(), -0.3);
    EXPECT_DOUBLE_EQ(settings->value(BridgeViewModel::previewLevelKey)->toDouble(), 0.0);
    m.setIsPreviewLooping(true);
    EXPECT_TRUE(settings->value(BridgeViewModel::previewLoopingKey)->toBool());

    // Observers run on equal writes too, and in-place changes notify like writes.
    settings->remove(BridgeViewModel::previewLoopingKey);
    m.setIsPreviewLooping(true);
    EXPECT_TRUE(settings->value(BridgeViewModel::previewLoopingKey));
    changes.clear();
    m.modifyChoppingSampleIDs([](auto&) {});
    m.stopPreview();
    EXPECT_EQ(changes,
              (std::vector<Field>{Field::choppingSampleIDs, Field::playingSampleID, Field::playingChopID,
                                  Field::previewCurrentTime, Field::previewDuration, Field::previewProgress,
                                  Field::statusMessage}));
    EXPECT_EQ(m.statusMessage(), "Watch waiting for iPhone");
}

TEST_F(ControllerTest, StoredPreviewLevelsOutOfRangeTextAndNaN) {
    settings->setValue(BridgeViewModel::previewLevelKey, 1.7);
    EXPECT_DOUBLE_EQ(start().previewLevel(), 1.7);
    model->setPreviewLevel(model->previewLevel());
    EXPECT_DOUBLE_EQ(settings->value(BridgeViewModel::previewLevelKey)->toDouble(), 1.0);
    model.reset();

    settings->setValue(BridgeViewModel::previewLevelKey, QStringLiteral("loud"));
    EXPECT_DOUBLE_EQ(start().previewLevel(), 0.82);
    model.reset();

    settings->setValue(BridgeViewModel::previewLevelKey, std::nan(""));
    EXPECT_DOUBLE_EQ(start().previewLevel(), 0.0);
}

TEST_F(ControllerTest, DisplayListLaysTheOverlayOverThePhonesRecords) {
    auto a = makeSample("a", 100), b = makeSample("b", 100), c = makeSample("c", 100),
         later = makeSample("later", 200);
    b.isFavorite = true;
    c.isChopEnabled = false;
    c.chops = {makeChop(0, 0, 1)};
    auto gone = makeSample("gone", 300);
    seedLibrary({a, b, c, later, gone});
    auto& m = start();
    BridgeSampleMetadata blank;
    blank.titleOverride = "   ";
    m.updateSampleMetadata(blank, a.id);
    BridgeSampleMetadata renamed;
    renamed.titleOverride = " New b ";
    renamed.favoriteOverride = false;
    renamed.chopSource = "phone";
    m.updateSampleMetadata(renamed, b.id);
    BridgeSampleMetadata tombstone;
    tombstone.isDeleted = true;
    m.updateSampleMetadata(tombstone, gone.id);

    auto shown = m.displaySamples(probe(m).librarySamples);
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].title, "later");
    EXPECT_EQ(shown[1].title, "a");
    EXPECT_EQ(shown[2].title, "New b");
    EXPECT_FALSE(shown[2].isFavorite);
    EXPECT_FALSE(shown[2].isChopEnabled);
    EXPECT_EQ(shown[3].title, "c");
    EXPECT_TRUE(shown[3].chops.empty());
    EXPECT_EQ(m.displayTitle(b), "New b");
}

TEST_F(ControllerTest, RenameAndFavouriteStoreOnlyOverrides) {
    auto phoneFavourite = makeSample("take", 100);
    phoneFavourite.isFavorite = true;
    seedLibrary({phoneFavourite});
    auto& m = start();

    m.renameSample(m.samples()[0], "  Kick  ");
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Renamed Kick");
    EXPECT_EQ(m.samples()[0].title, "Kick");
    m.setStatusMessage("other");
    m.renameSample(m.samples()[0], "Kick");
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "other");
    m.renameSample(m.samples()[0], " \n ");
    EXPECT_EQ(m.errorMessage(), "Sample names cannot be empty.");
    EXPECT_EQ(probe(m).sampleMetadata[phoneFavourite.id].titleOverride, "Kick");

    probe(m).sampleMetadata.clear();
    m.toggleFavorite(m.displaySamples(probe(m).librarySamples)[0]);
    settleWrites();
    EXPECT_EQ(probe(m).sampleMetadata[phoneFavourite.id].favoriteOverride, false);
    m.toggleFavorite(m.samples()[0]);
    settleWrites();
    EXPECT_FALSE(probe(m).sampleMetadata.count(phoneFavourite.id));
    EXPECT_EQ(readWholeFile(libraryRoot() / "bridge-metadata.json"), "{}");
}

// A failed write of the overlay is told and taken back, so that no later save stores it: not the
// next one, and not one queued while the failing one ran (which took the change along).
TEST_F(ControllerTest, FailedMetadataWriteIsNotReportedAsSuccessAndIsTakenBack) {
    auto take = makeSample("take", 100), other = makeSample("other", 90);
    seedLibrary({take, other});
    auto& m = start();
    settleWrites();
    const auto metadataFile = libraryRoot() / "bridge-metadata.json";
    std::filesystem::remove(metadataFile);
    std::filesystem::create_directory(metadataFile);
    m.renameSample(m.displaySamples({take})[0], "Snare");
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Metadata save failed");
    EXPECT_TRUE(m.errorMessage());
    EXPECT_EQ(m.displaySamples({take})[0].title, "take");
    EXPECT_FALSE(probe(m).sampleMetadata[take.id].titleOverride);

    std::filesystem::remove(metadataFile);
    const std::string longTitle(3000, 't');
    m.renameSample(m.displaySamples({take})[0], longTitle);
    settleWrites();
    ASSERT_EQ(m.statusMessage(), "Renamed " + longTitle);
    {
        // The first rename makes the file too large to write; the second, queued behind it, makes
        // it small again.
        FileSizeLimit fullDisk(std::filesystem::file_size(metadataFile) + 1000);
        m.renameSample(m.displaySamples({other})[0], std::string(2000, 'o'));
        m.renameSample(m.displaySamples({take})[0], "Kick");
        settleWrites();
    }
    EXPECT_EQ(m.statusMessage(), "Renamed Kick");
    const auto onDisk = BridgeSampleCache(paths, libraryRoot()).loadLocalMetadata();
    EXPECT_EQ(onDisk.at(take.id).titleOverride, "Kick");
    EXPECT_FALSE(onDisk.at(other.id).titleOverride) << "the failed rename was stored by the pass after it";
    EXPECT_FALSE(probe(m).sampleMetadata[other.id].titleOverride);
}

TEST_F(ControllerTest, DeleteLeavesATombstoneRemovesFilesAndRefusesBusySamples) {
    auto take = makeSample("take", 100);
    auto chop = makeChop(0, 0, 1);
    seedLibrary({take});
    writeFile(libraryRoot() / "Chops" / (take.id.string() + "-chop-" + chop.id.string() + ".wav"), "x");
    auto& m = start();
    BridgeSampleMetadata entry;
    entry.titleOverride = "Shown";
    entry.isFavorite = true;
    entry.chops = {chop};
    m.saveMetadata(entry, take.id);
    settleWrites();
    m.editSample(m.samples()[0]);

    m.modifyChoppingSampleIDs([&](auto& ids) { ids.insert(take.id); });
    m.deleteSample(m.samples()[0]);
    EXPECT_EQ(m.statusMessage(), "Sample is busy");
    EXPECT_EQ(m.errorMessage(), "Wait until the current edit or chop render finishes, then delete it.");
    EXPECT_EQ(m.samples().size(), 1u);
    m.modifyChoppingSampleIDs([&](auto& ids) { ids.clear(); });

    m.deleteSample(m.samples()[0]);
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Deleted Shown");
    EXPECT_TRUE(m.samples().empty());
    EXPECT_FALSE(m.editingSample());
    EXPECT_TRUE(probe(m).sampleMetadata[take.id].isDeleted);
    EXPECT_FALSE(probe(m).sampleMetadata[take.id].titleOverride);
    EXPECT_FALSE(std::filesystem::exists(libraryRoot() / "Samples" / take.fileName));
    EXPECT_TRUE(std::filesystem::is_empty(libraryRoot() / "Chops"));
    EXPECT_EQ(probe(m).librarySamples.size(), 1u);
    EXPECT_EQ(m.favoriteCount(), 0);
}

} // namespace
} // namespace vt::test

// Staging of dragged files: safe names, copies (never links) in the per-user data folder, reused
// per version and pruned with the library, the offered URL, and the chip a drag shows.

#include "Platform/Core/AtomicFile.h"
#include "Platform/Desktop/DragStaging.h"
#include "Platform/UI/FileDrag.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vt::ui {
namespace {

using vt::dragFileNameKeepingEnding;
using vt::DragSource;
using vt::DragSourcesInLibrary;
using vt::fileUriListLine;
using vt::pruneStagedDragFiles;
using vt::sanitizedDragFileName;
using vt::stageFileForDrag;
using vt::Uuid;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TemporaryFolder;
using test::writeFile;

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    static FileIdentity of(const fs::path& path) {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0)
            return {};
        return {info.st_dev, info.st_ino};
    }
};

class DragStagingTest : public ::testing::Test {
protected:
    fs::path libraryFile(const std::string& name, const std::string& bytes = "RIFF-take") {
        const fs::path file = folder / "library" / name;
        writeFile(file, bytes);
        return file;
    }

    std::optional<vt::StagedDragFile> stage(const fs::path& file, const QString& name,
                                            std::optional<Uuid> chop = std::nullopt) {
        return stageFileForDrag(store, DragSource{file, sample, chop}, name);
    }

    std::size_t stagedFileCount() const {
        std::size_t count = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator entry(store, error), end; !error && entry != end;
             entry.increment(error))
            count += entry->is_regular_file() ? 1 : 0;
        return count;
    }

    TemporaryFolder folder;
    fs::path store = folder / "data" / "vellumtide" / "drag";
    Uuid sample = Uuid::random();
};

std::size_t utf8Size(const QString& text) {
    return static_cast<std::size_t>(text.toUtf8().size());
}

TEST_F(DragStagingTest, NamesBecomeOneSafeComponentWithinTheByteLimitKeepingTheirExtension) {
    const fs::path source = "/library/Edited/2B1F.wav";
    EXPECT_EQ(sanitizedDragFileName(QStringLiteral("03 Bass Zoë A.wav"), source), "03 Bass Zoë A.wav");
    EXPECT_EQ(sanitizedDragFileName(QString::fromUtf16(u"a/b\0c.wav", 9), source), "a_b_c.wav");
    EXPECT_EQ(sanitizedDragFileName(QStringLiteral("/"), source), "_");
    for (const char* unusable : {"", ".", ".."})
        EXPECT_EQ(sanitizedDragFileName(QString::fromUtf8(unusable), source), "2B1F.wav") << unusable;

    // Two-byte and four-byte characters are never cut in half; the extension stays whole.
    const QString umlauts = QString(200, QChar(u'ü')) + QStringLiteral(".wav");
    const QString cutUmlauts = sanitizedDragFileName(umlauts, source);
    EXPECT_EQ(cutUmlauts, QString(125, QChar(u'ü')) + QStringLiteral(".wav"));
    QString faces;
    for (int index = 0; index < 100; ++index)
        faces += QString::fromUtf8("😀");
    const QString cutFaces = sanitizedDragFileName(faces + QStringLiteral(".aiff"), source);
    EXPECT_LE(utf8Size(cutFaces), 255u);
    EXPECT_GT(utf8Size(cutFaces), 250u);
    EXPECT_TRUE(cutFaces.endsWith(QStringLiteral("😀.aiff")));
    EXPECT_EQ(QString::fromUtf8(cutFaces.toUtf8()), cutFaces); // no half surrogate pair left

    // Exactly at the limit nothing changes; a long "extension" is cut as part of the name.
    const QString atLimit = QString(251, QLatin1Char('k')) + QStringLiteral(".wav");
    EXPECT_EQ(sanitizedDragFileName(atLimit, source), atLimit);
    const QString longTail = QStringLiteral("take.") + QString(300, QLatin1Char('x'));
    EXPECT_EQ(sanitizedDragFileName(longTail, source), longTail.left(255));

    // A long title gives way to what tells a sample's chops apart: each keeps its "-Chop NN" and
    // extension, and the title is cut at a whole character; staging keeps the name as it is.
    EXPECT_EQ(dragFileNameKeepingEnding(QStringLiteral("Kick loop"), QStringLiteral("-Chop 03.wav")),
              "Kick loop-Chop 03.wav");
    const QString longTitle = QString(125, QChar(u'ü'));
    const QString third = dragFileNameKeepingEnding(longTitle, QStringLiteral("-Chop 03.wav"));
    const QString fourth = dragFileNameKeepingEnding(longTitle, QStringLiteral("-Chop 04.wav"));
    EXPECT_EQ(third, QString(121, QChar(u'ü')) + QStringLiteral("-Chop 03.wav"));
    EXPECT_NE(third, fourth);
    EXPECT_EQ(sanitizedDragFileName(third, source), third);
    const QString facesThird = dragFileNameKeepingEnding(faces, QStringLiteral("-Chop 03.wav"));
    EXPECT_LE(utf8Size(facesThird), 255u);
    EXPECT_TRUE(facesThird.endsWith(QStringLiteral("😀-Chop 03.wav")));
    EXPECT_EQ(QString::fromUtf8(facesThird.toUtf8()), facesThird);
}

TEST_F(DragStagingTest, OfferedUrlsArePercentEncoded) {
    EXPECT_EQ(fileUriListLine("/tmp/a b/Zoë #1 100%.wav"),
              "file:///tmp/a%20b/Zo%C3%AB%20%231%20100%25.wav\r\n");
    EXPECT_EQ(fileUriListLine("/tmp/über.wav"), "file:///tmp/%C3%BCber.wav\r\n");
}

TEST_F(DragStagingTest, StagesAStandAloneCopyOncePerVersionThatAReceiverMayWriteInto) {
    const fs::path file = libraryFile("2B1F.wav");
    const auto staged = stage(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(staged);
    EXPECT_EQ(staged->path.filename(), "Zoë #1 100%.wav");
    EXPECT_EQ(staged->path.parent_path().parent_path(), store / sample.string() / "sample");
    EXPECT_NE(FileIdentity::of(staged->path).inode, FileIdentity::of(file).inode);
    EXPECT_EQ(readWholeFile(staged->path), "RIFF-take");
    EXPECT_EQ(staged->uriList, fileUriListLine(staged->path));
    EXPECT_TRUE(staged->uriList.endsWith("/Zo%C3%AB%20%231%20100%25.wav\r\n"));
    EXPECT_EQ(staged->plainText.toStdString(), staged->path.string());

    // The same version again (a drag cancelled or refused before) stages nothing new.
    const auto again = stage(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path, staged->path);
    EXPECT_EQ(stagedFileCount(), 1u);

    // A receiver that writes into the dropped file changes its own copy, not the library's; the
    // next drag gets the recording as it is, beside the changed file.
    writeFile(staged->path, "RIFF-overdub");
    EXPECT_EQ(readWholeFile(file), "RIFF-take");
    const auto afterWrite = stage(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(afterWrite);
    EXPECT_NE(afterWrite->path, staged->path);
    EXPECT_EQ(readWholeFile(afterWrite->path), "RIFF-take");
    EXPECT_EQ(readWholeFile(staged->path), "RIFF-overdub");

    // A new version (a rendered edit written again) is staged beside the old, which a project may
    // still use; nothing half-written is left behind.
    const auto oldVersion = afterWrite->path;
    writeFile(file, "RIFF-take-edited");
    fs::last_write_time(file, fs::last_write_time(file) + 1s);
    const auto edited = stage(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(edited);
    EXPECT_NE(edited->path.parent_path(), oldVersion.parent_path());
    EXPECT_EQ(readWholeFile(edited->path), "RIFF-take-edited");
    EXPECT_EQ(readWholeFile(oldVersion), "RIFF-take");
    EXPECT_EQ(stagedFileCount(), 3u);

    // Through a symbolic link, the file itself is staged.
    fs::create_symlink(file, folder / "library" / "alias.wav");
    const auto linked = stage(folder / "library" / "alias.wav", QStringLiteral("alias.wav"));
    ASSERT_TRUE(linked);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(linked->path)));
    EXPECT_EQ(readWholeFile(linked->path), "RIFF-take-edited");
}

// For a drag that must not wait (a host's loop runs it): the place is offered at once and the
// file written there on another thread, once however many drags ask for it meanwhile.
TEST_F(DragStagingTest, StagedInTheBackgroundAFileIsOfferedAtOnceAndWrittenWholeOnce) {
    const std::string bytes(8 << 20, 'k');
    const DragSource source{libraryFile("2B1F.wav", bytes), sample, std::nullopt};
    const auto first = vt::stageFileForDragInBackground(store, source, QStringLiteral("Kick.wav"));
    const auto second = vt::stageFileForDragInBackground(store, source, QStringLiteral("Kick.wav"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->path, first->path);
    ASSERT_TRUE(first->written.isValid());
    EXPECT_TRUE(first->written.result());
    // The second drag waits for the same write, or finds the file in place when it has ended.
    EXPECT_TRUE(!second->written.isValid() || second->written.result());
    EXPECT_EQ(readWholeFile(first->path), bytes);
    EXPECT_EQ(stagedFileCount(), 1u) << "no second copy, no temporary left";

    const auto later = vt::stageFileForDragInBackground(store, source, QStringLiteral("Kick.wav"));
    ASSERT_TRUE(later);
    EXPECT_EQ(later->path, first->path);
    EXPECT_FALSE(later->written.isValid()) << "staged before: nothing to wait for";
    EXPECT_FALSE(vt::stageFileForDragInBackground(store, {folder / "gone.wav", sample, std::nullopt},
                                                  QStringLiteral("gone.wav")));
}

TEST_F(DragStagingTest, NothingIsStagedForAMissingFileOrAFolder) {
    EXPECT_FALSE(stage(folder / "library" / "missing.wav", QStringLiteral("missing.wav")));
    fs::create_directories(folder / "library" / "Chops");
    EXPECT_FALSE(stage(folder / "library" / "Chops", QStringLiteral("Chops")));
    EXPECT_FALSE(stage({}, QStringLiteral("empty.wav")));
    EXPECT_FALSE(fileDragData(store, DragSource{folder / "library" / "missing.wav", sample, std::nullopt},
                              QStringLiteral("missing.wav")));
    EXPECT_FALSE(fs::exists(store));
}

TEST_F(DragStagingTest, CopiesWhenTheStoreIsOnAnotherFilesystem) {
    const fs::path file = libraryFile("2B1F.wav", std::string(70000, 'q'));
    if (!fs::is_directory("/dev/shm") || FileIdentity::of("/dev/shm").device == FileIdentity::of(file).device)
        GTEST_SKIP() << "no second filesystem (/dev/shm) to stage into";
    char pattern[] = "/dev/shm/vellumtide-drag-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    store = pattern;
    const auto staged = stage(file, QStringLiteral("take.wav"));
    ASSERT_TRUE(staged);
    EXPECT_EQ(staged->path.filename(), "take.wav");
    EXPECT_NE(FileIdentity::of(staged->path).device, FileIdentity::of(file).device);
    EXPECT_EQ(readWholeFile(staged->path), readWholeFile(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(staged->path.parent_path()), fs::directory_iterator()), 1);
    fs::remove_all(store);
}

TEST_F(DragStagingTest, PruningRemovesOnlyTheFilesOfSamplesAndChopsThatLeftTheLibrary) {
    const fs::path file = libraryFile("2B1F.wav");
    const Uuid keptChop = Uuid::random();
    const Uuid goneChop = Uuid::random();
    const auto whole = stage(file, QStringLiteral("take.wav"));
    const auto kept = stage(libraryFile("kept.wav"), QStringLiteral("take-Chop 01.wav"), keptChop);
    const auto gone = stage(libraryFile("gone.wav"), QStringLiteral("take-Chop 02.wav"), goneChop);
    const Uuid deleted = Uuid::random();
    const auto other =
        stageFileForDrag(store, DragSource{file, deleted, std::nullopt}, QStringLiteral("b.wav"));
    const Uuid neverSeen = Uuid::random();
    const auto unseen =
        stageFileForDrag(store, DragSource{file, neverSeen, std::nullopt}, QStringLiteral("c.wav"));
    ASSERT_TRUE(whole && kept && gone && other && unseen);
    // A link in the store is removed, never followed.
    const Uuid linked = Uuid::random();
    writeFile(folder / "elsewhere" / "keep.wav", "keep");
    fs::create_directory_symlink(folder / "elsewhere", store / linked.string());

    const DragSourcesInLibrary before{{sample, {keptChop, goneChop}}, {deleted, {}}, {linked, {}}};
    pruneStagedDragFiles(store, before, DragSourcesInLibrary{{sample, {keptChop}}});
    EXPECT_TRUE(fs::exists(whole->path));
    EXPECT_TRUE(fs::exists(kept->path));
    EXPECT_FALSE(fs::exists(gone->path.parent_path().parent_path()));
    EXPECT_FALSE(fs::exists(store / deleted.string()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(store / linked.string())));
    EXPECT_TRUE(fs::exists(folder / "elsewhere" / "keep.wav"));
    EXPECT_TRUE(fs::exists(unseen->path)) << "only what was seen to leave goes";

    pruneStagedDragFiles(store, DragSourcesInLibrary{{sample, {keptChop}}}, {});
    EXPECT_FALSE(fs::exists(store / sample.string()));
    EXPECT_EQ(readWholeFile(file), "RIFF-take"); // the library's own files stay
}

TEST(FileDragChip, IsACompactTranslucentChipWithTheHotSpotInside) {
    for (const double ratio : {1.0, 2.0}) {
        const QPixmap chip = fileDragChip("waveform", QString(200, QLatin1Char('W')) + QStringLiteral(".wav"),
                                          QColor(Qt::cyan), ratio);
        const QSizeF size = chip.deviceIndependentSize();
        EXPECT_LE(size.width(), fileDragChipMaximumSize.width());
        EXPECT_LE(size.height(), fileDragChipMaximumSize.height());
        EXPECT_GE(size.width(), fileDragChipMaximumSize.width() - 1); // a long title fills it
        const QImage image = chip.toImage();
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0); // rounded ends
        const int middleAlpha = qAlpha(image.pixel(image.width() / 2, 2 * static_cast<int>(ratio)));
        EXPECT_GT(middleAlpha, 0);
        EXPECT_LT(middleAlpha, 255);
        EXPECT_TRUE(QRectF(QPointF(), size).contains(fileDragChipHotSpot(chip)));
    }
    const QPixmap shortChip = fileDragChip("scissors", QStringLiteral("a.wav"), QColor(Qt::yellow));
    EXPECT_LT(shortChip.deviceIndependentSize().width(), 120);
}

} // namespace
} // namespace vt::ui

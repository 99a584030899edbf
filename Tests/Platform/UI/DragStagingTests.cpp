// Staging of dragged files: safe names, hard links and copies in the per-user cache, the sweep of
// day-old files, the offered URL, and the chip a drag shows.

#include "Platform/Core/AtomicFile.h"
#include "Platform/UI/DragStaging.h"
#include "Platform/UI/FileDrag.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vt::ui {
namespace {

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
    DragStagingTest() { useCache(folder / "cache"); }

    void useCache(const fs::path& cache) { setenv("XDG_CACHE_HOME", cache.c_str(), 1); }

    fs::path libraryFile(const std::string& name, const std::string& bytes = "RIFF-take") {
        const fs::path file = folder / "library" / name;
        writeFile(file, bytes);
        return file;
    }

    TemporaryFolder folder;
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
}

TEST_F(DragStagingTest, OfferedUrlsArePercentEncoded) {
    EXPECT_EQ(fileUriListLine("/tmp/a b/Zoë #1 100%.wav"),
              "file:///tmp/a%20b/Zo%C3%AB%20%231%20100%25.wav\r\n");
    EXPECT_EQ(fileUriListLine("/tmp/über.wav"), "file:///tmp/%C3%BCber.wav\r\n");
}

TEST_F(DragStagingTest, StagesAHardLinkUnderTheSuggestedNameInAFreshFolderEachTime) {
    const fs::path file = libraryFile("2B1F.wav");
    const auto staged = stageFileForDrag(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(staged);
    EXPECT_EQ(staged->path.filename(), "Zoë #1 100%.wav");
    EXPECT_EQ(staged->path.parent_path().parent_path(), folder / "cache" / "vellumtide" / "drag");
    EXPECT_EQ(FileIdentity::of(staged->path).inode, FileIdentity::of(file).inode);
    EXPECT_EQ(staged->uriList, fileUriListLine(staged->path));
    EXPECT_TRUE(staged->uriList.endsWith("/Zo%C3%AB%20%231%20100%25.wav\r\n"));
    EXPECT_EQ(staged->plainText.toStdString(), staged->path.string());

    const auto again = stageFileForDrag(file, QStringLiteral("Zoë #1 100%.wav"));
    ASSERT_TRUE(again);
    EXPECT_NE(again->path.parent_path(), staged->path.parent_path());
    EXPECT_EQ(readWholeFile(again->path), "RIFF-take");

    // Through a symbolic link, the file itself is staged.
    fs::create_symlink(file, folder / "library" / "alias.wav");
    const auto linked = stageFileForDrag(folder / "library" / "alias.wav", QStringLiteral("alias.wav"));
    ASSERT_TRUE(linked);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(linked->path)));
    EXPECT_EQ(readWholeFile(linked->path), "RIFF-take");
}

TEST_F(DragStagingTest, NothingIsStagedForAMissingFileOrAFolder) {
    EXPECT_FALSE(stageFileForDrag(folder / "library" / "missing.wav", QStringLiteral("missing.wav")));
    fs::create_directories(folder / "library" / "Chops");
    EXPECT_FALSE(stageFileForDrag(folder / "library" / "Chops", QStringLiteral("Chops")));
    EXPECT_FALSE(stageFileForDrag({}, QStringLiteral("empty.wav")));
    EXPECT_FALSE(fileDragData(folder / "library" / "missing.wav", QStringLiteral("missing.wav")));
}

TEST_F(DragStagingTest, CopiesWhenTheCacheIsOnAnotherFilesystem) {
    const fs::path file = libraryFile("2B1F.wav", std::string(70000, 'q'));
    if (!fs::is_directory("/dev/shm") || FileIdentity::of("/dev/shm").device == FileIdentity::of(file).device)
        GTEST_SKIP() << "no second filesystem (/dev/shm) to stage into";
    char pattern[] = "/dev/shm/vellumtide-drag-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const fs::path cache = pattern;
    useCache(cache);
    const auto staged = stageFileForDrag(file, QStringLiteral("take.wav"));
    ASSERT_TRUE(staged);
    EXPECT_EQ(staged->path.filename(), "take.wav");
    EXPECT_NE(FileIdentity::of(staged->path).device, FileIdentity::of(file).device);
    EXPECT_EQ(readWholeFile(staged->path), readWholeFile(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(staged->path.parent_path()), fs::directory_iterator()), 1);
    fs::remove_all(cache);
}

TEST_F(DragStagingTest, SweepRemovesOnlyStagedFilesOlderThanADay) {
    const fs::path file = libraryFile("2B1F.wav");
    const auto old = stageFileForDrag(file, QStringLiteral("old.wav"));
    const auto young = stageFileForDrag(file, QStringLiteral("young.wav"));
    ASSERT_TRUE(old && young);
    const auto now = std::chrono::system_clock::now();
    fs::last_write_time(old->path.parent_path(), std::chrono::file_clock::from_sys(now - 25h));
    fs::last_write_time(young->path.parent_path(), std::chrono::file_clock::from_sys(now - 23h));
    // A link to a folder elsewhere is never followed, however old.
    writeFile(folder / "elsewhere" / "keep.wav", "keep");
    const fs::path staging = dragStagingFolder();
    fs::create_directory_symlink(folder / "elsewhere", staging / "link");

    sweepStagedDragFiles(now);
    EXPECT_FALSE(fs::exists(old->path));
    EXPECT_FALSE(fs::exists(old->path.parent_path()));
    EXPECT_TRUE(fs::exists(young->path));
    EXPECT_TRUE(fs::exists(file));

    sweepStagedDragFiles(now + 48h);
    EXPECT_FALSE(fs::exists(young->path.parent_path()));
    EXPECT_TRUE(fs::exists(folder / "elsewhere" / "keep.wav"));
    EXPECT_EQ(readWholeFile(file), "RIFF-take"); // the library's own file stays
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

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Paths.h"
#include "Tests/Support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vt;
namespace fs = std::filesystem;

namespace {

size_t entryCount(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

} // namespace

TEST(AtomicFile, ReplacesWholeFileAndLeavesNoTemporary) {
    test::TemporaryFolder folder;
    auto target = folder / "library.json";
    writeFileAtomically(target, "first");
    writeFileAtomically(target, "second, longer");
    EXPECT_EQ(readWholeFile(target), "second, longer");
    EXPECT_EQ(entryCount(folder.path()), 1u);
}

TEST(AtomicFile, FailedWriteKeepsOldFileAndRemovesTemporary) {
    test::TemporaryFolder folder;
    fs::create_directories(folder / "blocked");
    // Renaming a file onto a non-empty folder fails, even as root.
    test::writeFile(folder / "blocked" / "inside", "x");
    EXPECT_THROW(writeFileAtomically(folder / "blocked", "data"), fs::filesystem_error);
    EXPECT_EQ(entryCount(folder.path()), 1u);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "file", "data"), fs::filesystem_error);
}

TEST(AtomicFile, PendingFileIsRemovedUnlessCommitted) {
    test::TemporaryFolder folder;
    fs::path temporary;
    {
        PendingFile pending(folder / "out.wav");
        temporary = pending.path();
        EXPECT_EQ(temporary.parent_path(), folder.path());
        EXPECT_TRUE(fs::exists(temporary));
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(folder / "out.wav"));

    // Written piece by piece, it appears whole at commit; a discard takes it away at once.
    {
        PendingFile pending(folder / "out.wav");
        pending.append("first ");
        pending.append("");
        pending.append("second");
        EXPECT_FALSE(fs::exists(folder / "out.wav"));
        pending.commit();
    }
    EXPECT_EQ(readWholeFile(folder / "out.wav"), "first second");
    {
        PendingFile pending(folder / "out.wav");
        pending.append("partial");
        pending.discard();
        EXPECT_FALSE(fs::exists(pending.path()));
        EXPECT_THROW(pending.append("more"), fs::filesystem_error);
    }
    EXPECT_EQ(readWholeFile(folder / "out.wav"), "first second");
    EXPECT_EQ(entryCount(folder.path()), 1u);
}

TEST(AtomicFile, RemovalTouchesRegularFilesOnly) {
    test::TemporaryFolder folder;
    fs::create_directories(folder / "dir");
    test::writeFile(folder / "file", "x");
    fs::create_symlink(folder / "file", folder / "link");
    EXPECT_FALSE(removeRegularFile(folder / "dir"));
    EXPECT_TRUE(fs::exists(folder / "dir"));
    EXPECT_FALSE(removeRegularFile(folder / "link"));
    EXPECT_TRUE(fs::exists(folder / "file"));
    EXPECT_TRUE(removeRegularFile(folder / "file"));
    EXPECT_FALSE(removeRegularFile(folder / "file"));
    EXPECT_EQ(readWholeFile(folder / "dir"), std::nullopt);
}

TEST(AtomicFile, SafeFileNamesAreSinglePathComponents) {
    EXPECT_TRUE(isSafeFileName("take 1.m4a"));
    EXPECT_TRUE(isSafeFileName("..hidden"));
    EXPECT_FALSE(isSafeFileName(""));
    EXPECT_FALSE(isSafeFileName("."));
    EXPECT_FALSE(isSafeFileName(".."));
    EXPECT_FALSE(isSafeFileName("../x"));
    EXPECT_FALSE(isSafeFileName("a/b"));
    EXPECT_FALSE(isSafeFileName(std::string_view("a\0b", 3)));
}

TEST(Paths, MusicFolderComesFromUserDirsFile) {
    test::TemporaryFolder folder;
    fs::path home = folder / "home", config = home / ".config";
    EXPECT_EQ(musicFolderFromUserDirs(home, config), home / "Music");
    test::writeFile(config / "user-dirs.dirs", "# comment\nXDG_MUSIC_DIR=\"$HOME/Audio Files\"\n");
    EXPECT_EQ(musicFolderFromUserDirs(home, config), home / "Audio Files");
    test::writeFile(config / "user-dirs.dirs", "XDG_MUSIC_DIR=\"/srv/music\"\n");
    EXPECT_EQ(musicFolderFromUserDirs(home, config), fs::path("/srv/music"));
    test::writeFile(config / "user-dirs.dirs", "XDG_MUSIC_DIR=\"relative\"\n");
    EXPECT_EQ(musicFolderFromUserDirs(home, config), home / "Music");
    test::writeFile(config / "user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/\"\n");
    EXPECT_EQ(musicFolderFromUserDirs(home, config), home / "Music");
}

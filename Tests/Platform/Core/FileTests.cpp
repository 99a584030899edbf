#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Paths.h"
#include "Tests/Support/TemporaryFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
        EXPECT_EQ(temporary.parent_path(), temporaryFolderOf(folder.path()));
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

namespace {

fs::perms permissionsOf(const fs::path& path) {
    return fs::symlink_status(path).permissions() & fs::perms::all;
}

// Sets the process's umask for one scope.
class Umask {
public:
    explicit Umask(mode_t mask) : previous(::umask(mask)) {}
    ~Umask() { ::umask(previous); }

private:
    mode_t previous;
};

} // namespace

TEST(Paths, WithoutARuntimeFolderTheFallbackIsOurOwnInTheTemporaryFolder) {
    EXPECT_EQ(fallbackRuntimeFolder("/tmp", 1000), fs::path("/tmp/vellumtide-1000"));
    test::TemporaryFolder folder;
    const char* saved[] = {std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR")};
    const std::string savedText[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : ""};
    ::setenv("TMPDIR", folder.path().c_str(), 1);
    for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/run"}) {
        if (runtime)
            ::setenv("XDG_RUNTIME_DIR", runtime, 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        const Paths paths = Paths::fromEnvironment();
        EXPECT_EQ(paths.runtime, folder / ("vellumtide-" + std::to_string(::getuid())));
        EXPECT_TRUE(paths.runtimeIsFallback);
    }
    ::setenv("XDG_RUNTIME_DIR", (folder / "run").c_str(), 1);
    EXPECT_EQ(Paths::fromEnvironment().runtime, folder / "run");
    EXPECT_FALSE(Paths::fromEnvironment().runtimeIsFallback);
    for (int i = 0; i < 2; ++i)
        if (saved[i])
            ::setenv(i == 0 ? "XDG_RUNTIME_DIR" : "TMPDIR", savedText[i].c_str(), 1);
        else
            ::unsetenv(i == 0 ? "XDG_RUNTIME_DIR" : "TMPDIR");
}

TEST(Paths, TheDataFolderIsAnAbsoluteXdgDataHomeElseTheHomesLocalShare) {
    test::TemporaryFolder folder;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedText = saved ? saved : "";
    for (const char* data : {static_cast<const char*>(nullptr), "", "relative/share"}) {
        if (data)
            ::setenv("XDG_DATA_HOME", data, 1);
        else
            ::unsetenv("XDG_DATA_HOME");
        const Paths paths = Paths::fromEnvironment();
        EXPECT_EQ(paths.data, paths.home / ".local" / "share");
    }
    ::setenv("XDG_DATA_HOME", (folder / "share").c_str(), 1);
    EXPECT_EQ(Paths::fromEnvironment().data, folder / "share");
    EXPECT_EQ(Paths::underRoot(folder.path()).data, folder / "home" / ".local" / "share");
    if (saved)
        ::setenv("XDG_DATA_HOME", savedText.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

TEST(PrivateFolder, IsMadeOwnerOnlyAndCheckedBeforeUse) {
    test::TemporaryFolder folder;
    {
        Umask strict(0277); // a umask that would leave the owner without write access
        EXPECT_EQ(preparePrivateFolder(folder / "fresh", FolderAccess::ownerOnly), "");
    }
    EXPECT_EQ(permissionsOf(folder / "fresh"), fs::perms::owner_all);
    EXPECT_EQ(preparePrivateFolder(folder / "fresh", FolderAccess::ownerOnly), "") << "and used again";

    // A link to a private folder of ours is still refused: it could be swapped for anything.
    fs::create_directory_symlink(folder / "fresh", folder / "link");
    EXPECT_NE(preparePrivateFolder(folder / "link", FolderAccess::ownerOnly).find("symbolic link"),
              std::string::npos);

    // A folder with other access is refused and left as it is.
    fs::create_directory(folder / "loose");
    fs::permissions(folder / "loose", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(preparePrivateFolder(folder / "loose", FolderAccess::ownerOnly),
              (folder / "loose").string() + " has mode 0750, not 0700");
    EXPECT_EQ(permissionsOf(folder / "loose"),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(preparePrivateFolder(folder / "loose", FolderAccess::noOtherWriters), "")
        << "a session's folder only has to keep other writers out";
    fs::permissions(folder / "loose", fs::perms::all);
    EXPECT_NE(preparePrivateFolder(folder / "loose", FolderAccess::noOtherWriters).find("other users"),
              std::string::npos);
    EXPECT_EQ(permissionsOf(folder / "loose"), fs::perms::all);

    test::writeFile(folder / "file", "x");
    EXPECT_NE(preparePrivateFolder(folder / "file", FolderAccess::ownerOnly).find("not a folder"),
              std::string::npos);

    // Another user's folder is refused, however private, and never changed.
    if (::geteuid() == 0) {
        fs::create_directory(folder / "theirs");
        fs::permissions(folder / "theirs", fs::perms::owner_all | fs::perms::others_read);
        ASSERT_EQ(::chown((folder / "theirs").c_str(), 65534, 65534), 0);
        EXPECT_NE(preparePrivateFolder(folder / "theirs", FolderAccess::ownerOnly).find("another user"),
                  std::string::npos);
        struct stat info {};
        ASSERT_EQ(::stat((folder / "theirs").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_mode & 07777, 0704u);
    }
}

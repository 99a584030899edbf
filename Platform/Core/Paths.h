#pragma once
// The folders the programs work in: home, Music, runtime, temporary, configuration and data.
// Injected everywhere so tests never touch the real home folder.

#include <filesystem>
#include <string>

namespace vt {

struct Paths {
    std::filesystem::path home;
    std::filesystem::path music;
    std::filesystem::path runtime;
    std::filesystem::path temp;
    std::filesystem::path config;
    std::filesystem::path data; // the user's own files that are no cache ($XDG_DATA_HOME)
    // True when runtime is our own folder in the temporary folder ($XDG_RUNTIME_DIR is unset),
    // which must then be owner-only to be used.
    bool runtimeIsFallback = false;

    // The current user's folders, from $HOME, $XDG_CONFIG_HOME, the XDG user-dirs file,
    // $XDG_RUNTIME_DIR (else fallbackRuntimeFolder), $TMPDIR (else /tmp) and $XDG_DATA_HOME
    // (else home/.local/share).
    static Paths fromEnvironment();
    // Every folder below one root, for tests: root/home, root/home/Music, root/run, root/tmp,
    // root/home/.config, root/home/.local/share.
    static Paths underRoot(const std::filesystem::path& root);
};

// XDG_MUSIC_DIR from "<configHome>/user-dirs.dirs", with "$HOME" expanded; home/"Music" when
// the file is missing, unreadable or does not name an absolute folder.
std::filesystem::path musicFolderFromUserDirs(const std::filesystem::path& home,
                                              const std::filesystem::path& configHome);

// The runtime folder of a session without $XDG_RUNTIME_DIR: <temp>/vellumtide-<uid>.
std::filesystem::path fallbackRuntimeFolder(const std::filesystem::path& temp, unsigned int uid);

// Who may use a private folder besides its owner.
enum class FolderAccess {
    noOtherWriters, // a folder the session made for us: nobody else may write to it
    ownerOnly,      // a folder of our own in a shared place: mode exactly 0700
};

// Makes the folder (mode 0700, its parents as usual) when it is missing, then checks it before
// use: a directory, not a symbolic link, owned by this user, with the access the rule allows.
// An existing folder is never changed. Returns an empty text when the folder may be used, else
// why not, in words a person can act on.
std::string preparePrivateFolder(const std::filesystem::path& folder, FolderAccess access);

} // namespace vt

#pragma once
// The folders the programs work in: home, Music, runtime, temporary and configuration.
// Injected everywhere so tests never touch the real home folder.

#include <filesystem>

namespace vt {

struct Paths {
    std::filesystem::path home;
    std::filesystem::path music;
    std::filesystem::path runtime;
    std::filesystem::path temp;
    std::filesystem::path config;

    // The current user's folders, from $HOME, $XDG_CONFIG_HOME, the XDG user-dirs file,
    // $XDG_RUNTIME_DIR and $TMPDIR.
    static Paths fromEnvironment();
    // Every folder below one root, for tests: root/home, root/home/Music, root/run, root/tmp,
    // root/home/.config.
    static Paths underRoot(const std::filesystem::path& root);
};

// XDG_MUSIC_DIR from "<configHome>/user-dirs.dirs", with "$HOME" expanded; home/"Music" when
// the file is missing, unreadable or does not name an absolute folder.
std::filesystem::path musicFolderFromUserDirs(const std::filesystem::path& home,
                                              const std::filesystem::path& configHome);

} // namespace vt

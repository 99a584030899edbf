#pragma once
// What the library reader needs to know about the user's folders to find the library: the home
// folder as this process sees it, the account's own home, the Music folder and the user name.
// Injected so that tests point it at a temporary folder.

#include <filesystem>
#include <optional>
#include <string>

struct LibraryEnvironment {
    // The folder that holds the users' real home folders, one per user name.
    std::filesystem::path homesFolder = "/home";
    // $HOME as this process sees it; a confined host may point it into its own data folder.
    std::filesystem::path home;
    // The account's home folder from the password database.
    std::filesystem::path accountHome;
    // The Music folder from the XDG user-dirs file; nothing when it could not be looked up.
    std::optional<std::filesystem::path> musicFolder;
    // $USER, when set.
    std::optional<std::string> userName;

    // The current process's values.
    static LibraryEnvironment fromProcess();
};

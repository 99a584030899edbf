#pragma once
// What the library reader needs to know about the user's folders to find the library: the home
// folder as this process sees it, the account's own home, the Music folder and the user name.
// Injected so that tests point it at a temporary folder.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

struct LibraryEnvironment {
    // The account's entry in the password database: its name and home folder.
    struct AccountEntry {
        std::string name;
        std::filesystem::path home;
    };
    // Looks up the current user's entry; nothing when there is none.
    using AccountLookup = std::function<std::optional<AccountEntry>()>;

    // The folder that holds the users' home folders, one per user name.
    std::filesystem::path homesFolder = "/home";
    // $HOME as this process sees it (the account's home when $HOME is unset); a confined host
    // may point it into its own data folder.
    std::filesystem::path home;
    // The account's home folder from the password database.
    std::filesystem::path accountHome;
    // The Music folder from the XDG user-dirs file; nothing when it could not be looked up.
    std::optional<std::filesystem::path> musicFolder;
    // $USER, else the account's name.
    std::optional<std::string> userName;

    // The current process's values; the account comes from the lookup (getpwuid by default).
    static LibraryEnvironment fromProcess(const AccountLookup& lookupAccount = currentAccount);
    // The password database's entry of the real user id.
    static std::optional<AccountEntry> currentAccount();
};
